#include "engine/DbfFile.h"

#include "engine/Cp1251.h"
#include "engine/DbfMemo.h"
#include "platform/durable/DurableIo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kBlockBytes = 64 * 1024;
constexpr int kCachedBlocks = 16;
// Old dBase engines lock bytes far past the end of the file; the table's lock byte lives there
// too, so that it never covers data and any byte range can be locked whatever the file size.
constexpr off_t kLockOffset = 0xEFFFFFFFLL;
constexpr auto kLockWait = std::chrono::seconds(10);

std::uint32_t le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }
int le16(const unsigned char* p) { return p[0] | p[1] << 8; }

QString sysError(int err = errno) { return QString::fromLocal8Bit(std::strerror(err)); }

QString hexByte(int b) { return QStringLiteral("0x%1").arg(b, 2, 16, QLatin1Char('0')).toUpper().replace(QLatin1String("0X"), QLatin1String("0x")); }

bool knownVersion(std::uint8_t v)
{
    switch (v) {
    case 0x02: // FoxBase
    case 0x03: // dBase III+/IV without memo
    case 0x30: case 0x31: case 0x32: // Visual FoxPro
    case 0x43: case 0x63: // dBase IV SQL tables
    case 0x83: // dBase III+ with memo
    case 0x8B: // dBase IV with memo
    case 0xCB: // dBase IV SQL with memo
    case 0xE5: // HiPer-Six / Clipper SMT memo
    case 0xF5: // FoxPro with memo
    case 0xFB: // FoxBase with memo
        return true;
    default:
        return (v & 0x07) == 0x03;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Opening

DbfFile::DbfFile(const QString& name, Access access) : path_(resolvePath(name))
{
    const QByteArray native = QFile::encodeName(path_);
    bool wantWrite = access == Access::ReadWrite;
    // Opening never waits: a named pipe in a table's place would wait for a writer. Only a
    // regular file is read (below), where the flag changes nothing.
    const int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    fd_ = ::open(native.constData(), (wantWrite ? O_RDWR : O_RDONLY) | flags);
    if (fd_ < 0 && wantWrite && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        fd_ = ::open(native.constData(), O_RDONLY | flags);
        if (fd_ >= 0)
            warnings_ << QStringLiteral("Table '%1' is read-only").arg(path_);
        wantWrite = false;
    }
    if (fd_ < 0)
        fail(QStringLiteral("Cannot open table file: %1").arg(sysError()));
    writable_ = wantWrite;
    try {
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            fail(sysError());
        if (!S_ISREG(st.st_mode))
            fail(QStringLiteral("not a regular file"));
        // The header is at most 65535 bytes (its length is a 16-bit value); read what it says.
        QByteArray head(int(std::min<qint64>(st.st_size, 32)), Qt::Uninitialized);
        head.resize(preadSome(head.data(), head.size(), 0));
        if (head.size() == 32) {
            const int stated = le16(reinterpret_cast<const unsigned char*>(head.constData()) + 8);
            const int want = int(std::min<qint64>(st.st_size, std::max(stated, 32)));
            head.resize(want);
            head.resize(32 + preadSome(head.data() + 32, want - 32, 32));
        }
        parseHeader(head, st.st_size);
        recordsPerBlock_ = std::max(1, kBlockBytes / recordLength_);
        missingRecord_ = QByteArray(recordLength_, ' ');
        missingRecord_[0] = '*';
        openMemo(wantWrite);
        lockRange(F_RDLCK);
        try {
            const std::uint32_t headerCount = le32(reinterpret_cast<const unsigned char*>(head.constData()) + 4);
            count_ = countRecords(headerCount, fileSize());
            if (qint64(count_) != qint64(headerCount))
                warnings_ << QStringLiteral("Table '%1': the header counts %2 records, the file holds %3")
                                 .arg(path_).arg(headerCount).arg(count_);
        } catch (...) {
            unlock();
            throw;
        }
        unlock();
    } catch (...) {
        ::close(fd_);
        fd_ = -1;
        throw;
    }
}

DbfFile::~DbfFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void DbfFile::fail(const QString& what) const
{
    throw EDatabaseError(QStringLiteral("Table '%1': %2").arg(path_, what));
}

QString DbfFile::resolvePath(const QString& name)
{
    if (QFileInfo::exists(name))
        return name;
    QString slashed = name;
    slashed.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QFileInfo::exists(slashed))
        return slashed;
    const QFileInfo info(slashed);
    const QDir dir = info.dir();
    if (dir.exists()) {
        const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& e : entries)
            if (e.compare(info.fileName(), Qt::CaseInsensitive) == 0)
                return dir.filePath(e);
    }
    return name;
}

