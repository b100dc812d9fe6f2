#pragma once
// The history of the rows on PostgreSQL: hears every change a table data set writes through a
// PgRecordSource and appends its entry to the history chain (PgChain) on the source's own
// connection, inside the transaction the source began for the change. The row and its entry
// commit together or not at all, so an entry is never left pending and there is no "applied"
// to follow it: the entries are those audit::ChangeHistory writes, without "state".
//
// An insert's entry names the id the row will get (PgRecordSource::reserveAppend), not the
// record number the data set expects, which rows others added or numbers given up may have
// passed.
//
// A row the start-up check found changed outside the program (someone's own statement, which
// has no entry) gets an "outside" entry naming the fields that differ from what the trail says,
// written before its next edit's entry, in the same transaction, as the dBase store does.
//
// An edit refused because another program changed the row after it was read gets its
// "refused" entry (as the dBase store's) in the write's transaction, which then commits without
// the row.
//
// One table at a time: attach() points it at the source the table opened last.
//
// Knows: the record layout, the history chain, the source it is attached to. Must not know:
// windows, capture files. Untrusted: the records' bytes (any text, any field).
#include "audit/ChangeHistory.h"
#include "engine/DataSet.h"
#include "store/pg/PgChain.h"

#include <QSet>

class PgRecordSource;
class TTable;

class PgRowHistory : public TWriteObserver {
public:
    explicit PgRowHistory(pgchain::Chain history, audit::Author author = audit::Author::ofThisProcess());

    // The source whose writes this hears; nullptr detaches.
    void attach(PgRecordSource* source) { source_ = source; }
    PgRecordSource* source() const { return source_; }

    // Rows the start-up check found changed outside the program: their next edit looks up what
    // the trail says they hold and names the fields that differ.
    void setChangedOutside(const QList<int>& records);

    qint64 beforeWrite(Change change, int recNo, const std::vector<DbfField>& fields, const QByteArray& before,
                       const QByteArray& after) override;
    void afterWrite(qint64, bool) noexcept override {}
    void refused(int recNo, const std::vector<DbfField>& fields, const QByteArray& read, const QByteArray& tried,
                 const QByteArray& now) noexcept override;

    // Makes table read the rows of the database at uri (shown as name), each change written with
    // its entry through history, which must outlive the table's opening. answerWithinMs: as
    // PgRecordSource's.
    static void attachTable(TTable& table, const QString& uri, const QString& name, PgRowHistory& history,
                            int answerWithinMs = 0);

private:
    // The "outside" entry of a row found changed, when its fields (before) differ from its trail.
    void noteOutside(int recNo, const std::vector<DbfField>& fields, const QByteArray& before);

    pgchain::Chain history_;
    audit::Author author_;
    PgRecordSource* source_ = nullptr;
    QSet<int> changedOutside_;
};
