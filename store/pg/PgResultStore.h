#pragma once
// The results in a PostgreSQL database (schema: PgSchema), behind the same calls as the dBase
// store. A message's row and its archive entry are written in one transaction, so a crash or a
// lost server leaves both or neither, and the database's own unique index on the message's
// identity (among undeleted rows) makes a message a row once, whichever program stores it.
//
// The row's record number is its id (the identity column): the order rows were stored in. The
// audit chains are the tables archive and history (PgChain), their lines as the dBase store's
// files hold them.
//
// attachRows gives a table the rows through PgRecordSource, each change with its history entry
// in one transaction (PgRowHistory). checkRecent is the check of the trail and the rows
// (pgverify) over the last days; the rows it finds changed outside (by someone's own SQL) get an
// "outside" entry naming the fields before their next edit. selectPeriod opens a query on a
// period's rows read by one SELECT (PgPeriod).
//
// A user who may only read (pgroles: hematix_reader) is found when connecting: writable() says
// so, pruning is left to a program that may write, and restore() is refused.
//
// Knows: the schema, the audit entries' keys, the connection. Must not know: capture files,
// windows, reports. Untrusted: the row's texts (checked by the database through hematix_fit),
// the URI (its password never shown: location()), and everything the database holds.
#include "store/ResultStore.h"
#include "store/pg/PgChain.h"
#include "store/pg/PgConnection.h"
#include "store/pg/PgFinder.h"
#include "store/pg/PgRowHistory.h"

#include <functional>
#include <memory>

class PgResultStore : public ResultStore {
public:
    // programFolder ends with its separator (auditFolder); uri names the database. Connects on
    // the first call and again after the connection was lost.
    PgResultStore(QString programFolder, QString uri, audit::Chain::Clock clock = {});
    ~PgResultStore() override;
    PgResultStore(const PgResultStore&) = delete;
    PgResultStore& operator=(const PgResultStore&) = delete;

    // For a store used on the window's thread: every statement of it, and of the rows and finds
    // it gives, waits at most ms for the server (pg::Connection), so the window never hangs on a
    // server gone away; a longer wait is the store away. 0 (the default): as libpq waits.
    void setAnswerWithin(int ms);
    // What the window does while a period's rows are read beside it, on a thread and connection
    // of their own (with an answer time set: they may take longer than it): keep its events
    // going. Called every few milliseconds until the rows are there.
    void setWhileWaiting(std::function<void()> hook) { whileWaiting_ = std::move(hook); }
    // Whether the server answers now (connecting when needed), within the answer time.
    bool reachable(QString* why) override;
    // Whether the connected user may change the results (pgroles::userMayWrite), read when
    // connecting (connecting now when needed, within the answer time). A store that may not
    // prunes nothing at start and refuses restore() with why.
    bool writable(QString* who) override;
    // True when the rows attachRows gave a table missed the server (PgRecordSource::offline):
    // the table's next refresh reads them again.
    bool rowsOffline() const;

    Stored store(const ImportedRow& row, const audit::ReceivedMessage& message) override;
    // Commits without waiting for the server's disk; flush() waits once for all of them.
    Stored storeUnflushed(const ImportedRow& row, const audit::ReceivedMessage& message) override;
    void flush() override;
    void setAside(const audit::ReceivedMessage& message, const ImportedRow* row, const QString& reason) override;
    AuditOpened openAudit(int keepDays) override;
    audit::VerifyReport checkRecent(int days, const std::atomic_bool* cancel) const override;
    void noteChangedOutside(const QList<int>& records) override;
    void restore(int record) override;
    QString auditFolder() const override { return folder_; }
    audit::RecordStory storyOf(int record) override;
    QList<QJsonObject> messagesOfDay(const QDate& day) override;
    void selectPeriod(TQuery& query, const QDate& first, const QDate& last) override;
    void attachRows(TTable& table) override;
    QString location() const override;
    RowFinder& finder() override { return finder_; }
    void openFinder() override {}

private:
    pg::Connection& connection();
    // Runs work, turning the connection's errors into the store's: a lost connection is dropped
    // (the next call connects again); anything but a refused row means the store is away.
    template <class F> auto guarded(const QString& what, F work) -> decltype(work());
    PgRowHistory& rowHistory();
    // onDisk: the row on the server's disk before this returns, or owed to flush().
    Stored storeRow(const ImportedRow& row, const audit::ReceivedMessage& message, bool onDisk);
    // Runs the statement that returns once the server's disk holds this connection's commits.
    void waitForDisk();
    bool flushLost() const;  // a flush is owed on a connection that is gone
    EStoreAway lostBeforeFlush() const;

    QString folder_;
    QString uri_;
    int answerWithinMs_ = 0;
    std::function<void()> whileWaiting_;
    std::unique_ptr<pg::Connection> connection_;
    bool writable_ = true;  // of connection_'s user
    int connections_ = 0;  // connections made so far
    // The connection on which storeUnflushed() committed what flush() has not waited for (0:
    // none). On another, a server that restarted may have lost those commits.
    int flushOwedOn_ = 0;
    QString user_;
    pgchain::Chain archive_, history_;
    PgFinder finder_;
    // The history of the table attachRows was last given (one at a time).
    std::unique_ptr<PgRowHistory> rowHistory_;
};