void DbfFile::parseHeader(const QByteArray& head, qint64 fileSize)
{
    if (head.size() < 32)
        fail(QStringLiteral("not a dBase table: the file is %1 bytes long, shorter than a table header").arg(fileSize));
    const auto* h = reinterpret_cast<const unsigned char*>(head.constData());
    version_ = h[0];
    if ((version_ & 0x07) == 0x04)
        fail(QStringLiteral("dBase 7 tables (version byte %1) are not supported").arg(hexByte(version_)));
    if (!knownVersion(version_))
        fail(QStringLiteral("not a dBase table: unknown version byte %1").arg(hexByte(version_)));
    if (h[15] != 0)
        fail(QStringLiteral("encrypted tables are not supported"));
    int yy = h[1];
    if (yy < 80)
        yy += 100; // some writers store year % 100
    lastUpdate_ = QDate(1900 + yy, h[2], h[3]);
    headerLength_ = le16(h + 8);
    recordLength_ = le16(h + 10);
    languageDriver_ = h[29];
    if (recordLength_ < 1)
        fail(QStringLiteral("the header gives a record length of 0"));
    if (headerLength_ < 32)
        fail(QStringLiteral("the header gives a header length of %1, less than 32").arg(headerLength_));

    // Field descriptors run from byte 32 until the 0x0D end mark; when the mark is missing they
    // end where the records begin.
    const bool visualFox = version_ == 0x30 || version_ == 0x31 || version_ == 0x32;
    const int limit = std::min<int>(headerLength_, int(head.size()));
    int at = 32;
    bool ended = false;
    int offset = 1;
    while (at < limit) {
        if (h[at] == 0x0D) {
            ended = true;
            break;
        }
        if (at + 32 > limit)
            break;
        const unsigned char* f = h + at;
        if (f[0] == 0)
            break; // zeros after the last field instead of the end mark
        int nameLen = 0;
        while (nameLen < 11 && f[nameLen] != 0)
            ++nameLen;
        DbfField field;
        field.name = cp1251::decode(reinterpret_cast<const char*>(f), nameLen).trimmed();
        field.type = char(QChar::toUpper(char32_t(f[11])));
        field.length = f[16];
        field.decimals = f[17];
        if (field.type == 'C' && field.decimals > 0 && !visualFox) {
            // Clipper and Harbour keep character lengths over 255 in the decimals byte.
            field.length += 256 * field.decimals;
            field.decimals = 0;
        }
        if (field.length == 0)
            fail(QStringLiteral("field '%1' has length 0").arg(field.name));
        if (field.type == 'D' && field.length != 8)
            field.type = '?'; // not a date we can read: keep its bytes as raw text
        if ((field.type == 'N' || field.type == 'F') && field.length > 32)
            field.type = '?';
        field.offset = offset;
        offset += field.length;
        if (offset > recordLength_)
            fail(QStringLiteral("the fields (%1 bytes up to '%2') do not fit the record length %3")
                     .arg(offset - 1).arg(field.name).arg(recordLength_));
        if (field.name.isEmpty())
            field.name = QStringLiteral("FIELD%1").arg(fields_.size() + 1);
        fields_.push_back(field);
        at += 32;
    }
    if (fields_.empty())
        fail(QStringLiteral("not a dBase table: the header lists no fields"));
    if (!ended && at < limit)
        warnings_ << QStringLiteral("Table '%1': the field list has no end mark").arg(path_);
    const int minimum = 32 + 32 * int(fields_.size());
    if (headerLength_ < minimum)
        fail(QStringLiteral("the header length %1 is shorter than its %2 field descriptors")
                 .arg(headerLength_).arg(fields_.size()));
    if (h[28] & 0x01)
        warnings_ << QStringLiteral("Table '%1' is marked as having a production index (.mdx); "
                                    "the index is not kept up to date here and goes stale after a change")
                         .arg(path_);
    if (languageDriver_ != 0xC9 && languageDriver_ != 0x00 && languageDriver_ != 0x57)
        warnings_ << QStringLiteral("Table '%1': language driver %2 is not Windows 1251; texts are read as 1251")
                         .arg(path_, hexByte(languageDriver_));
}

