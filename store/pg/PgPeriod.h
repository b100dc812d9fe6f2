#pragma once
// The rows of a period on the server, as the dBase store's period query gives them: the
// undeleted rows with DAT from the first day to the last, in record order (id), with the result
// table's fields, types and texts, read by one SELECT (prepared once per connection) through the
// index on dat. The rows come back whole and are kept as dBase records (PgRecordSource's
// layout), so that a field reads exactly as the engine reads it from the file (a NULL and an
// empty text both blank, trailing blanks dropped, DAT a date).
//
// A row set's row numbers are ids - 1, so a result row's place (SqlRowSet::recNo) is its record
// number; an id outside the period reads as a deleted blank row.
//
// Knows: the schema's results table, the record layout, the SQL core's row sets. Must not know:
// reports, windows, the audit trail. Untrusted: every value the server answers (encoded through
// the field codec, which refuses what does not fit).
#include "engine/Sql.h"
#include "store/pg/PgConnection.h"

#include <QDate>
#include <memory>

namespace pgperiod {

// The SELECT, $1 the first day and $2 the last (ISO dates).
QString statement();

// Runs it on connection: the rows from first to last, both included. Raises as the connection
// does (EStoreAway when the server is away).
std::shared_ptr<SqlRowSet> select(pg::Connection& connection, const QDate& first, const QDate& last);

} // namespace pgperiod
