#include "link/CaptureFiles.h"

#include "audit/Chain.h"
#include "platform/RegularFile.h"
#include "platform/durable/DurableIo.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace capture {

namespace {

const QString kLatest = QStringLiteral("Temp.log");

// The number of a numbered capture file name, if it is one.
std::optional<std::uint64_t> numberOf(const QString& name)
{
    if (!name.startsWith(QLatin1String("Temp-")) || !name.endsWith(QLatin1String(".log")))
        return std::nullopt;
    const QStringView digits = QStringView(name).mid(5, name.size() - 9);
    // Real numbers stay far below 17 digits; a name beyond that is not ours and must not push
    // the sequence to where its successors could no longer be named.
    if (digits.isEmpty() || digits.size() > 17)
        return std::nullopt;
    std::uint64_t n = 0;
    for (QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c.unicode() - '0');
    }
    return n;
}

QString numberedName(std::uint64_t n)
{
    return QStringLiteral("Temp-%1.log").arg(n, 8, 10, QLatin1Char('0'));
}

struct FolderState {
    bool latestWaiting = false;
    std::vector<std::pair<std::uint64_t, QString>> numbered;
};

FolderState scan(const QString& folder)
{
    FolderState state;
    // Every kind of entry counts: a directory named like a capture file must not be written over.
    // Read with readdir: the import lists the folder at every pass, and a listing that sorts
    // and stats every entry costs more than the rest of finding the files.
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(QFile::encodeName(folder).constData()), ::closedir);
    if (!dir)
        return state;
    while (const dirent* entry = ::readdir(dir.get())) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name == kLatest)
            state.latestWaiting = true;
        else if (auto n = numberOf(name))
            state.numbered.emplace_back(*n, name);
    }
    std::sort(state.numbered.begin(), state.numbered.end());
    return state;
}

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// Creates a new file exclusively, fills it and flushes it; false with errno kept when it cannot,
// and then nothing is left behind.
bool createExclusive(const QString& path, const QByteArray& bytes)
{
    const int fd = durable::openForWrite(path, O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0)
        return false;
    const bool ok = durable::writeAll(fd, path, bytes.constData(), bytes.size()) && durable::sync(fd, path);
    const int err = errno;
    ::close(fd);
    if (!ok) {
        ::unlink(QFile::encodeName(path).constData());
        errno = err;
    }
    return ok;
}

// Puts something into rejected/ under a free name made from baseName. place() claims the name
// exclusively (creating or renaming without replacing), so two threads rejecting at once cannot
// take the same one; it returns false with errno EEXIST when the name is taken.
QString claimRejected(const QString& programFolder, const QString& baseName,
                      const std::function<bool(const QString&)>& place, QString* error)
{
    const QString folder = rejectedFolder(programFolder);
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("Cannot create folder %1").arg(folder);
        return {};
    }
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    for (int attempt = 0; attempt < 1000; ++attempt) {
        QString name = stamp + QLatin1Char('-') + baseName;
        if (attempt > 0)
            name += QStringLiteral(".%1").arg(attempt);
        const QString path = folder + name;
        if (place(path))
            return path;
        if (errno != EEXIST) {
            if (error)
                *error = QStringLiteral("Cannot put %1 into %2: %3").arg(baseName, folder, errnoText(errno));
            return {};
        }
    }
    if (error)
        *error = QStringLiteral("No free name for %1 in %2").arg(baseName, folder);
    return {};
}

bool writeReason(const QString& keptPath, const QString& reason, QString* error)
{
    return writeWhole(keptPath + QStringLiteral(".error.txt"), reason.toUtf8() + '\n', error);
}

} // namespace

QString tempFolder(const QString& programFolder) { return programFolder + QStringLiteral("Temp/"); }

QString rejectedFolder(const QString& programFolder)
{
    return tempFolder(programFolder) + QStringLiteral("rejected/");
}

QString importedFolder(const QString& programFolder)
{
    return tempFolder(programFolder) + QStringLiteral("imported/");
}

QString timesFile(const QString& capturePath) { return capturePath + QStringLiteral(".times"); }

QByteArray timesText(const QDateTime& enq, const QDateTime& end, const QByteArray& bytes)
{
    auto time = [](const QDateTime& t) {
        return t.isValid() ? '"' + audit::timeText(t).toLatin1() + '"' : QByteArray("null");
    };
    return "{\"enq\":" + time(enq) + ",\"end\":" + time(end) + ",\"sha256\":\""
           + audit::sha256Hex(bytes) + "\"}\n";
}

bool readTimes(const QString& capturePath, const QByteArray& bytes, QDateTime* enq, QDateTime* end)
{
    *enq = *end = QDateTime();
    QByteArray text;
    QString error;
    if (regularfile::readWhole(timesFile(capturePath), 4096, &text, &error) != regularfile::Read::Done)
        return false;
    const QJsonObject o = QJsonDocument::fromJson(text).object();
    if (o.value(QLatin1String("sha256")).toString().toLatin1()
        != audit::sha256Hex(bytes))
        return false;
    *enq = QDateTime::fromString(o.value(QLatin1String("enq")).toString(), Qt::ISODateWithMs);
    *end = QDateTime::fromString(o.value(QLatin1String("end")).toString(), Qt::ISODateWithMs);
    return true;
}