void DbfFile::openMemo(bool wantWrite)
{
    const bool needed = std::any_of(fields_.begin(), fields_.end(), [](const DbfField& f) { return f.type == 'M'; });
    if (!needed)
        return;
    const QFileInfo info(path_);
    const bool fox = version_ == 0x30 || version_ == 0x31 || version_ == 0x32 || version_ == 0xF5 || version_ == 0xFB;
    const QString base = info.dir().filePath(info.completeBaseName());
    const QString memoPath = resolvePath(base + (fox ? QStringLiteral(".fpt") : QStringLiteral(".dbt")));
    if (!QFileInfo::exists(memoPath)) {
        warnings_ << QStringLiteral("Table '%1': memo file '%2' is missing; memo fields read empty and cannot be written")
                         .arg(path_, memoPath);
        return;
    }
    DbfMemo::Kind kind = DbfMemo::Kind::DBase3;
    if (fox)
        kind = DbfMemo::Kind::FoxPro;
    else if (version_ == 0x8B || version_ == 0xCB)
        kind = DbfMemo::Kind::DBase4;
    memo_ = std::make_unique<DbfMemo>(memoPath, kind, wantWrite);
}

qint64 DbfFile::fileSize() const
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        return 0;
    return st.st_size;
}

// The records in the file: those wholly inside it up to the header's count, then any complete
// record past the count that starts with a deleted flag (a write that crashed before its header
// update). A partial last record is dropped; bytes past the 0x1A end mark are not records.
int DbfFile::countRecords(std::uint32_t headerCount, qint64 size)
{
    const qint64 bySize = size > headerLength_ ? (size - headerLength_) / recordLength_ : 0;
    if (bySize > std::numeric_limits<int>::max() - 1)
        fail(QStringLiteral("the file holds more records than can be addressed"));
    qint64 count = std::min<qint64>(headerCount, bySize);
    if (count < bySize) {
        const qint64 headerSaid = count;
        // Read in large blocks: with short records one read per flag would cost a system call
        // per record of the whole file when the header counts none.
        const qint64 perBlock = std::max<qint64>(1, (qint64(1) << 20) / recordLength_);
        QByteArray block;
        bool ended = false;
        while (count < bySize && !ended) {
            const qint64 want = std::min(perBlock, bySize - count);
            block.resize(qsizetype(want * recordLength_));
            const qint64 got = preadSome(block.data(), block.size(), qint64(headerLength_) + count * recordLength_);
            const qint64 whole = std::max<qint64>(0, got) / recordLength_;
            ended = whole < want;
            for (qint64 i = 0; i < whole; ++i) {
                const char flag = block[qsizetype(i * recordLength_)];
                if (flag != ' ' && flag != '*') {
                    ended = true;
                    break;
                }
                ++count;
            }
        }
        if (count > headerSaid)
            warnings_ << QStringLiteral("Table '%1': recovered %2 record(s) past the header's count")
                             .arg(path_).arg(count - headerSaid);
    }
    return int(count);
}

