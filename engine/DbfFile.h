#pragma once
// One dBase table file (.dbf) on disk: its header, its field list and its records as raw bytes.
// This unit knows the file layout, the tolerant rules for opening files that other tools wrote,
// the durable order of writes, and the locks that let two processes share a table. It knows
// nothing about field values: DbfFieldCodec turns record bytes into values and back. Record and
// header writes and their syncs go through platform/durable/DurableIo, where tests watch their
// order and make any one fail.
//
// Opening reads the header and the field list only (a few kilobytes at most), whatever the size
// of the table. Records are read on demand through a small cache of blocks, so that moving to
// the last row of a million-row table reads one block.
//
// Every header value is untrusted: the record count is recomputed from the file size (a torn
// last record is dropped, complete records past the header's count are kept), lengths are
// checked against each other before any record is read, and nothing is allocated from a count
// taken from the file.
#include "engine/DbTypes.h"
#include "engine/RecordSource.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

// A field as asked for when a table is created.
struct DbfFieldSpec {
    QString name;   // 1 to 10 characters: letters, digits, '_'
    char type;      // 'C', 'D', 'N', 'F', 'L' or 'M'
    int length;     // C 1..254, D 8, N/F 1..20, L 1, M 10
    int decimals = 0;
};

// A field as found in a table file.
struct DbfField {
    QString name;
    char type;      // 'C', 'D', 'N', 'F', 'L', 'M', or another letter (read as raw text only)
    int length;     // bytes in the record
    int decimals;
    int offset;     // from the start of the record; byte 0 of a record is the deleted flag
};

class DbfMemo;

class DbfFile : public TRecordSource {
public:
    enum class Access { ReadOnly, ReadWrite };

    // Opens the table. With ReadWrite on a file that cannot be written, the table opens read-only
    // and every write raises. Raises EDatabaseError when the file is missing, is no dBase table,
    // or is a kind that is not supported (dBase 7, encrypted).
    DbfFile(const QString& path, Access access);
    ~DbfFile() override;
    DbfFile(const DbfFile&) = delete;
    DbfFile& operator=(const DbfFile&) = delete;

    // Makes a new empty dBase III+ table: version 0x03 (0x83 with memo fields and a .dbt beside
    // it), language driver 0xC9 (Windows 1251) and a .cpg file saying "1251". Refuses to replace
    // an existing file. Raises EDatabaseError.
    static void create(const QString& path, const std::vector<DbfFieldSpec>& fields);

    // The file name that a table name stands for: the name itself when it exists, else the name
    // with backslashes read as folder separators, else a file in that folder whose name matches
    // without regard to case. Returns the name unchanged when none exists.
    static QString resolvePath(const QString& name);

    const QString& path() const { return path_; }
    bool writable() const override { return writable_; }
    const std::vector<DbfField>& fields() const override { return fields_; }
    int fieldIndex(const QString& name) const; // without regard to case; -1 when absent
    int recordLength() const { return recordLength_; }
    int headerLength() const { return headerLength_; }
    std::uint8_t version() const { return version_; }
    std::uint8_t languageDriver() const { return languageDriver_; }
    QDate lastUpdate() const { return lastUpdate_; }
    // What was noticed on opening and is worth telling (a stale index, a recovered record...).
    QStringList warnings() const override { return warnings_; }
    DbfMemo* memo() const override { return memo_.get(); }

    // Records in the file, deleted ones included, as of opening or the last refresh or write.
    int recordCount() const override { return count_; }
    // Bumped whenever records may have changed under cached copies (refresh, another process's
    // rows seen by a write); lets callers drop what they derived from earlier reads.
    std::uint64_t generation() const override { return generation_; }

    // The recordLength() bytes of record index (from 0). The pointer stays valid until the next
    // call on this object. A record that vanished from the file reads as a deleted blank record.
    const char* record(int index) override;
    // The record as the file holds it now (another process may have changed it), read past the
    // cache; the cached copy is brought up to date. Empty when the record is gone.
    QByteArray readFresh(int index) override;
    // Calls visit(index, bytes) for records from..to-1 with large reads that bypass the cache.
    template <class F> void scan(int from, int to, F&& visit);
    void forEach(int from, int to, const std::function<void(int, const char*)>& visit) override
    {
        scan(from, to, visit);
    }