bool setImported(const QString& programFolder, const QString& path)
{
    // A name of its own in imported/: renaming over an older file would free that file's blocks
    // here and now, the very cost this move puts off. The run's start and process number set
    // this run's names apart from an earlier run's.
    static const QString run = QStringLiteral(".%1.%2.").arg(QDateTime::currentMSecsSinceEpoch()).arg(::getpid());
    static std::atomic<unsigned> counter{0};
    if (!durable::rename(path, importedFolder(programFolder) + QFileInfo(path).fileName() + run
                                   + QString::number(counter.fetch_add(1)),
                         true))
        return false;
    ::unlink(QFile::encodeName(timesFile(path)).constData());
    return true;
}

int removeImported(const QString& programFolder)
{
    const QString folder = importedFolder(programFolder);
    int left = 0;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (!durable::remove(folder + name))
            ++left;
    return left;
}

QStringList waitingFiles(const QString& programFolder)
{
    const QString folder = tempFolder(programFolder);
    const FolderState state = scan(folder);
    QStringList out;
    // Temp.log is looked for after the listing, not in it: one that exists now was written
    // before every numbered file that exists now (it is only written into an empty folder, and
    // only this side removes files), so putting it first is right even when it arrived while
    // the folder was being listed.
    // Looked at without following a link: a link to nothing is waiting too, to be set aside.
    struct stat st {};
    if (::lstat(QFile::encodeName(folder + kLatest).constData(), &st) == 0)
        out.append(folder + kLatest);
    for (const auto& entry : state.numbered)
        out.append(folder + entry.second);
    return out;
}

bool writeWhole(const QString& path, const QByteArray& bytes, QString* error)
{
    // One temporary name per process and call, so concurrent writers never share one.
    static std::atomic<unsigned> counter{0};
    const QFileInfo info(path);
    const QString tmp = info.absolutePath() + QStringLiteral("/.%1.%2.%3.part")
                                                  .arg(info.fileName())
                                                  .arg(::getpid())
                                                  .arg(counter.fetch_add(1));
    // Content on disk first, then the name: a crash leaves either no file or the whole one.
    if (!createExclusive(tmp, bytes)) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(tmp, errnoText(errno));
        return false;
    }
    if (!durable::rename(tmp, path)) {
        const int err = errno;
        ::unlink(QFile::encodeName(tmp).constData());
        if (error)
            *error = QStringLiteral("Cannot rename %1 to %2: %3").arg(tmp, path, errnoText(err));
        return false;
    }
    // The rename itself must survive a crash before the sender is told the message is kept. When
    // it cannot be made durable the file stays (it is whole) but the caller hears of the failure.
    if (!durable::syncFolder(info.absolutePath())) {
        if (error)
            *error = QStringLiteral("Cannot flush folder %1: %2").arg(info.absolutePath(), errnoText(errno));
        return false;
    }
    return true;
}

QString keepRejected(const QString& programFolder, const QString& baseName,
                     const QByteArray& bytes, const QString& reason, QString* error)
{
    const QString kept = claimRejected(
        programFolder, baseName, [&](const QString& target) { return createExclusive(target, bytes); },
        error);
    if (kept.isEmpty() || !writeReason(kept, reason, error))
        return {};
    return kept;
}

QString moveToRejected(const QString& programFolder, const QString& path, const QString& reason,
                       QString* error)
{
    const QString kept = claimRejected(
        programFolder, QFileInfo(path).fileName(),
        [&](const QString& target) { return durable::rename(path, target, true); }, error);
    if (kept.isEmpty() || !writeReason(kept, reason, error))
        return {};
    ::unlink(QFile::encodeName(timesFile(path)).constData());
    return kept;
}

CaptureWriter::CaptureWriter(QString programFolder) : programFolder_(std::move(programFolder))
{
    // Temporary files of a writer killed before its rename are never anyone's message; they are
    // named after their process, so those of processes that are gone can go.
    const QString folder = tempFolder(programFolder_);
    const QStringList parts = QDir(folder).entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden);
    for (const QString& name : parts) {
        const QStringList pieces = name.split(QLatin1Char('.'));
        bool ok = false;
        const qint64 pid = pieces.size() >= 4 ? pieces[pieces.size() - 3].toLongLong(&ok) : 0;
        if (ok && pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            QFile::remove(folder + name);
    }
    // Times written for a capture a crash kept from being renamed into place.
    for (const QString& name : QDir(folder).entryList({QStringLiteral("Temp*.log.times")}, QDir::Files)) {
        struct stat st {};
        if (::lstat(QFile::encodeName(folder + name.chopped(6)).constData(), &st) != 0 && errno == ENOENT)
            QFile::remove(folder + name);
    }
}

QString CaptureWriter::write(const QByteArray& bytes, QString* error, const QByteArray& times)
{
    const QString folder = tempFolder(programFolder_);
    const FolderState state = scan(folder);
    QString target;
    if (!state.latestWaiting && state.numbered.empty()) {
        target = folder + kLatest;
    } else {
        if (!state.numbered.empty())
            nextNumber_ = std::max(nextNumber_, state.numbered.back().first + 1);
        target = folder + numberedName(nextNumber_);
    }
    if (!times.isEmpty()) {
        // Written over whatever an earlier capture of that name left; its hash says whose it is.
        // Not a durable write: nothing waits on it, and the capture's folder sync carries its name.
        const int fd = ::open(QFile::encodeName(timesFile(target)).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd >= 0) {
            if (::write(fd, times.constData(), size_t(times.size())) != times.size())
                qWarning("Receiver: the times of a capture are not kept: %s", std::strerror(errno));
            ::close(fd);
        }
    }
    if (!writeWhole(target, bytes, error))
        return {};
    if (target != folder + kLatest)
        ++nextNumber_;
    return target;
}

} // namespace capture
