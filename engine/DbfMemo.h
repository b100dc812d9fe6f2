#pragma once
// The memo file beside a dBase table: .dbt of dBase III (512-byte blocks, a memo ends with
// 0x1A 0x1A), .dbt of dBase IV (blocks headed FF FF 08 00 and a length) and FoxPro's .fpt
// (big-endian block size and lengths). A record's memo field holds the number of the memo's
// first block; block 0 is the file's header with the next free block.
//
// Reading trusts nothing in the file: a block number or length that points outside the file
// reads as far as the file goes, and no memo is read past kMaxMemo bytes.
#include <QByteArray>
#include <QString>
#include <cstdint>

class DbfMemo {
public:
    enum class Kind { DBase3, DBase4, FoxPro };
    static constexpr qint64 kMaxMemo = 16 * 1024 * 1024;

    // Opens the memo file; raises EDatabaseError when it cannot be opened.
    DbfMemo(const QString& path, Kind kind, bool writable);
    ~DbfMemo();
    DbfMemo(const DbfMemo&) = delete;
    DbfMemo& operator=(const DbfMemo&) = delete;

    // Writes a new dBase III memo file holding no memo; refuses to replace an existing file.
    static void createDBase3(const QString& path);

    Kind kind() const { return kind_; }
    const QString& path() const { return path_; }

    // The bytes of the memo starting at that block (empty for block 0).
    QByteArray read(std::uint32_t block) const;
    // Writes a memo in new blocks at the end, durably, and returns its first block. The caller
    // holds the table's write lock. Raises EDatabaseError when the text cannot be stored (a
    // dBase III memo cannot hold the byte 0x1A).
    std::uint32_t append(const QByteArray& bytes);

private:
    std::uint32_t nextFreeBlock() const;
    qint64 fileSize() const;

    QString path_;
    Kind kind_;
    int fd_ = -1;
    bool writable_ = false;
    int blockSize_ = 512;
};