void DbfFile::readCountLocked()
{
    unsigned char head[8] = {};
    preadSome(reinterpret_cast<char*>(head), 8, 0);
    const int before = count_;
    const qsizetype warned = warnings_.size();
    count_ = countRecords(le32(head + 4), fileSize());
    while (warnings_.size() > warned)
        warnings_.removeLast(); // a re-count is silent; opening told what it found
    if (count_ != before) {
        ++generation_;
        dropBlocksFrom(std::min(before, count_));
    }
}

void DbfFile::refresh()
{
    lockRange(F_RDLCK);
    try {
        readCountLocked();
    } catch (...) {
        unlock();
        throw;
    }
    unlock();
    blocks_.clear();
    ++generation_;
}

// ---------------------------------------------------------------------------------------------
// Reading

qint64 DbfFile::preadSome(char* data, qint64 size, qint64 offset) const
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, data + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(QStringLiteral("read error: %1").arg(sysError()));
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

qint64 DbfFile::readLocked(char* data, qint64 size, qint64 offset) const
{
    lockRange(F_RDLCK);
    qint64 got = 0;
    try {
        got = preadSome(data, size, offset);
    } catch (...) {
        unlock();
        throw;
    }
    unlock();
    return got;
}

const char* DbfFile::record(int index)
{
    if (index < 0 || index >= count_)
        return missingRecord_.constData();
    ++useClock_;
    if (lastBlock_ < blocks_.size()) {
        Block& b = blocks_[lastBlock_];
        if (index >= b.first && index < b.first + b.count) {
            b.used = useClock_;
            return b.bytes.constData() + qsizetype(index - b.first) * recordLength_;
        }
    }
    for (Block& b : blocks_)
        if (index >= b.first && index < b.first + b.count) {
            b.used = useClock_;
            lastBlock_ = size_t(&b - blocks_.data());
            return b.bytes.constData() + qsizetype(index - b.first) * recordLength_;
        }
    Block* slot = nullptr;
    if (int(blocks_.size()) < kCachedBlocks) {
        blocks_.emplace_back();
        slot = &blocks_.back();
    } else {
        slot = &*std::min_element(blocks_.begin(), blocks_.end(),
                                  [](const Block& a, const Block& b) { return a.used < b.used; });
    }
    lastBlock_ = size_t(slot - blocks_.data());
    slot->first = index - index % recordsPerBlock_;
    slot->count = std::min(recordsPerBlock_, count_ - slot->first);
    slot->used = useClock_;
    slot->bytes.resize(qsizetype(slot->count) * recordLength_);
    const qint64 offset = qint64(headerLength_) + qint64(slot->first) * recordLength_;
    qint64 got = 0;
    try {
        got = readLocked(slot->bytes.data(), slot->bytes.size(), offset);
    } catch (...) {
        slot->count = 0;
        throw;
    }
    // Records cut off by a file that shrank underneath read as deleted blanks.
    for (int i = 0; i < slot->count; ++i)
        if (qint64(i + 1) * recordLength_ > got)
            std::memcpy(slot->bytes.data() + qsizetype(i) * recordLength_, missingRecord_.constData(),
                        size_t(recordLength_));
    return slot->bytes.constData() + qsizetype(index - slot->first) * recordLength_;
}

QByteArray DbfFile::readFresh(int index)
{
    if (index < 0 || index >= count_)
        return {};
    QByteArray bytes(recordLength_, Qt::Uninitialized);
    const qint64 got = readLocked(bytes.data(), bytes.size(), qint64(headerLength_) + qint64(index) * recordLength_);
    if (got != recordLength_)
        return {};
    patchCached(index, bytes.constData(), recordLength_, 0);
    return bytes;
}

QByteArray DbfFile::blankRecord() const
{
    return QByteArray(recordLength_, ' ');
}

