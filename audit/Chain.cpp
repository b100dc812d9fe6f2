#include "audit/Chain.h"

#include "platform/durable/DurableIo.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QThread>

#include <openssl/evp.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace audit {

namespace {

QString errnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

// Opens a file for reading without following a final link or waiting on a pipe; -1 unless it
// is a regular file (problem says what it is instead).
int openRegular(const QString& path, QString* problem)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        *problem = errno == ELOOP ? QStringLiteral("%1 is a link, not a file").arg(path)
                                  : QStringLiteral("%1 cannot be read: %2").arg(path, errnoText());
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *problem = QStringLiteral("%1 is not a regular file").arg(path);
        return -1;
    }
    return fd;
}

qint64 preadSome(int fd, char* data, qint64 size, qint64 offset)
{
    for (;;) {
        const ssize_t n = ::pread(fd, data, size_t(size), off_t(offset));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

} // namespace

QByteArrayView shortKey(QByteArrayView line, QByteArrayView key)
{
    const QByteArrayView head = line.first(std::min<qsizetype>(line.size(), 1024));
    const qsizetype at = head.indexOf(key);
    if (at < 0)
        return {};
    qsizetype from = at + key.size();
    qsizetype to = from;
    if (from < head.size() && head[from] == '"') {
        ++from;
        to = from;
        while (to < head.size() && head[to] != '"')
            ++to;
    } else {
        while (to < head.size() && head[to] >= '0' && head[to] <= '9')
            ++to;
    }
    return head.sliced(from, to - from);
}

QString archiveFolder(const QString& programFolder) { return QDir(programFolder).filePath(QStringLiteral("Archive")); }

// OpenSSL's digest uses the processor's SHA instructions where it has them: every message is
// hashed twice and every entry once, on the storing path. The digest is fetched once and a
// context kept per thread: OpenSSL 3 looks the algorithm up again on every one-shot call, which
// cost more than hashing a message.
QByteArray sha256Hex(QByteArrayView bytes)
{
    static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    struct Context {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        ~Context() { EVP_MD_CTX_free(ctx); }
    };
    thread_local const Context context;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!md || !context.ctx || EVP_DigestInit_ex2(context.ctx, md, nullptr) != 1
        || EVP_DigestUpdate(context.ctx, bytes.data(), size_t(bytes.size())) != 1
        || EVP_DigestFinal_ex(context.ctx, digest, &length) != 1 || length != 32)
        throw std::runtime_error("SHA-256 could not be computed");
    return QByteArray::fromRawData(reinterpret_cast<const char*>(digest), 32).toHex();
}

QByteArray zeroHash() { return QByteArray(64, '0'); }

namespace {

// The local zone's offset at the instant ms, as glibc last read the zone.
std::optional<int> localOffset(qint64 ms)
{
    const time_t seconds = time_t(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    struct tm local {};
    if (!localtime_r(&seconds, &local))
        return std::nullopt;
    return int(local.tm_gmtoff);
}

QDateTime atOffset(qint64 ms, int offset)
{
    return offset == 0 ? QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC) : QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offset);
}

// As QDateTime::toString(Qt::ISODateWithMs) writes atOffset(ms, offset), which goes through
// QString::asprintf for every part; nullopt where this does not (years outside 1..9999, offsets
// of odd seconds).
std::optional<QString> isoText(qint64 ms, int offset)
{
    constexpr qint64 day = 86'400'000;
    const qint64 local = ms + qint64(offset) * 1000;
    const qint64 days = local >= 0 ? local / day : (local - day + 1) / day;
    const qint64 inDay = local - days * day;
    const QDate date = QDate::fromJulianDay(days + 2'440'588);
    if (date.year() < 1 || date.year() > 9999 || offset % 60 != 0)
        return std::nullopt;
    char text[32];
    char* p = text;
    auto digits = [&p](qint64 value, int width) {
        for (int i = width - 1; i >= 0; --i, value /= 10)
            p[i] = char('0' + value % 10);
        p += width;
    };
    digits(date.year(), 4), *p++ = '-', digits(date.month(), 2), *p++ = '-', digits(date.day(), 2), *p++ = 'T';
    digits(inDay / 3'600'000, 2), *p++ = ':', digits(inDay / 60'000 % 60, 2), *p++ = ':', digits(inDay / 1000 % 60, 2);
    *p++ = '.', digits(inDay % 1000, 3);
    if (offset == 0) {
        *p++ = 'Z';
    } else {
        *p++ = offset < 0 ? '-' : '+';
        const int minutes = std::abs(offset) / 60;
        digits(minutes / 60, 2), *p++ = ':', digits(minutes % 60, 2);
    }
    return QString::fromLatin1(text, p - text);
}

} // namespace

