#pragma once
// Moving a lab's results between a program folder and a PostgreSQL database, both ways: the rows
// of DB/HEMATIX.dbf, the message archive and the change history (the chains of Archive/) and the
// line log. What hematix-migrate runs.
//
// Record numbers are kept: record N is row id N (a deleted record a deleted row), so the
// history's record numbers name the same rows on both sides; back, an id without a row is a
// deleted blank record. A row's identity_key is the "id" of the archive entry it was stored by,
// as PgResultStore::store sets it; a row without one (adopted, typed in, origin pruned) has none,
// as a row typed in on the server has none. Two undeleted rows of one message (a deleted row
// restored after the message was stored again) leave the key with the later one, which a resend
// names in the folder, and say so.
//
// Chains are copied entry by entry, their lines byte for byte (seq, prev and time are in them),
// so both sides link and each side's check reads the same heads. The line log goes over line by
// line; its times as instants (the database keeps no offset: written back, they carry the local
// one).
//
// Resumable: each part goes over in batches, each one transaction on the server (or one synced
// write in the folder), and a run starts each part where the target ends, after checking that
// the target's last entry, line or row is the source's own at that place: a target holding
// another source's rows or entries, or more than the source has, is refused before anything is
// written to it. The chains go first and the rows last, so a target with rows has the chains
// whole. Into the database, the identity sequence is first set past the folder's last record,
// so a program storing meanwhile takes no id a record needs (its row then makes the next run
// refuse the database as holding rows of its own: stop the programs while moving a lab).
//
// Memory stays bounded whatever the source's size: records, entries and lines are streamed, a
// batch holds at most kBatchBytes of them, and a row's identity is looked up on the server.
//
// Knows: the result table's layout, the chain files and tables, the line log's format, the
// schema. Must not know: windows, capture files, what entries mean beyond a message's origin.
// Untrusted: every source file (any bytes: a line that is no entry, a seq that does not follow,
// a date that is no date, refused naming the file and line or the record) and everything the
// database answers (read through PgRecordSource and pgchain::Reader, which parse, never believe).
#include "engine/DbTypes.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace pgmigrate {

// Now and then, what has gone over so far ("history: 12000 entries").
using Progress = std::function<void(const QString&)>;

struct Options {
    int batch = 1000;                   // rows, entries or lines a transaction at most
    Progress progress;
};

// Larger batches cost more than they save: the server takes a long array apart slowly.
constexpr qint64 kBatchBytes = 1 << 20;

struct Moved {
    qint64 rows = 0;       // rows (records) written now
    qint64 messages = 0;   // archive entries written now
    qint64 history = 0;    // history entries written now
    qint64 lineLog = 0;    // line log lines written now
    QStringList notes;     // what is worth telling and is no failure
};

// Copies the program folder (ends with its separator) into the database uri names, which
// hematix-mkdb --database made. Raises EDatabaseError (or EStoreAway) naming what failed; what
// was committed before stays and the next run goes on from there.
Moved toDatabase(const QString& programFolder, const QString& uri, const Options& options);

// Writes the database's rows and trail into the program folder: DB/HEMATIX.dbf (made when
// missing) and the day files of Archive/. Raises as toDatabase.
Moved toFolder(const QString& uri, const QString& programFolder, const Options& options);

} // namespace pgmigrate