    // Re-reads the header's count and the file size (rows other processes added appear) and
    // drops every cached record.
    void refresh() override;

    // A record of blanks, not deleted.
    QByteArray blankRecord() const override;

    // Durable writes: each takes the table's write lock, writes, and has the bytes on disk
    // before it returns.
    // Adds a record at the end; returns its index.
    int append(const QByteArray& record) override;
    // Adds records at the end in one write and two syncs, where append() takes two for each;
    // returns the index of the first (recordCount() when there are none). Every record is checked
    // before any is written. A crash part way leaves the table as before, or with the leading
    // records that reached the disk whole (opening recovers them past the header's count). Memo
    // blocks the records name are the caller's to have written.
    int appendMany(const std::vector<QByteArray>& records);
    void write(int index, const QByteArray& record) override;
    void setDeleted(int index, bool deleted) override;

    // The write lock (as WriteLock), for a data set's change.
    void beginWrite() override;
    void endWrite() override;
    void abortWrite() noexcept override;

    // For tests that simulate a crash: writes the record and its end mark but not the header.
    int appendWithoutHeaderUpdate(const QByteArray& record);

    // Holds the table's write lock for as long as it lives; memo writes happen under it.
    class WriteLock {
    public:
        explicit WriteLock(DbfFile& file);
        ~WriteLock();
        WriteLock(const WriteLock&) = delete;
        WriteLock& operator=(const WriteLock&) = delete;

    private:
        DbfFile& file_;
    };

private:
    struct Block {
        int first = 0;
        int count = 0;
        QByteArray bytes;
        std::uint64_t used = 0;
    };

    void parseHeader(const QByteArray& head, qint64 fileSize);
    void openMemo(bool wantWrite);
    qint64 fileSize() const;
    int countRecords(std::uint32_t headerCount, qint64 size);
    void readCountLocked();
    void checkWritable(const char* what) const;
    void checkRecordSize(const QByteArray& record) const;
    // bytes: n records and the end mark.
    int appendLocked(const QByteArray& bytes, int n, bool updateHeader);
    void writeHeaderStamp(int count);
    void pwriteAll(const char* data, qint64 size, qint64 offset, const char* what);
    qint64 preadSome(char* data, qint64 size, qint64 offset) const;
    // Reads under the shared lock, so that no half-written record of another process is seen.
    qint64 readLocked(char* data, qint64 size, qint64 offset) const;
    void sync(const char* what);
    void lockRange(short type) const;
    void unlock() const;
    void dropBlocksFrom(int index);
    void patchCached(int index, const char* data, int size, int at);
    [[noreturn]] void fail(const QString& what) const;

    QString path_;
    int fd_ = -1;
    bool writable_ = false;
    std::uint8_t version_ = 0;
    std::uint8_t languageDriver_ = 0;
    QDate lastUpdate_;
    int headerLength_ = 0;
    int recordLength_ = 0;
    std::vector<DbfField> fields_;
    mutable QStringList warnings_;
    std::unique_ptr<DbfMemo> memo_;
    int count_ = 0;
    std::uint64_t generation_ = 0;
    int recordsPerBlock_ = 1;
    std::vector<Block> blocks_;
    size_t lastBlock_ = 0;
    std::uint64_t useClock_ = 0;
    QByteArray missingRecord_;
    int lockDepth_ = 0;
    std::vector<std::unique_ptr<WriteLock>> locks_;  // taken by beginWrite()
    mutable bool locksUnsupported_ = false;
};

template <class F> void DbfFile::scan(int from, int to, F&& visit)
{
    if (from < 0)
        from = 0;
    if (to > count_)
        to = count_;
    const int perRead = std::max(1, (1 << 20) / recordLength_);
    QByteArray buf;
    for (int first = from; first < to; first += perRead) {
        const int n = std::min(perRead, to - first);
        buf.resize(qsizetype(n) * recordLength_);
        const qint64 got = readLocked(buf.data(), buf.size(), qint64(headerLength_) + qint64(first) * recordLength_);
        for (int i = 0; i < n; ++i) {
            if (qint64(i + 1) * recordLength_ <= got)
                visit(first + i, buf.constData() + qsizetype(i) * recordLength_);
            else
                visit(first + i, missingRecord_.constData());
        }
    }
}