QString timeText(const QDateTime& time)
{
    if (!time.isValid())
        return {};
    // Qt finds a local time's offset through mktime(), which rereads the zone each time, and
    // again for the conversion; localtime_r() does not. Several times go into every entry.
    const qint64 ms = time.toMSecsSinceEpoch();
    const std::optional<int> offset = time.timeSpec() == Qt::LocalTime ? localOffset(ms) : time.offsetFromUtc();
    if (offset)
        if (auto text = isoText(ms, *offset))
            return *text;
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QDateTime localNow()
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    // glibc reads /etc/localtime from disk on every tzset(), which QDateTime::currentDateTime()
    // calls: a changed zone is taken up within a minute instead.
    static std::atomic<qint64> zoneRead{0};
    const qint64 read = zoneRead.load(std::memory_order_relaxed);
    if (read == 0 || ms < read || ms - read > 60'000) {
        tzset();
        zoneRead.store(ms, std::memory_order_relaxed);
    }
    if (const auto offset = localOffset(ms))
        return atOffset(ms, *offset);
    return QDateTime::currentDateTime();
}

// ---------------------------------------------------------------------------------------------
// JsonLine

namespace {

// Appends utf8 as a JSON string. Written through a pointer into room for the worst case (every
// byte escaped as \u00XX): appending byte by byte was most of an entry's cost.
void appendQuoted(QByteArray& out, QByteArrayView utf8)
{
    const qsizetype at = out.size();
    out.resize(at + utf8.size() * 6 + 2);
    char* p = out.data() + at;
    *p++ = '"';
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            *p++ = '\\';
            *p++ = c;
        } else if (u < 0x20 || u == 0x7f) {
            static const char hex[] = "0123456789abcdef";
            *p++ = '\\', *p++ = 'u', *p++ = '0', *p++ = '0';
            *p++ = hex[u >> 4];
            *p++ = hex[u & 15];
        } else {
            *p++ = c;
        }
    }
    *p++ = '"';
    out.truncate(p - out.constData());
}

} // namespace

QByteArray JsonLine::quote(const QString& text)
{
    QByteArray out;
    appendQuoted(out, text.toUtf8());
    return out;
}

void JsonLine::key(const char* k)
{
    if (body_.size() > 1)
        body_ += ',';
    body_ += '"';
    body_ += k;
    body_ += "\":";
}

JsonLine& JsonLine::add(const char* k, const QString& text)
{
    key(k);
    appendQuoted(body_, text.toUtf8());
    return *this;
}

JsonLine& JsonLine::addUtf8(const char* k, QByteArrayView text)
{
    key(k);
    appendQuoted(body_, text);
    return *this;
}

JsonLine& JsonLine::add(const char* k, qint64 number)
{
    key(k);
    body_ += QByteArray::number(number);
    return *this;
}

JsonLine& JsonLine::addNull(const char* k)
{
    key(k);
    body_ += "null";
    return *this;
}

JsonLine& JsonLine::addRaw(const char* k, const QByteArray& json)
{
    key(k);
    body_ += json;
    return *this;
}

// ---------------------------------------------------------------------------------------------
// Chain

