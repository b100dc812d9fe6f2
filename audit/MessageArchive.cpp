#include "audit/MessageArchive.h"

#include "audit/ChangeHistory.h"
#include "platform/durable/DurableIo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace audit {

QByteArray ReceivedMessage::captureKey() const
{
    return sha256Hex(bytes + '|' + (enq.isValid() ? timeText(enq).toLatin1() : QByteArray()));
}

QByteArray identityJson(const Identity& identity) { return valuesJson(identity); }

QByteArray identityId(const Identity& identity) { return sha256Hex(identityJson(identity)); }

struct MessageArchive::Index {
    QHash<QByteArray, int> records;    // identity id -> the last record it became
    QSet<QByteArray> captures;
    QHash<QString, qint64> scanned;    // day file -> bytes read (whole lines only)
    QString newestScanned;

    void take(QByteArrayView line)
    {
        if (shortKey(line, "\"kind\":") != "message")
            return;
        const QByteArrayView capture = shortKey(line, "\"capture\":");
        if (capture.size() == 64)
            captures.insert(capture.toByteArray());
        const QByteArrayView outcome = shortKey(line, "\"outcome\":");
        if (outcome != "stored" && outcome != "resend")
            return;
        const QByteArrayView id = shortKey(line, "\"id\":");
        bool ok = false;
        const int record = shortKey(line, "\"record\":").toInt(&ok);
        if (id.size() == 64 && ok && record > 0)
            records.insert(id.toByteArray(), record);
    }

    // Reads the whole lines of path past what was read before.
    void read(const QString& path)
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            return;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return;
        }
        qint64& at = scanned[path];
        if (st.st_size < at)
            at = 0;  // replaced by a shorter file: read again (an identity found twice is harmless)
        QByteArray buffer;
        qint64 offset = at;
        for (;;) {
            const qsizetype old = buffer.size();
            buffer.resize(old + (1 << 20));
            ssize_t n;
            do
                n = ::pread(fd, buffer.data() + old, 1 << 20, off_t(offset));
            while (n < 0 && errno == EINTR);
            buffer.resize(old + std::max<ssize_t>(n, 0));
            if (n <= 0)
                break;
            offset += n;
            qsizetype start = 0;
            for (qsizetype nl; (nl = buffer.indexOf('\n', start)) >= 0; start = nl + 1)
                take(QByteArrayView(buffer).sliced(start, nl - start));
            at += start;
            buffer.remove(0, start);
            // A line longer than an entry can be is nobody's message: skipped.
            if (buffer.size() > kMaxLine) {
                at += buffer.size();
                buffer.clear();
            }
        }
        ::close(fd);
    }
};

MessageArchive::MessageArchive(QString programFolder, Chain::Clock clock)
    : chain_(std::move(programFolder), QStringLiteral("messages"), std::move(clock)), index_(std::make_unique<Index>())
{
}

MessageArchive::~MessageArchive() = default;

void MessageArchive::catchUp()
{
    // Only the newest file read before and those after it can have grown: appends go to the
    // newest file.
    const QStringList files = chain_.files();
    // A day file gone behind our back (removed by hand, the folder put back from a copy): what
    // it held can no longer recognise anything, so the index is read anew.
    const QSet<QString> present(files.begin(), files.end());
    if (std::any_of(index_->scanned.keyBegin(), index_->scanned.keyEnd(),
                    [&](const QString& f) { return !present.contains(f); }))
        *index_ = Index{};
    for (const QString& f : files)
        if (index_->newestScanned.isEmpty() || f >= index_->newestScanned)
            index_->read(f);
    if (!files.isEmpty())
        index_->newestScanned = files.last();
}

int MessageArchive::recordOf(const QByteArray& id)
{
    catchUp();
    return index_->records.value(id, 0);
}

bool MessageArchive::archived(const QByteArray& captureKey)
{
    catchUp();
    return index_->captures.contains(captureKey);
}

