#pragma once
// Which store holds the results: the dBase table of the program folder, or the PostgreSQL
// database named by Database= under [MAIN] of set.ini. The program, its tools and the tests all
// choose here, so that a folder and a URI mean the same everywhere. It sits beside the
// PostgreSQL store because it is the lowest place that sees both stores.
//
// Knows: both stores, the settings file's key. Must not know: windows. Untrusted: the setting
// and any text given as a folder or a URI (a URI holding a password is refused: passwords belong
// in ~/.pgpass or the server's own authentication, never in a settings file).
#include "store/ResultStore.h"

#include <QString>
#include <memory>

namespace storechoice {

// True for a libpq connection URI (postgresql://... or postgres://...); anything else names a
// program folder.
bool isDatabaseUri(const QString& text);

// The Database= setting of the program folder's set.ini, trimmed; empty when there is none.
QString databaseSetting(const QString& programFolder);

// Raises EDatabaseError when database is not a usable URI: not a URI, or one that carries a
// password.
void checkDatabaseUri(const QString& database);

// The store of the program folder (ends with its separator): the dBase table when database is
// empty, else the database it names (checked as above; no connection is made here). statements:
// the query the dBase store's INSERTs go through.
std::unique_ptr<ResultStore> open(const QString& programFolder, const QString& database,
                                  TQuery* statements = nullptr);

} // namespace storechoice
