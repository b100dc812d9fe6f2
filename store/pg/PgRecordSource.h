#pragma once
// The rows of the results table presented to a table data set as records in the dBase table's
// layout, so that the grid, the record panel and their edits work on the server's rows. Record
// index i is the row with id i + 1; an id without a row (a number an insert took and gave up) or
// a deleted row reads as a deleted record, which the data set hides.
//
// Reading: the record count is max(id), read at opening and refresh (the primary key answers it
// without counting). Rows come in blocks of kBlockRows read by keyset (id BETWEEN ...), and at
// most kCachedBlocks stay cached (least recently used go first), so Last() or a jump costs one
// block, not the rows before it. A refresh drops them all.
//
// Counting the shown rows of chunks (countShown) reads indexes, not rows: the ids of a chunk by an
// index-only scan of the primary key, less its deleted ones from a partial index (results_deleted),
// all chunks asked for in one statement. Offline it answers as a read does: nothing shown, and the
// server is not tried until refresh().
//
// Values as the import stores them, read back as the dBase table holds them: texts as they
// stand, DAT as yyyymmdd, NULL as blanks. Writing, a field whose bytes did not change is not
// written (its NULL or '' stays as it was); a field written blank is NULL.
//
// Offline: a block the server cannot give (no answer within answerWithinMs, or no connection)
// reads as deleted records, which the data set hides, so a grid shows what it had cached and never
// waits on a server that went away; no read tries the server again until refresh() (which raises
// EStoreAway while it is away, keeping what is cached). Writes always try, and raise.
//
// Writing happens between beginWrite() (BEGIN on this source's own connection) and endWrite()
// (COMMIT); whatever else is written in between on connection() (the history entry) commits
// with the row or not at all. readFresh() in between reads the row FOR UPDATE, so that the row a
// data set compares with the one its edit began from stays so until the commit (two programs
// posting one row take turns, and the second finds the first's change). A lost server raises EStoreAway (the data set keeps what was
// typed; the next call connects again); a value the server refuses raises ERowRefused naming
// the field.
//
// Knows: the schema's results table, the record layout and the field codec. Must not know: the
// audit chains' rules, windows. Untrusted: every value the server answers (encoded through the
// codec, which refuses what does not fit) and the URI (never shown: pg::maskedUri).
#include "engine/DbfFile.h"
#include "engine/RecordSource.h"
#include "store/pg/PgConnection.h"

#include <list>
#include <memory>

class PgRecordSource : public TRecordSource {
public:
    static constexpr int kBlockRows = 256;
    static constexpr int kCachedBlocks = 64;

    // Connects, checks the schema and reads the record count; raises EStoreAway when the server
    // cannot be reached, EDatabaseError when the database has no current schema. answerWithinMs:
    // as pg::Connection's (0: wait as libpq does).
    explicit PgRecordSource(QString uri, int answerWithinMs = 0);
    ~PgRecordSource() override;

    // The result table's fields with their offsets in a record, as DbfFile lays them out.
    static const std::vector<DbfField>& layout();
    static int recordLength();
    // The select list a row is read with (id, deleted, then the fields in record order; DAT as
    // its eight digits), and such a row as a record. A value the field codec refuses raises, or
    // with leaveRefusedBlank is left blank (a check, which then names the field as differing).
    static const QString& columnsRead();
    static QByteArray recordOf(const pg::Row& row, bool leaveRefusedBlank = false);
    // Row `row` of such an answer laid into record, which holds blanks: the faster way for many rows.
    static void putRow(const pg::Rows& rows, int row, char* record, bool leaveRefusedBlank = false);
    // Its id.
    static qint64 idOf(const pg::Rows& rows, int row);

    const std::vector<DbfField>& fields() const override { return layout(); }
    int recordCount() const override { return count_; }
    std::uint64_t generation() const override { return generation_; }
    const char* record(int index) override;
    QByteArray readFresh(int index) override;
    void forEach(int from, int to, const std::function<void(int, const char*)>& visit) override;
    std::vector<int> countShown(int first, int chunks, int chunkSize) override;
    void refresh() override;
    // Past the end, the count goes no further than the server's last id: what another program
    // said is checked, not believed.
    void changedElsewhere(int first, int last) override;
    QByteArray blankRecord() const override;
    bool writable() const override { return true; }
    QStringList warnings() const override { return {}; }

    int append(const QByteArray& record) override;
    void write(int index, const QByteArray& record) override;
    void setDeleted(int index, bool deleted) override;
    void beginWrite() override;
    void endWrite() override;
    void abortWrite() noexcept override;

    // The connection the current write runs on; what is written on it commits with the row.
    pg::Connection& connection();
    // The id the next append() gives its row (taken now, so that what is written before the row,
    // its history entry, can name it); a write given up leaves the number unused.
    int reserveAppend();

    // True after a read the server did not answer, until a refresh() that it does.
    bool offline() const { return offline_; }

    // Blocks read from the server since opening (each one statement).
    qint64 blocksRead() const { return blocksRead_; }

private:
    struct Block {
        int first = 0;  // index of its first record
        QByteArray bytes;
    };
    // Runs work on the connection; a lost one is dropped, to connect again on the next call.
    template <class F> auto guarded(F work) -> decltype(work());
    Block& block(int index);
    QByteArray readBlock(int first);
    void dropBlocks(int fromIndex, int toIndex);
    QByteArray fetchRow(int index, bool forUpdate);

    QString uri_;
    int answerWithinMs_ = 0;
    std::unique_ptr<pg::Connection> connection_;
    bool offline_ = false;
    int count_ = 0;
    std::uint64_t generation_ = 1;
    std::list<Block> blocks_;  // most recently used first
    Block unread_;             // a block the server did not give: no bytes
    QByteArray gone_;          // the record of an index past the end
    int reserved_ = 0;
    // What readFresh() answered during the current write, the row it locked: what write()
    // compares the new record with, field by field.
    int freshIndex_ = -1;
    QByteArray fresh_;
    bool writing_ = false;
    qint64 blocksRead_ = 0;
};