int DbfFile::fieldIndex(const QString& name) const
{
    for (size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

void DbfFile::dropBlocksFrom(int index)
{
    blocks_.erase(std::remove_if(blocks_.begin(), blocks_.end(),
                                 [index](const Block& b) { return b.first + b.count > index || b.count < 1; }),
                  blocks_.end());
}

void DbfFile::patchCached(int index, const char* data, int size, int at)
{
    for (Block& b : blocks_)
        if (index >= b.first && index < b.first + b.count)
            std::memcpy(b.bytes.data() + qsizetype(index - b.first) * recordLength_ + at, data, size_t(size));
}

// ---------------------------------------------------------------------------------------------
// Locks: open-file-description locks, which belong to this open file and not to the process, so
// that closing another descriptor of the same file (say, by a second table object) keeps them.

void DbfFile::lockRange(short type) const
{
    if (lockDepth_ > 0 || locksUnsupported_)
        return; // the write lock is held: it covers reading too
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = kLockOffset;
    fl.l_len = 1;
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    int pause = 1;
    while (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) {
        if (errno == EINVAL || errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS) {
            // A file system without these locks: the table still works, unshared.
            locksUnsupported_ = true;
            warnings_ << QStringLiteral("Table '%1': the file system cannot lock it; do not write to it from two programs at once")
                             .arg(path_);
            return;
        }
        if (errno != EAGAIN && errno != EACCES && errno != EINTR)
            fail(QStringLiteral("cannot lock the table: %1").arg(sysError()));
        if (std::chrono::steady_clock::now() > deadline)
            fail(QStringLiteral("the table is locked by another program"));
        QThread::msleep(pause);
        pause = std::min(pause * 2, 50);
    }
}

void DbfFile::unlock() const
{
    if (lockDepth_ > 0 || locksUnsupported_)
        return;
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kLockOffset;
    fl.l_len = 1;
    ::fcntl(fd_, F_OFD_SETLK, &fl);
}

DbfFile::WriteLock::WriteLock(DbfFile& file) : file_(file)
{
    file_.checkWritable("change");
    if (file_.lockDepth_ == 0) {
        file_.lockRange(F_WRLCK);
        try {
            file_.readCountLocked();
        } catch (...) {
            file_.unlock();
            throw;
        }
    }
    ++file_.lockDepth_;
}

DbfFile::WriteLock::~WriteLock()
{
    if (--file_.lockDepth_ == 0)
        file_.unlock();
}

void DbfFile::beginWrite()
{
    locks_.push_back(std::make_unique<WriteLock>(*this));
}

void DbfFile::endWrite()
{
    locks_.pop_back();
}

void DbfFile::abortWrite() noexcept
{
    // Each write was durable when it returned: there is nothing to take back, only the lock.
    locks_.pop_back();
}

// ---------------------------------------------------------------------------------------------
// Writing

void DbfFile::checkWritable(const char* what) const
{
    if (!writable_)
        fail(QStringLiteral("cannot %1 a read-only table").arg(QLatin1String(what)));
}

void DbfFile::checkRecordSize(const QByteArray& record) const
{
    if (record.size() != recordLength_)
        fail(QStringLiteral("a record of %1 bytes does not match the record length %2").arg(record.size()).arg(recordLength_));
}

void DbfFile::pwriteAll(const char* data, qint64 size, qint64 offset, const char* what)
{
    if (!durable::pwriteAll(fd_, path_, data, size, offset))
        fail(QStringLiteral("cannot write %1: %2").arg(QLatin1String(what), sysError()));
}

void DbfFile::sync(const char* what)
{
    if (!durable::sync(fd_, path_, true))
        fail(QStringLiteral("cannot flush %1 to disk: %2").arg(QLatin1String(what), sysError()));
}

void DbfFile::writeHeaderStamp(int count)
{
    const QDate today = QDate::currentDate();
    unsigned char stamp[7];
    stamp[0] = static_cast<unsigned char>(std::clamp(today.year() - 1900, 0, 255));
    stamp[1] = static_cast<unsigned char>(today.month());
    stamp[2] = static_cast<unsigned char>(today.day());
    for (int i = 0; i < 4; ++i)
        stamp[3 + i] = static_cast<unsigned char>((std::uint32_t(count) >> (8 * i)) & 0xFF);
    pwriteAll(reinterpret_cast<const char*>(stamp), 7, 1, "the header");
    lastUpdate_ = today;
}

int DbfFile::appendLocked(const QByteArray& bytes, int n, bool updateHeader)
{
    const int index = count_;
    if (n > std::numeric_limits<int>::max() - 1 - index)
        fail(QStringLiteral("the table is full"));
    // Records and end mark first, then the header: a crash in between leaves complete records
    // past the header's count, which opening recovers.
    pwriteAll(bytes.constData(), bytes.size(), qint64(headerLength_) + qint64(index) * recordLength_,
              n == 1 ? "the record" : "the records");
    sync(n == 1 ? "the record" : "the records");
    if (updateHeader) {
        writeHeaderStamp(index + n);
        sync("the header");
    }
    count_ = index + n;
    dropBlocksFrom(index);
    return index;
}

int DbfFile::append(const QByteArray& record)
{
    WriteLock lock(*this);
    checkRecordSize(record);
    return appendLocked(record + '\x1A', 1, true);
}

int DbfFile::appendMany(const std::vector<QByteArray>& records)
{
    WriteLock lock(*this);
    // All are checked before any is written: a refused record leaves the table as it was.
    for (const QByteArray& record : records)
        checkRecordSize(record);
    if (records.empty())
        return count_;
    if (records.size() > size_t(std::numeric_limits<int>::max() - 1))
        fail(QStringLiteral("the table is full"));
    QByteArray bytes;
    bytes.reserve(qsizetype(records.size()) * recordLength_ + 1);
    for (const QByteArray& record : records)
        bytes += record;
    bytes += '\x1A';
    return appendLocked(bytes, int(records.size()), true);
}

int DbfFile::appendWithoutHeaderUpdate(const QByteArray& record)
{
    WriteLock lock(*this);
    checkRecordSize(record);
    return appendLocked(record + '\x1A', 1, false);
}

void DbfFile::write(int index, const QByteArray& record)
{
    WriteLock lock(*this);
    checkRecordSize(record);
    if (index < 0 || index >= count_)
        fail(QStringLiteral("record %1 does not exist").arg(index + 1));
    pwriteAll(record.constData(), record.size(), qint64(headerLength_) + qint64(index) * recordLength_, "the record");
    writeHeaderStamp(count_);
    sync("the record");
    patchCached(index, record.constData(), int(record.size()), 0);
}

void DbfFile::setDeleted(int index, bool deleted)
{
    WriteLock lock(*this);
    if (index < 0 || index >= count_)
        fail(QStringLiteral("record %1 does not exist").arg(index + 1));
    const char flag = deleted ? '*' : ' ';
    pwriteAll(&flag, 1, qint64(headerLength_) + qint64(index) * recordLength_, "the deleted flag");
    writeHeaderStamp(count_);
    sync("the deleted flag");
    patchCached(index, &flag, 1, 0);
}

// ---------------------------------------------------------------------------------------------
// Creating

void DbfFile::create(const QString& path, const std::vector<DbfFieldSpec>& fields)
{
    auto refuse = [&](const QString& why) {
        throw EDatabaseError(QStringLiteral("Cannot create table '%1': %2").arg(path, why));
    };
    if (fields.empty() || fields.size() > 1000)
        refuse(QStringLiteral("a table needs 1 to 1000 fields"));
    int recordLength = 1;
    bool memo = false;
    QStringList seen;
    for (const DbfFieldSpec& f : fields) {
        if (f.name.isEmpty() || f.name.size() > 10)
            refuse(QStringLiteral("field name '%1' must have 1 to 10 characters").arg(f.name));
        for (QChar c : f.name)
            if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('_'))
                refuse(QStringLiteral("field name '%1' may hold only Latin letters, digits and '_'").arg(f.name));
        if (seen.contains(f.name, Qt::CaseInsensitive))
            refuse(QStringLiteral("field name '%1' appears twice").arg(f.name));
        seen << f.name;
        bool ok = false;
        switch (f.type) {
        case 'C': ok = f.length >= 1 && f.length <= 254 && f.decimals == 0; break;
        case 'D': ok = f.length == 8 && f.decimals == 0; break;
        case 'N': case 'F': ok = f.length >= 1 && f.length <= 20 && f.decimals >= 0 && (f.decimals == 0 || f.decimals <= f.length - 2); break;
        case 'L': ok = f.length == 1 && f.decimals == 0; break;
        case 'M': ok = f.length == 10 && f.decimals == 0; memo = true; break;
        default: break;
        }
        if (!ok)
            refuse(QStringLiteral("field '%1' of type '%2' cannot have length %3 with %4 decimals")
                       .arg(f.name, QString(QLatin1Char(f.type))).arg(f.length).arg(f.decimals));
        recordLength += f.length;
    }
    if (recordLength > 65535)
        refuse(QStringLiteral("the record length %1 is over 65535").arg(recordLength));
    const int headerLength = 32 + 32 * int(fields.size()) + 1;

    QByteArray bytes(headerLength, '\0');
    auto* h = reinterpret_cast<unsigned char*>(bytes.data());
    const QDate today = QDate::currentDate();
    h[0] = memo ? 0x83 : 0x03;
    h[1] = static_cast<unsigned char>(std::clamp(today.year() - 1900, 0, 255));
    h[2] = static_cast<unsigned char>(today.month());
    h[3] = static_cast<unsigned char>(today.day());
    h[8] = static_cast<unsigned char>(headerLength & 0xFF);
    h[9] = static_cast<unsigned char>(headerLength >> 8);
    h[10] = static_cast<unsigned char>(recordLength & 0xFF);
    h[11] = static_cast<unsigned char>(recordLength >> 8);
    h[29] = 0xC9; // Windows 1251
    int offset = 1;
    for (size_t i = 0; i < fields.size(); ++i) {
        unsigned char* d = h + 32 + 32 * i;
        const QByteArray name = fields[i].name.toUpper().toLatin1();
        std::memcpy(d, name.constData(), size_t(name.size()));
        d[11] = static_cast<unsigned char>(fields[i].type);
        for (int b = 0; b < 4; ++b)
            d[12 + b] = static_cast<unsigned char>((offset >> (8 * b)) & 0xFF);
        d[16] = static_cast<unsigned char>(fields[i].length);
        d[17] = static_cast<unsigned char>(fields[i].decimals);
        offset += fields[i].length;
    }
    h[headerLength - 1] = 0x0D;
    bytes.append('\x1A');

    const QFileInfo info(path);
    const QString base = info.dir().filePath(info.completeBaseName());
    const QString memoPath = base + QStringLiteral(".dbt");
    if (memo && QFileInfo::exists(memoPath))
        refuse(QStringLiteral("memo file '%1' exists already").arg(memoPath));
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        refuse(errno == EEXIST ? QStringLiteral("the file exists already") : sysError());
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    const bool ok = done == bytes.size() && ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    if (!ok) {
        QFile::remove(path);
        refuse(sysError(err));
    }
    if (memo)
        DbfMemo::createDBase3(memoPath);
    // GDAL, LibreOffice and others take the code page from here rather than from the header.
    QFile cpg(base + QStringLiteral(".cpg"));
    if (!cpg.open(QIODevice::WriteOnly | QIODevice::Truncate) || cpg.write("1251") != 4 || !cpg.flush()
        || ::fsync(cpg.handle()) != 0)
        refuse(QStringLiteral("cannot write '%1': %2").arg(cpg.fileName(), cpg.errorString()));
    cpg.close();
    const QByteArray dirName = QFile::encodeName(info.absolutePath());
    const int dirFd = ::open(dirName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd); // the new names survive a crash too
        ::close(dirFd);
    }
}
