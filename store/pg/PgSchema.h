#pragma once
// The results' schema in a PostgreSQL database, versioned: the table hematix_schema holds the
// version a database has, and each version has one step that brings the one before it there.
// Making the schema is the step from version 0 (an empty database) to 1; a later version adds
// a step and raises kVersion, and every step runs in the one transaction that ensure() opens.
//
// Version 1:
// - results: id (identity: the record number and the row order), deleted, find_text (findText),
//   dat (date), the other 27 fields of the result table in file order as varchar of their width
//   (texts as received, NULL and '' apart), identity_key (the message's identity as
//   audit::identityId gives it), unique among undeleted rows; every text field must be in code
//   page 1251 as engine/Cp1251 has it (a named CHECK per field, <field>_cp1251); an index on dat,
//   a trigram index (pg_trgm) on find_text for finding part of a number or name, and one on the
//   folded whole name (foldedName) for a patient's rows.
// - archive, history: the audit chains as rows (seq, prev, time, kind, the record and the
//   capture key the entry names, the entry's JSON line), indexed by time (BRIN), the history
//   by record, the archive by capture (hash);
//   line_log: the bytes of the serial line with their time and direction.
// - hematix_store(the kRowArguments texts of an imported row, key, capture, at, at_json,
//   entry_rest): stores a message in one statement (storeCall), so that a message costs one round
//   trip and one commit. Without a capture (no bytes) it answers a row among the recent ones with
//   the same values (ResultStore::kRecentRows) as stored before. It inserts the row unless an
//   undeleted row holds key (the unique index decides between programs); with a capture it then
//   takes the archive's lock (as pgchain::Chain::lock) and appends the archive entry exactly as audit::Chain writes
//   it: {"seq","prev","time":at_json,"kind":"message","outcome":"stored"|"resend","record":id
//   then entry_rest (the rest of audit::MessageArchive::entry's object after "record"); a resend
//   of a capture already archived adds nothing. at is the entry's time for the time column.
//   Answers row_id (NULL: the row holding key went meanwhile) and is_new.
// - hematix_fit(field, width, value): the value unchanged, or an error naming the field when the
//   value is too long or outside code page 1251. varchar refuses a long text without naming its
//   column, so statements write their values through it (checkedValue), as hematix_store does
//   when its own test of a row finds a misfit.
//
// Version 2: results is vacuumed after every 10,000 rows inserted (not a fifth of the table), so
// that counting a range of rows reads the primary key's index alone.
//
// Version 3: every statement that inserts or updates rows of results notifies "FIRST LAST" (the
// least and greatest id it wrote) on the channel hematix_rows, delivered at its commit.
//
// Version 4: hematix_store inserts the row before it takes the archive's lock (programs storing
// at once insert side by side) and, with a capture, commits without waiting for the disk, so that
// the lock is not held through the wait; the caller then runs storeFlush(), which returns
// once the disk holds the message's commit, before it lets the capture file go.
//
// Version 5: hematix_in_cp1251 is plpgsql (an SQL function is inlined into each field's check,
// and a table's checks are read back and prepared for every statement); hematix_store answers
// durable too. hematix_waited (a sequence) holds when, in the server's milliseconds, a program
// last waited for the archive's lock. Within a second of that, or waiting itself, hematix_store
// commits without waiting for the disk, as version 4 (durable false); otherwise, a program storing
// alone, its commit waits for the disk itself (durable true) and the caller needs no storeFlush().
//
// Version 6: hematix_store tests the row's texts in one expression (their lengths, and one
// pattern match over them all) and calls hematix_fit for each only when that finds a misfit, to
// raise its error; the fields' own checks stand behind it. It inserts the row unless one holds
// its key in the same statement, and reads the chain's head with hematix_waited. The archive's
// entries are compressed with LZ4.
//
// Knows: the result table's fields, the code page, the connection. Must not know: what the rows
// mean, the audit chains' rules (audit/Chain), windows. Untrusted: the version a database says
// it has.
#include "store/pg/PgConnection.h"

#include <QString>
#include <QStringList>

namespace pgschema {

constexpr int kVersion = 6;

// The version of the connected database's schema; 0 when it has none.
int version(pg::Connection& connection);

struct Ensured {
    int from = 0;
    int to = 0;
    QStringList done;  // one line per step taken; empty when the database was current
};
// Makes the schema in the connected database or brings it to kVersion, in one transaction (two
// programs doing it at once take turns). Raises EDatabaseError for a newer database, as check().
Ensured ensure(pg::Connection& connection);

// Raises EDatabaseError unless the database has the schema at kVersion: a newer one is refused
// ("the database is version N, this program knows up to M"), an older one or none asks for
// hematix-mkdb --database.
void check(pg::Connection& connection);

// The texts of an imported row hematix_store takes first: the date (ISO), TIM, NUM and the
// eighteen values of resulttable::valueFields.
constexpr int kRowArguments = 21;
// "SELECT row_id, is_new, durable FROM hematix_store($1, ..., $26)".
QString storeCall();
// As storeCall(), but its commit never waits for the disk (a backlog's messages wait once, with
// storeFlush()): its third column is not durable.
QString storeCallUnflushed();
// The statement, run on its own after a storeCall() that answered durable false (or after
// storeCallUnflushed() calls), that returns once the server's disk holds what they committed on
// this connection.
QString storeFlush();

// The column a find looks in: the folded number and the folded name (foldedColumn) as one text,
// kept by the database, with a character between them no text looked for holds.
QString findText();

// The column of a result table field ("FIO" -> "fio").
QString column(const QString& field);
// A text column folded as finding compares it (lower case, ё as е), e.g.
// translate(lower(fio), 'ё', 'е'); the indexes are made on exactly these expressions.
QString foldedColumn(const QString& column);
// The patient's whole name folded (trimmed too): what a patient's rows are looked up by.
QString foldedName();
// The expression a statement writes a text field's value through, e.g.
// hematix_fit('FIO', 80, $4).
QString checkedValue(const QString& field, int parameter);

} // namespace pgschema