// The inter-process lock around one append, and the thread lock of this process.
struct Chain::Locked {
    int fd = -1;
    explicit Locked(const QString& path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
        if (fd < 0)
            throw AuditError(QStringLiteral("The lock %1 cannot be opened: %2").arg(path, errnoText()));
        // Another program holds it only for one append; waiting longer means it is stuck.
        for (int tries = 0;; ++tries) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
                return;
            if (errno != EWOULDBLOCK && errno != EINTR) {
                const QString why = errnoText();
                ::close(fd);
                throw AuditError(QStringLiteral("The lock %1 cannot be taken: %2").arg(path, why));
            }
            if (tries >= 1000) {
                ::close(fd);
                throw AuditError(QStringLiteral("The lock %1 is held by another program for more than 10 s").arg(path));
            }
            QThread::usleep(10000);
        }
    }
    ~Locked()
    {
        if (fd >= 0)
            ::close(fd);  // closing releases the lock
    }
};

Chain::Chain(QString programFolder, QString name, Clock clock)
    : programFolder_(std::move(programFolder)), name_(std::move(name)), clock_(std::move(clock))
{
    if (!clock_)
        clock_ = localNow;
}

Chain::~Chain() = default;

QDate Chain::dayOf(const QString& fileName, const QString& name)
{
    const QString prefix = name + QLatin1Char('-');
    if (!fileName.startsWith(prefix) || !fileName.endsWith(QLatin1String(".jsonl"))
        || fileName.size() != prefix.size() + 10 + 6)
        return {};
    return QDate::fromString(fileName.mid(prefix.size(), 10), Qt::ISODate);
}

QStringList Chain::files(const QString& programFolder, const QString& name)
{
    const QDir dir(archiveFolder(programFolder));
    QStringList names = dir.entryList({name + QStringLiteral("-*.jsonl")},
                                      QDir::Files | QDir::Dirs | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                                      QDir::Name);
    QStringList out;
    for (const QString& n : names)
        if (dayOf(n, name).isValid())
            out << dir.filePath(n);
    return out;
}

QStringList Chain::files() const { return files(programFolder_, name_); }

Head Chain::readHead(const QString& newestFile)
{
    // The last complete line of the newest file that has one; a torn tail is cut off first.
    QStringList all = files();
    for (qsizetype i = all.indexOf(newestFile); i >= 0; --i) {
        const QString& path = all[i];
        QString problem;
        const int fd = openRegular(path, &problem);
        if (fd < 0)
            throw AuditError(problem);
        struct stat st {};
        ::fstat(fd, &st);
        qint64 size = st.st_size;
        QByteArray tail;
        qint64 from = size;
        auto readTail = [&](qint64 n) {
            from = size - n;
            tail.resize(n);
            if (preadSome(fd, tail.data(), n, from) != n) {
                const QString why = errnoText();
                ::close(fd);
                throw AuditError(QStringLiteral("%1 cannot be read: %2").arg(path, why));
            }
        };
        // Where the line ending at the newline `end` starts in the tail; -1 when its start is not
        // in it. (lastIndexOf from -1 would search the whole tail again.)
        auto lineStart = [&](qsizetype end) -> qsizetype {
            const qsizetype before = end > 0 ? tail.lastIndexOf('\n', end - 1) : -1;
            return before >= 0 ? before + 1 : from == 0 ? 0 : -1;
        };
        // The last complete line and the newline before it (or the file's start) must be in the
        // tail read; most lines are short, a message's may be long.
        auto enough = [&] {
            const qsizetype end = tail.lastIndexOf('\n');
            return from == 0 || (end >= 0 && lineStart(end) >= 0);
        };
        readTail(std::min<qint64>(size, 65536));
        if (!enough())
            readTail(std::min<qint64>(size, 2 * kMaxLine + 2));
        ::close(fd);
        const qsizetype end = tail.lastIndexOf('\n');
        if (end < 0 && from == 0) {
            // No complete line at all: a first append cut short (or an empty file).
            if (size > 0 && ::truncate(QFile::encodeName(path).constData(), 0) != 0)
                throw AuditError(QStringLiteral("%1 cannot be repaired: %2").arg(path, errnoText()));
            continue;
        }
        if (!enough() || end < 0)
            throw AuditError(QStringLiteral("%1 ends in a line longer than an entry can be").arg(path));
        if (end != tail.size() - 1) {
            // The last append was cut short by a crash before its newline; it was never synced
            // and nothing acted on it.
            if (::truncate(QFile::encodeName(path).constData(), off_t(from + end + 1)) != 0)
                throw AuditError(QStringLiteral("%1 cannot be repaired: %2").arg(path, errnoText()));
        }
        const qsizetype start = lineStart(end);
        const Entry e = parseLine(tail.mid(start, end - start));
        return Head{e.seq, e.hash, e.line};
    }
    return {};
}

