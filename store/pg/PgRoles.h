#pragma once
// Who may do what with the results in a PostgreSQL database: two group roles (NOLOGIN) that a
// lab gives its login users (GRANT hematix_writer TO anna), and whether the connected user may
// change the results at all.
// - hematix_reader reads what the program reads: results, archive, history, line_log and
//   hematix_schema (CONNECT on the database, USAGE on the schema), nothing else.
// - hematix_writer is a member of hematix_reader and adds what storing a message, editing,
//   deleting and restoring rows need: INSERT on results, UPDATE of the deleted flag and of the 28
//   fields only (never id or identity_key), the row numbers (USAGE on the identity sequence),
//   INSERT on history and archive, DELETE on archive (its pruning at start), EXECUTE on
//   hematix_store, hematix_fit and hematix_in_cp1251 (the fields' checks). No UPDATE of an
//   entry, no DELETE of a row or of the history.
// PUBLIC loses what it has by default where that matters: EXECUTE on those functions, CONNECT
// and TEMPORARY on the database (only the roles and the owner connect), CREATE on the schema.
//
// Knows: the schema's objects and the statements of store/pg that touch them, the catalog's
// privileges. Must not know: what rows mean, windows. Untrusted: the rights a database holds
// (set back to these whatever someone granted since).
#include "store/pg/PgConnection.h"

#include <QStringList>

namespace pgroles {

inline constexpr char kReader[] = "hematix_reader";
inline constexpr char kWriter[] = "hematix_writer";

struct Ensured {
    QStringList done;   // one line per change made; empty when all was so already
    QStringList notes;  // what could not be done by this user, and how to do it
};
// Makes the roles when missing and sets their rights on the connected database exactly as above
// (rights missing granted, any others revoked), in one transaction. The schema must be current
// (pgschema::check); its objects stay owned by whoever made them. Making roles needs CREATEROLE;
// the database's rights need its owner (otherwise a note says what to run).
Ensured ensure(pg::Connection& connection);

// Whether the connected user may change the results as the program does (every right
// hematix_writer has, however had: the role, ownership, a superuser). user: who is connected.
bool userMayWrite(pg::Connection& connection, QString* user = nullptr);

} // namespace pgroles
