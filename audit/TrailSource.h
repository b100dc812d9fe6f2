#pragma once
// Where the audit trail and the rows it speaks of are read from: the chains as lines with their
// places, the rows as records in the dBase layout. A program folder's day files and dBase table
// are one (folderTrail); a store that keeps them elsewhere gives its own, so that the check
// (audit/Verify) and a row's story (audit/RecordStory) read both the same way.
//
// Knows: the chains' entries as read (audit/Chain), the record layout (engine). Must not know:
// any store. Untrusted: every line and every row a source gives.
#include "audit/Chain.h"
#include "engine/DbfFile.h"

#include <QDate>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace audit {

// Where an entry or a row is, as a break names it: where, then the number
// ("Archive/history-2026-12-07.jsonl line" 4, "history seq" 17).
struct Place {
    QString where;
    qint64 number = 0;
    bool isEmpty() const { return where.isEmpty(); }
    QString text() const { return where + QLatin1Char(' ') + QString::number(number); }
};

// One chain's entries in chain order.
class ChainInput {
public:
    virtual ~ChainInput() = default;
    // The next entry (parsed as parseLine parses a line) and where it is; false at the end. An
    // entry with lineNumber 0 is a part of the chain that could not be read (problem says why).
    virtual bool next(Entry& entry, Place& at) = 0;
    // Whether the entry last given is in the chain's last part: a line cut short there is an
    // append a crash left, elsewhere a break.
    virtual bool inLastPart() const = 0;
    // How far the reading is, in units of the source's own choosing (for progress).
    virtual qint64 done() const = 0;
    virtual qint64 total() const = 0;
};

// The result table's rows as records: byte 0 '*' for a deleted row, then the fields as the
// field codec lays them out.
class RowInput {
public:
    virtual ~RowInput() = default;
    virtual const std::vector<DbfField>& fields() const = 0;
    // Record numbers run from 1 to count().
    virtual int count() const = 0;
    // Calls visit(record, bytes) for every row from record from on, in record order. A number
    // no row has (one a store took and gave up) is passed over. visit answers false to stop.
    virtual void scan(int from, const std::function<bool(int record, const char* bytes)>& visit) = 0;
    // The row as held now; empty when there is none.
    virtual QByteArray readFresh(int record) = 0;
    // Progress units a row counts for, in the units of the source's chains.
    virtual qint64 unit() const = 0;
};

// Where the trail and the rows are kept.
class TrailSource {
public:
    enum class Which { Messages, History };
    virtual ~TrailSource() = default;
    // The chain's entries from the first made on since on (all when since is invalid). With
    // records, only those naming one of them and the prunings need be given, and they may be
    // looked up rather than read through.
    virtual std::unique_ptr<ChainInput> chain(Which which, const QDate& since, const QList<int>* records = nullptr) = 0;
    // The rows; null (and problem said) when there are none to compare with.
    virtual std::unique_ptr<RowInput> rows(QString& problem) = 0;
    // True when a change and its entry are made together, so that no "applied" follows a change
    // (a store that writes both in one transaction); false when a change waits for its
    // resolution, as in the folder's history.
    virtual bool changesCommitWithEntries() const = 0;
    // Differs whenever anyone wrote the trail or the rows; empty for a source that reads one
    // view that nothing changes under (the check then runs once).
    virtual QByteArray fingerprint() = 0;
};

// The trail of a program folder: the day files of Archive/ and the table tableFile.
std::unique_ptr<TrailSource> folderTrail(const QString& programFolder, const QString& tableFile);

} // namespace audit