Head Chain::head()
{
    const QStringList all = files();
    if (all.isEmpty())
        return {};
    Locked lock(archiveFolder(programFolder_) + QLatin1Char('/') + name_ + QStringLiteral(".lock"));
    return readHead(all.last());
}

Chain::Written Chain::append(const JsonLine& body, bool sync) { return appendAll({body}, sync); }

Chain::Written Chain::appendAll(const QList<JsonLine>& bodies, bool sync)
{
    const QString folder = archiveFolder(programFolder_);
    if (!QDir().mkpath(folder))
        throw AuditError(QStringLiteral("The folder %1 cannot be made").arg(folder));
    Locked lock(folder + QLatin1Char('/') + name_ + QStringLiteral(".lock"));

    const QDateTime now = clock_();
    const QStringList all = files();
    const QString today = QDir(folder).filePath(QStringLiteral("%1-%2.jsonl").arg(name_, now.date().toString(Qt::ISODate)));
    QString target = today;
    if (!all.isEmpty() && dayOf(QFileInfo(all.last()).fileName(), name_) >= now.date())
        target = all.last();

    Head h;
    if (!all.isEmpty()) {
        struct stat st {};
        const bool same = all.last() == cachedFile_ && ::stat(QFile::encodeName(cachedFile_).constData(), &st) == 0
                          && st.st_size == cachedSize_;
        h = same ? cached_ : readHead(all.last());
    }

    QByteArray out;
    Head at = h;
    for (const JsonLine& body : bodies) {
        QByteArray line = "{\"seq\":" + QByteArray::number(at.seq + 1) + ",\"prev\":\"" + at.hash + "\",\"time\":"
                          + JsonLine::quote(timeText(now));
        const QByteArray rest = body.object();
        if (rest.size() > 2)
            line += ',' + rest.mid(1);
        else
            line += '}';
        if (line.size() > kMaxLine)
            throw AuditError(QStringLiteral("An entry of %1 bytes is longer than an entry can be").arg(line.size()));
        at = Head{at.seq + 1, sha256Hex(line), line};
        out += line;
        out += '\n';
    }
    struct stat before {};
    const bool created = ::stat(QFile::encodeName(target).constData(), &before) != 0;
    const int fd = durable::openForWrite(target, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        throw AuditError(QStringLiteral("%1 cannot be opened: %2").arg(target, errnoText()));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw AuditError(QStringLiteral("%1 is not a regular file").arg(target));
    }
    bool ok = durable::writeAll(fd, target, out.constData(), out.size());
    if (ok && sync)
        ok = durable::sync(fd, target, true);
    const QString why = ok ? QString() : errnoText();
    ::close(fd);
    if (!ok) {
        // A part written stays a torn line, which the next append cuts off.
        throw AuditError(QStringLiteral("%1 cannot be written: %2").arg(target, why));
    }
    if (sync && created && !durable::syncFolder(folder))
        throw AuditError(QStringLiteral("The folder %1 cannot be synced: %2").arg(folder, errnoText()));

    Written w;
    w.seq = at.seq;
    w.hash = at.hash;
    w.time = now;
    w.file = target;
    cachedFile_ = target;
    cachedSize_ = st.st_size + out.size();
    cached_ = at;
    return w;
}

// ---------------------------------------------------------------------------------------------
// Reading

Entry parseLine(const QByteArray& line)
{
    Entry e;
    e.line = line;
    e.hash = sha256Hex(line);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        e.problem = QStringLiteral("not a JSON object (%1 at byte %2)").arg(error.errorString()).arg(error.offset);
        return e;
    }
    e.object = doc.object();
    const QJsonValue seq = e.object.value(QLatin1String("seq"));
    if (seq.isDouble() && seq.toDouble() >= 1 && seq.toDouble() < 9.0e15)
        e.seq = qint64(seq.toDouble());
    e.prev = e.object.value(QLatin1String("prev")).toString().toLatin1();
    if (e.seq == 0)
        e.problem = QStringLiteral("no entry number");
    else if (e.prev.size() != 64)
        e.problem = QStringLiteral("no hash of the entry before");
    return e;
}

