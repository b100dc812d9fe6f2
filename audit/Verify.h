#pragma once
// The check of the audit trail: both chains link entry to entry, and every row of the result
// table holds what its origin and its history say it holds. What `hematix-audit verify` prints
// and what the program runs at start over the last days, in the background, to mark the rows
// changed outside it.
//
// The check reads a TrailSource (audit/TrailSource): a program folder's day files and dBase
// table, or a store's tables, so that the same parser, link check and row comparison judge both.
//
// A row is followed as a small sum, not as its texts: for every field, a keyed 64-bit hash of
// (field, text), added up over the row's fields, twice over with two keys drawn for each run
// (128 bits a row, so that nobody can prepare a collision in advance). An edit adds the hash of
// its new text and takes off that of its old one. A million rows thus cost some 24 bytes each.
//
// The trail and the table are read without a lock, as other programs write them. When either
// changed while the check ran (an import, an edit; the source's fingerprint tells), the check
// runs again, a few times at most, so that a change made in between is not taken for one made
// outside.
//
// Knows: the chains and their entry keys, the table's records (engine). Must not know: the
// store, windows. Untrusted: every line and every row a source gives (any bytes); what they say
// is compared, never believed.
#include "audit/Chain.h"
#include "audit/ChangeHistory.h"
#include "audit/TrailSource.h"
#include "engine/DbfFile.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <vector>

namespace audit {

struct VerifyOptions {
    QString tableFile;  // the result table (DB/HEMATIX.dbf of the program folder); a folder's only
    // 0: everything. N: only the day files of the last N days (as ChangeHistory::unresolved
    // counts them), links checked inside them, rows compared when their origin is in them.
    int days = 0;
    // Bytes read so far of the bytes to read (chain files and table); called now and then.
    std::function<void(qint64 done, qint64 total)> progress;
    const std::atomic_bool* cancel = nullptr;
    QDate today;  // the day the last N days end on; invalid: the current date
};

struct VerifyReport {
    // What does not hold, each a sentence naming the place (file and line, or the row's record
    // number, sample number and date). At most kMaxBreaks are listed; the rest are counted.
    QStringList breaks;
    qint64 breaksNotListed = 0;
    // What is worth knowing and is no break (a last line a crash cut short).
    QStringList notes;
    // Records whose values differ from what the trail says they hold.
    QList<int> changedOutside;
    Head messagesHead, historyHead;  // the last complete entry of each chain as read
    qint64 rowsChecked = 0;          // rows whose values were compared
    qint64 originPruned = 0;         // rows without an origin whose messages were pruned
    qint64 entries = 0;              // entries read, both chains
    qint64 rounds = 0;               // times the whole check ran (more when files changed under it)
    bool cancelled = false;
    bool ok() const { return breaks.isEmpty() && breaksNotListed == 0 && !cancelled; }
};

constexpr int kMaxBreaks = 1000;

// The check of a program folder's trail against options.tableFile.
VerifyReport verify(const QString& programFolder, const VerifyOptions& options);
// The check of any source's trail (options.tableFile unused). Raises what the source raises
// when it cannot be read at all.
VerifyReport verify(TrailSource& source, const VerifyOptions& options);

// What the trail says each of the given rows holds now, field by field in the table's order
// (origin, then the changes applied), for the rows it knows an origin of among the day files
// since `since` (all when invalid). problems: per row, where the trail contradicts itself (an
// edit whose old text is not what the row held).
struct ExpectedRow {
    RowValues values;
    QStringList problems;
};
QHash<int, ExpectedRow> expectedRows(const QString& programFolder, const std::vector<DbfField>& fields,
                                     const QList<int>& records, const QDate& since = {});
QHash<int, ExpectedRow> expectedRows(TrailSource& source, const std::vector<DbfField>& fields,
                                     const QList<int>& records, const QDate& since = {});

} // namespace audit