JsonLine MessageArchive::entry(const ReceivedMessage& m, Outcome outcome, const Identity& identity, int record,
                               const QString& reason, const QByteArray& captureKey)
{
    JsonLine line;
    line.add("kind", QStringLiteral("message"));
    line.add("outcome", outcome == Outcome::Stored   ? QStringLiteral("stored")
                        : outcome == Outcome::Resend ? QStringLiteral("resend")
                                                     : QStringLiteral("rejected"));
    if (record > 0)
        line.add("record", record);
    else
        line.addNull("record");
    const QByteArray json = identity.isEmpty() ? QByteArray() : identityJson(identity);
    const QByteArray id = identity.isEmpty() ? QByteArray() : sha256Hex(json);
    if (id.isEmpty())
        line.addNull("id");
    else
        line.addUtf8("id", id);
    line.addUtf8("capture", captureKey.isEmpty() ? m.captureKey() : captureKey);
    line.add("name", m.capture);
    m.enq.isValid() ? line.add("enq", timeText(m.enq)) : line.addNull("enq");
    m.end.isValid() ? line.add("end", timeText(m.end)) : line.addNull("end");
    line.add("length", qint64(m.bytes.size()));
    line.addUtf8("sha256", sha256Hex(m.bytes));
    if (!reason.isEmpty())
        line.add("reason", reason);
    if (identity.isEmpty())
        line.addNull("identity");
    else
        line.addRaw("identity", json);
    // Only a file no receiver wrote is this long (it keeps 50,000 bytes at most); it stays in
    // Temp/rejected/, and its hash here says which it was.
    if (m.bytes.size() > kMaxLine / 2)
        line.addNull("bytes");
    else
        line.addUtf8("bytes", m.bytes.toBase64());
    return line;
}

Chain::Written MessageArchive::archive(const ReceivedMessage& m, Outcome outcome, const Identity& identity, int record,
                                       const QString& reason)
{
    const QByteArray capture = m.captureKey();
    const JsonLine line = entry(m, outcome, identity, record, reason, capture);
    const QByteArray id = identity.isEmpty() ? QByteArray() : identityId(identity);
    catchUp();
    const Chain::Written w = chain_.append(line, true);
    index_->captures.insert(capture);
    if (!id.isEmpty() && record > 0)
        index_->records.insert(id, record);
    return w;
}

int MessageArchive::prune(int keepDays, const QDate& today)
{
    const QDate oldest = today.addDays(-keepDays);
    QStringList gone;
    for (const QString& f : chain_.files())
        if (Chain::dayOf(QFileInfo(f).fileName(), chain_.name()) < oldest)
            gone << f;
    if (gone.isEmpty())
        return 0;
    // What the removed days held, for the entry that stands for them.
    ChainReader reader(gone);
    Entry e;
    Head last;
    qint64 highest = 0;
    while (reader.next(e)) {
        if (!e.problem.isEmpty())
            continue;
        last = Head{e.seq, e.hash, {}};
        const QJsonValue record = e.object.value(QLatin1String("record"));
        if (record.isDouble())
            highest = std::max(highest, record.toInteger());
    }
    JsonLine line;
    line.add("kind", QStringLiteral("pruned"));
    line.add("before", oldest.toString(Qt::ISODate));
    line.add("lastSeq", last.seq);
    line.add("last", QString::fromLatin1(last.hash));
    line.add("records", highest);
    line.add("files", qint64(gone.size()));
    // The entry first: a crash before the files go leaves them to the next start, which prunes
    // them again with an entry of its own.
    chain_.append(line, true);
    int removed = 0;
    for (const QString& f : gone)
        if (durable::remove(f))
            ++removed;
    durable::syncFolder(archiveFolder(chain_.programFolder()));
    index_->newestScanned.clear();
    for (const QString& f : gone)
        index_->scanned.remove(f);
    return removed;
}

} // namespace audit