struct ChainReader::Impl {
    QStringList files;
    qsizetype fileIndex = -1;
    int fd = -1;
    QByteArray buffer;
    qsizetype at = 0;
    bool eof = true;
    qint64 lineNumber = 0;
    qint64 bytes = 0;
    bool parse = true;

    ~Impl() { closeFile(); }
    void closeFile()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    // Refills the buffer keeping what was not consumed; false at the end of the file.
    bool fill()
    {
        if (fd < 0)
            return false;
        buffer.remove(0, at);
        at = 0;
        const qsizetype old = buffer.size();
        buffer.resize(old + 262144);
        ssize_t n;
        do
            n = ::read(fd, buffer.data() + old, 262144);
        while (n < 0 && errno == EINTR);
        buffer.resize(old + std::max<ssize_t>(n, 0));
        if (n <= 0) {
            closeFile();
            return false;
        }
        bytes += n;
        return true;
    }
};

ChainReader::ChainReader(QStringList files, bool parse) : d(std::make_unique<Impl>())
{
    d->files = std::move(files);
    d->parse = parse;
}
ChainReader::~ChainReader() = default;
ChainReader::ChainReader(ChainReader&&) noexcept = default;

ChainReader ChainReader::since(const QString& programFolder, const QString& name, const QDate& since, bool parse)
{
    QStringList chosen;
    const QStringList all = Chain::files(programFolder, name);
    for (const QString& f : all)
        if (!since.isValid() || Chain::dayOf(QFileInfo(f).fileName(), name) >= since)
            chosen << f;
    return ChainReader(chosen, parse);
}

qint64 ChainReader::bytesRead() const { return d->bytes; }

bool ChainReader::next(Entry& entry)
{
    for (;;) {
        if (d->fd < 0 && d->at >= d->buffer.size()) {
            if (++d->fileIndex >= d->files.size())
                return false;
            d->buffer.clear();
            d->at = 0;
            d->lineNumber = 0;
            QString problem;
            d->fd = openRegular(d->files[d->fileIndex], &problem);
            if (d->fd < 0) {
                entry = Entry{};
                entry.file = d->files[d->fileIndex];
                entry.problem = problem;
                return true;
            }
        }
        const QString& file = d->files[d->fileIndex];
        qsizetype nl = d->buffer.indexOf('\n', d->at);
        bool skipping = false;
        while (nl < 0 && d->fd >= 0) {
            if (d->buffer.size() - d->at > kMaxLine) {
                // Too long to be an entry: skip to its end without holding it.
                skipping = true;
                d->at = d->buffer.size();
            }
            d->fill();
            nl = d->buffer.indexOf('\n', d->at);
        }
        if (nl < 0 && d->at >= d->buffer.size()) {
            if (skipping) {
                entry = Entry{};
                entry.file = file;
                entry.lineNumber = ++d->lineNumber;
                entry.complete = false;
                entry.problem = QStringLiteral("a line longer than %1 bytes").arg(kMaxLine);
                return true;
            }
            continue;  // next file
        }
        const qsizetype end = nl < 0 ? d->buffer.size() : nl;
        const QByteArray line = d->buffer.mid(d->at, end - d->at);
        d->at = nl < 0 ? d->buffer.size() : nl + 1;
        if (skipping) {
            entry = Entry{};
            entry.problem = QStringLiteral("a line longer than %1 bytes").arg(kMaxLine);
        } else if (d->parse) {
            entry = parseLine(line);
        } else {
            entry = Entry{};
            entry.line = line;
            entry.hash = sha256Hex(line);
        }
        entry.file = file;
        entry.lineNumber = ++d->lineNumber;
        entry.complete = nl >= 0;
        return true;
    }
}

} // namespace audit
