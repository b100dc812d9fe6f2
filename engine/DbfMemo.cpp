#include "engine/DbfMemo.h"

#include "engine/DbTypes.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::uint32_t le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }
std::uint32_t be32(const unsigned char* p) { return std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
void putLe32(char* p, std::uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = char((v >> (8 * i)) & 0xFF); }
void putBe32(char* p, std::uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = char((v >> (24 - 8 * i)) & 0xFF); }

QString sysError() { return QString::fromLocal8Bit(std::strerror(errno)); }

qint64 preadFull(int fd, char* buf, qint64 size, qint64 offset)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buf + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

bool pwriteFull(int fd, const char* buf, qint64 size, qint64 offset)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, buf + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

DbfMemo::DbfMemo(const QString& path, Kind kind, bool writable) : path_(path), kind_(kind)
{
    const QByteArray native = QFile::encodeName(path);
    // As the table: opening never waits, and only a regular file is read.
    const int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    fd_ = ::open(native.constData(), (writable ? O_RDWR : O_RDONLY) | flags);
    if (fd_ < 0 && writable) {
        fd_ = ::open(native.constData(), O_RDONLY | flags);
        writable = false;
    }
    if (fd_ < 0)
        throw EDatabaseError(QStringLiteral("Cannot open memo file '%1': %2").arg(path, sysError()));
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        throw EDatabaseError(QStringLiteral("Cannot open memo file '%1': not a regular file").arg(path));
    }
    writable_ = writable;
    unsigned char head[32] = {};
    preadFull(fd_, reinterpret_cast<char*>(head), sizeof head, 0);
    if (kind_ == Kind::DBase4) {
        const int size = head[20] | head[21] << 8;
        blockSize_ = (size >= 32 && size <= 65535) ? size : 512;
    } else if (kind_ == Kind::FoxPro) {
        const int size = head[6] << 8 | head[7];
        blockSize_ = (size >= 1 && size <= 65535) ? size : 64;
    }
}

DbfMemo::~DbfMemo()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void DbfMemo::createDBase3(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        throw EDatabaseError(QStringLiteral("Cannot create memo file '%1': %2").arg(path, sysError()));
    char head[512] = {};
    putLe32(head, 1);
    head[16] = 0x03;
    const bool ok = pwriteFull(fd, head, sizeof head, 0) && ::fsync(fd) == 0;
    const QString err = sysError();
    ::close(fd);
    if (!ok)
        throw EDatabaseError(QStringLiteral("Cannot write memo file '%1': %2").arg(path, err));
}

qint64 DbfMemo::fileSize() const
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        return 0;
    return st.st_size;
}

QByteArray DbfMemo::read(std::uint32_t block) const
{
    if (block == 0)
        return {};
    const qint64 size = fileSize();
    const qint64 start = qint64(block) * blockSize_;
    if (start >= size)
        return {};
    const qint64 available = std::min<qint64>(size - start, kMaxMemo + 8);
    if (kind_ == Kind::DBase3) {
        // Read block by block until the end mark; a lone 0x1A also ends a memo (some writers).
        QByteArray out;
        qint64 at = start;
        char buf[512];
        while (at < start + available) {
            const qint64 n = preadFull(fd_, buf, std::min<qint64>(512, start + available - at), at);
            if (n <= 0)
                break;
            const void* end = std::memchr(buf, 0x1A, size_t(n));
            if (end) {
                out.append(buf, static_cast<const char*>(end) - buf);
                return out;
            }
            out.append(buf, qsizetype(n));
            at += n;
        }
        return out.left(kMaxMemo);
    }
    unsigned char head[8] = {};
    if (preadFull(fd_, reinterpret_cast<char*>(head), 8, start) < 8)
        return {};
    qint64 length = 0;
    qint64 dataAt = start + 8;
    if (kind_ == Kind::DBase4) {
        if (!(head[0] == 0xFF && head[1] == 0xFF && head[2] == 0x08 && head[3] == 0x00))
            return {};
        length = qint64(le32(head + 4)) - 8; // the length counts the 8-byte block header
    } else {
        length = be32(head + 4);
    }
    length = std::clamp<qint64>(length, 0, std::min<qint64>(available - 8, kMaxMemo));
    QByteArray out(length, Qt::Uninitialized);
    out.resize(preadFull(fd_, out.data(), length, dataAt));
    return out;
}

std::uint32_t DbfMemo::nextFreeBlock() const
{
    unsigned char head[4] = {};
    preadFull(fd_, reinterpret_cast<char*>(head), 4, 0);
    const std::uint32_t stated = kind_ == Kind::FoxPro ? be32(head) : le32(head);
    // Never trust a stated next block that would overwrite what is in the file.
    const qint64 byEnd = (fileSize() + blockSize_ - 1) / blockSize_;
    const qint64 first = kind_ == Kind::FoxPro ? std::max<qint64>(1, (512 + blockSize_ - 1) / blockSize_) : 1;
    return std::uint32_t(std::max<qint64>({qint64(stated), byEnd, first}));
}

std::uint32_t DbfMemo::append(const QByteArray& bytes)
{
    if (!writable_)
        throw EDatabaseError(QStringLiteral("Memo file '%1' is read-only").arg(path_));
    if (bytes.size() > kMaxMemo)
        throw EDatabaseError(QStringLiteral("Memo of %1 bytes is longer than %2 bytes").arg(bytes.size()).arg(kMaxMemo));
    QByteArray data;
    if (kind_ == Kind::DBase3) {
        if (bytes.contains('\x1A'))
            throw EDatabaseError(QStringLiteral("A memo cannot hold the character 0x1A"));
        data = bytes + QByteArray("\x1A\x1A", 2);
    } else {
        char head[8];
        if (kind_ == Kind::DBase4) {
            head[0] = char(0xFF); head[1] = char(0xFF); head[2] = 0x08; head[3] = 0x00;
            putLe32(head + 4, std::uint32_t(bytes.size() + 8));
        } else {
            putBe32(head, 1); // text
            putBe32(head + 4, std::uint32_t(bytes.size()));
        }
        data = QByteArray(head, 8) + bytes;
    }
    const std::uint32_t block = nextFreeBlock();
    const qint64 blocks = (data.size() + blockSize_ - 1) / blockSize_;
    if (qint64(block) + blocks > 0xFFFFFFF0LL)
        throw EDatabaseError(QStringLiteral("Memo file '%1' is full").arg(path_));
    data.append(QByteArray(blocks * blockSize_ - data.size(), '\0'));
    char next[4];
    if (kind_ == Kind::FoxPro)
        putBe32(next, std::uint32_t(block + blocks));
    else
        putLe32(next, std::uint32_t(block + blocks));
    // Data first, then the header's next free block: a crash leaves at worst unused blocks.
    if (!pwriteFull(fd_, data.constData(), data.size(), qint64(block) * blockSize_) || ::fdatasync(fd_) != 0
        || !pwriteFull(fd_, next, 4, 0) || ::fdatasync(fd_) != 0)
        throw EDatabaseError(QStringLiteral("Cannot write memo file '%1': %2").arg(path_, sysError()));
    return block;
}
