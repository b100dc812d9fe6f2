#pragma once
// The audit trail of the PostgreSQL store as the check (audit::verify) and a row's story
// (audit::storiesOf) read it: the chains from the tables archive and history, their lines as the
// folder's day files hold them (an entry's place is "archive seq N", "history seq N"), and the
// rows from results as records in the dBase table's layout (PgRecordSource::layout). Everything
// is read by keyset in batches, never all at once; an id no row has (a number an insert took and
// gave up) is no row. A change and its history entry commit together here, so no "applied"
// follows a change.
//
// pgverify::verify reads in one read-only REPEATABLE READ transaction: the chains and the rows
// are one view that no import or edit changes under it, so the check runs once.
//
// Knows: the schema's tables, the record layout, the field codec, the connection. Must not know:
// what entries mean (audit's), windows. Untrusted: every row read back (any text; a value that
// does not fit its field reads as blank, and the check then names the field), the URI (never
// shown: pg::maskedUri).
#include "audit/RecordStory.h"
#include "audit/Verify.h"
#include "store/pg/PgConnection.h"

class PgTrail : public audit::TrailSource {
public:
    // Reads on connection, in whatever transaction it is in.
    explicit PgTrail(pg::Connection& connection) : connection_(connection) {}

    std::unique_ptr<audit::ChainInput> chain(Which which, const QDate& since, const QList<int>* records) override;
    std::unique_ptr<audit::RowInput> rows(QString& problem) override;
    bool changesCommitWithEntries() const override { return true; }
    QByteArray fingerprint() override { return {}; }

    // How many entries a batch of a chain holds, and rows a batch of the table.
    static constexpr int kEntryBatch = 500;
    static constexpr int kRowBatch = 1000;

private:
    pg::Connection& connection_;
};

namespace pgverify {

// The check of the database at uri, as audit::verify checks a folder (options.tableFile unused).
// Raises EStoreAway when the server cannot be reached or is lost meanwhile, EDatabaseError when
// the database has no current schema.
audit::VerifyReport verify(const QString& uri, const audit::VerifyOptions& options);

// The stories of rows, on connection.
QList<audit::RecordStory> storiesOf(pg::Connection& connection, const QList<int>& records);

// The message entries of the archive made on day (local time), in order.
QList<QJsonObject> messagesOfDay(pg::Connection& connection, const QDate& day);

} // namespace pgverify
