#pragma once
// The records a table data set (TTable) reads and writes, in the dBase record layout: byte 0 the
// deleted mark, then each field's bytes as the field codec lays them out. A dBase file is one
// (DbfFile); another store may present its rows this way (a record per row number, a row that is
// not there as a deleted record), so that the grid, the record panel and their edits work on it
// unchanged.
//
// Knows: the record layout. Must not know: where the records are kept. Untrusted: what the records
// hold (the data set reads them through the field codec, which checks every length).
#include "engine/DbTypes.h"

#include <QByteArray>
#include <QStringList>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

struct DbfField;
class DbfMemo;

class TRecordSource {
public:
    virtual ~TRecordSource() = default;

    virtual const std::vector<DbfField>& fields() const = 0;
    // Records there are, deleted ones included, as of opening, the last refresh or write.
    virtual int recordCount() const = 0;
    // Bumped whenever records may have changed under what a caller derived from earlier reads.
    virtual std::uint64_t generation() const = 0;
    // The bytes of record index (from 0), valid until the next call on this source; a record that
    // is gone reads as a deleted blank record.
    virtual const char* record(int index) = 0;
    bool isDeleted(int index) { return record(index)[0] == '*'; }
    // The record as the store holds it now, past any cache; empty when it is gone.
    virtual QByteArray readFresh(int index) = 0;
    // Calls visit(index, bytes) for records from..to-1 (clipped to the records there are).
    virtual void forEach(int from, int to, const std::function<void(int, const char*)>& visit) = 0;
    // Shown records (present, not deleted) in each of chunks chunks of chunkSize records from
    // chunk first on, one count a chunk (records past recordCount() are not shown). A store that
    // can count without reading whole records (a server's index) answers in one go; this reads
    // them through forEach.
    virtual std::vector<int> countShown(int first, int chunks, int chunkSize)
    {
        std::vector<int> counts(size_t(std::max(chunks, 0)), 0);
        const int from = first * chunkSize;
        forEach(from, from + chunks * chunkSize, [&](int index, const char* rec) {
            counts[size_t((index - from) / chunkSize)] += rec[0] != '*';
        });
        return counts;
    }
    // Reads the record count anew (rows others added appear) and drops what is cached.
    virtual void refresh() = 0;
    // Told that records first..last (from 0) were written elsewhere, some perhaps past the end:
    // what is cached of them is dropped, and the count takes in the last. A source that caches
    // nothing and counts at refresh only needs nothing here.
    virtual void changedElsewhere(int first, int last)
    {
        (void)first;
        (void)last;
    }
    // A record of blanks, not deleted.
    virtual QByteArray blankRecord() const = 0;
    virtual bool writable() const = 0;
    // What opening noticed and is worth telling.
    virtual QStringList warnings() const = 0;
    // The memo file records point into; none for a source without memo fields.
    virtual DbfMemo* memo() const { return nullptr; }

    // Durable writes, each done when it returns; raise EDatabaseError. Called between
    // beginWrite() and endWrite()/abortWrite().
    virtual int append(const QByteArray& record) = 0;
    virtual void write(int index, const QByteArray& record) = 0;
    virtual void setDeleted(int index, bool deleted) = 0;

    // Around one change and whatever is written with it (its history entry): nothing else writes
    // the records in between. endWrite() makes it final (and may raise); abortWrite() gives up
    // what endWrite() would have made final, where the source can.
    virtual void beginWrite() = 0;
    virtual void endWrite() = 0;
    virtual void abortWrite() noexcept = 0;

    // beginWrite() for as long as it lives; abortWrite() unless commit() was called.
    class WriteScope {
    public:
        explicit WriteScope(TRecordSource& source) : source_(source) { source_.beginWrite(); }
        ~WriteScope()
        {
            if (!done_)
                source_.abortWrite();
        }
        // An endWrite() that raises is followed by abortWrite().
        void commit()
        {
            source_.endWrite();
            done_ = true;
        }
        WriteScope(const WriteScope&) = delete;
        WriteScope& operator=(const WriteScope&) = delete;

    private:
        TRecordSource& source_;
        bool done_ = false;
    };
};
