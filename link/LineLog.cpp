#include "link/LineLog.h"

#include "audit/Chain.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

LineLog::LineLog(QString programFolder, ErrorReport reportError, Clock clock)
    : programFolder_(std::move(programFolder)), reportError_(std::move(reportError)), clock_(std::move(clock))
{
    if (!clock_)
        clock_ = audit::localNow;
}

LineLog::~LineLog()
{
    if (fd_ >= 0)
        ::close(fd_);
}

QString LineLog::folder(const QString& programFolder) { return audit::archiveFolder(programFolder); }

QString LineLog::dayFile(const QString& programFolder, const QDate& day)
{
    return QDir(folder(programFolder)).filePath(QStringLiteral("line-%1.jsonl").arg(day.toString(Qt::ISODate)));
}

QByteArray LineLog::line(const QDateTime& time, Direction direction, const QByteArray& bytes)
{
    return "{\"time\":\"" + time.toString(Qt::ISODateWithMs).toLatin1() + "\",\"dir\":\""
           + (direction == Direction::In ? QByteArray("in") : QByteArray("out")) + "\",\"bytes\":\""
           + bytes.toBase64() + "\"}\n";
}

bool LineLog::openDay(const QDate& day)
{
    if (fd_ >= 0 && day == day_)
        return true;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    QDir().mkpath(folder(programFolder_));
    const QByteArray path = QFile::encodeName(dayFile(programFolder_, day));
    // O_NOFOLLOW and O_NONBLOCK: a link or pipe left in its place is not followed or waited on.
    fd_ = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    day_ = day;
    return fd_ >= 0;
}

void LineLog::record(Direction direction, const char* bytes, int n)
{
    if (n <= 0)
        return;
    const QDateTime now = clock_();
    const QByteArray text = line(now, direction, QByteArray(bytes, n));
    bool written = openDay(now.date());
    if (written) {
        // One write per line, appended: a line is whole or absent even beside another writer.
        const ssize_t w = ::write(fd_, text.constData(), static_cast<size_t>(text.size()));
        written = w == text.size();
    }
    if (!written && !failing_ && reportError_)
        reportError_(QStringLiteral("Cannot write the line log %1: %2")
                         .arg(dayFile(programFolder_, now.date()), QString::fromLocal8Bit(std::strerror(errno))));
    failing_ = !written;
}

int LineLog::prune(int keepDays, const QDate& today)
{
    const QDate oldest = today.addDays(-keepDays);
    int removed = 0;
    const QDir dir(folder(programFolder_));
    for (const QString& name : dir.entryList({QStringLiteral("line-*.jsonl")}, QDir::Files)) {
        const QDate day = QDate::fromString(name.mid(5, 10), Qt::ISODate);
        if (day.isValid() && day < oldest && QFile::remove(dir.filePath(name)))
            ++removed;
    }
    return removed;
}

int LineLog::keepDays(const QString& setting, QString* problem)
{
    const QString text = setting.trimmed();
    if (text.isEmpty())
        return kDefaultDays;
    bool ok = false;
    const int days = text.toInt(&ok);
    if (ok && days >= 30)
        return days;
    if (problem)
        *problem = QStringLiteral("ArchiveDays=%1 in set.ini is not a whole number of at least 30 days: %2 days are kept.")
                       .arg(setting)
                       .arg(kDefaultDays);
    return kDefaultDays;
}
