#pragma once
// The results in the dBase table DB/HEMATIX.dbf of the program folder. The engine's SQL dialect
// (quoted file paths, month/day/year dates in double quotes) stays inside this unit and
// store/Statements; the rest of the program asks in store-level terms (ResultStore).
//
// Recognising a message already stored reads only what changed: the keys of the recent rows are
// kept between inserts and brought up to the file each time (rows other programs added are read
// once; a table that shrank or was replaced is read again), and a key found is checked against
// the row as the file holds it now, so a row staff deleted does not count.
//
// Knows: the result table's layout, the engine's statements and files. Must not know: capture
// files, windows, reports. Untrusted: the row's texts; the table's contents.
#include "audit/ChangeHistory.h"
#include "store/DbfNameIndex.h"
#include "store/ResultStore.h"
#include "store/RowHistory.h"

#include <memory>

class DbfResultStore : public ResultStore {
public:
    // programFolder ends with its separator. statements is the query the INSERTs go through (the
    // main window's); without one the store makes its own.
    explicit DbfResultStore(QString programFolder, TQuery* statements = nullptr);
    ~DbfResultStore() override;
    DbfResultStore(const DbfResultStore&) = delete;
    DbfResultStore& operator=(const DbfResultStore&) = delete;

    Stored store(const ImportedRow& row, const audit::ReceivedMessage& message) override;
    void setAside(const audit::ReceivedMessage& message, const ImportedRow* row, const QString& reason) override;
    AuditOpened openAudit(int keepDays) override;
    void restore(int record) override;
    audit::VerifyReport checkRecent(int days, const std::atomic_bool* cancel) const override;
    void noteChangedOutside(const QList<int>& records) override;
    QString auditFolder() const override { return folder_; }

    // The identity of a message's row as the archive keeps it.
    static audit::Identity identityOf(const ImportedRow& row);
    // The row's history writer (the start-up check tells it of rows changed outside).
    RowHistory& rowHistory() { return *rowHistory_; }
    void selectPeriod(TQuery& query, const QDate& first, const QDate& last) override;
    void attachRows(TTable& table) override;
    QString location() const override;
    RowFinder& finder() override;
    void openFinder() override;

private:
    class RecentRows;
    // True when record holds a row (not deleted) with the date and time of key (the key the
    // message's row makes).
    bool stillHolds(int record, const QByteArray& key);
    QString folder_;
    std::unique_ptr<TQuery> ownQuery_;
    TQuery* statements_;
    std::unique_ptr<RecentRows> recent_;
    std::unique_ptr<audit::MessageArchive> archive_;
    std::unique_ptr<audit::ChangeHistory> history_;
    std::unique_ptr<RowHistory> rowHistory_;
    std::unique_ptr<DbfNameIndex> index_;
};
