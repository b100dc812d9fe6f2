#pragma once
// The name and number index of the dBase result table: per record its sample number and patient
// name, folded, held in memory and kept beside the table in DB/HEMATIX.hxindex, a cache that can
// always be made again from the table (never part of the table file or its header).
//
// At open, on a thread of its own, the cache file is read when it was made from the table as it
// is now (record count, file size, identity and time, the header's last update and a hash of the
// last records all agree); otherwise the table is read anew. The file is removed once read and
// written again when the program ends, so a crash leaves none and the next start reads the table.
// Rows the import stores and rows edited through the program are told to it (noteWritten); rows
// another program appends are read at the next request; a table that shrank or was replaced is
// read anew.
//
// Knows: the result table's layout (NUM, FIO, the deleted mark) and code page 1251. Must not
// know: windows. Untrusted: the table's bytes and the cache file (any size, kind and bytes: one
// that does not read as this unit writes it is set aside and the table read).
#include "store/RowFinder.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

class DbfFile;

class DbfNameIndex : public RowFinder {
public:
    explicit DbfNameIndex(QString tableFile);
    ~DbfNameIndex() override;
    DbfNameIndex(const DbfNameIndex&) = delete;
    DbfNameIndex& operator=(const DbfNameIndex&) = delete;

    // The cache file that belongs to a table file.
    static QString cacheFile(const QString& tableFile);

    // Starts reading the cache or the table beside the caller; returns at once.
    void open();
    // Waits until the index is ready (tests, benchmarks, tools); false when it could not be made.
    bool waitReady();
    // Writes the cache file for the table as it is now; false (and nothing left under its name)
    // when it cannot: a missing cache costs a reading of the table at the next start, no more.
    bool save();
    // Whether the index in use was read from the cache file (else from the table).
    bool fromCache() const { return fromCache_; }
    // A row this program stored, changed, deleted or restored.
    void noteWritten(int record);

    std::optional<Match> find(const QString& text, int from, bool backward, const Progress& progress) override;
    QList<int> patientRecords(const QString& name, const Progress& progress) override;
    audit::RowValues valuesAt(int record) override;
    bool ready() override;
    int buildPercent() const override { return percent_; }

    // The cache file's bytes for a head and body as save() writes them: sealed with the sum the
    // reading checks (so that fuzzing reaches the checks behind it). kHeadSize: the head's bytes.
    static QByteArray sealed(QByteArray headAndBody);
    static constexpr int kHeadSize = 80;

    // The bytes a text compares by: code page 1251, trimmed, lower case, ё as е. Empty when the
    // text holds a character the code page lacks (no row can hold it).
    static QByteArray fold(QStringView text);

    struct Data;

private:
    void startBuilding();
    void stopBuilding();
    bool adoptBuilt();
    // Brings the index up to the table (rows appended since); false when the table must be read
    // anew (it shrank or was replaced) or cannot be read.
    bool catchUp();
    // The index for a request: the one in use, else the table read now on the caller's thread.
    Data* forRequest(const Progress& progress);
    void openFile();

    QString path_;
    std::unique_ptr<Data> data_;        // in use, on the requesting thread only
    std::unique_ptr<DbfFile> file_;     // the table as the requesting thread reads it
    qint64 fileInode_ = 0, fileDevice_ = 0;
    QList<int> noted_;                  // written since the last request

    std::thread builder_;
    std::atomic_bool cancel_{false};
    std::atomic_int percent_{0};
    std::atomic_bool done_{false};
    std::atomic_bool fromCache_{false};
    std::mutex builtLock_;
    std::unique_ptr<Data> built_;       // handed over by the builder
    bool building_ = false;
};
