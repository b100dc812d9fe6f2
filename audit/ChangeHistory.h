#pragma once
// The change history: an entry for every change made to a stored row through this program, with
// the time, the operating-system user, the host and the process. One chain ("history", see
// audit/Chain).
//
// A change is written in this order: its entry, marked pending, synced; then the table; then an
// "applied" entry (not synced: the next start finds a pending entry whose "applied" a crash took,
// and compares it with the table). A pending entry of a process that is gone, with no
// resolution, is resolved at the next start: "applied" when the table holds what it set, "not
// applied" when it does not. Rows of a table that was there before the history are adopted, one
// entry each, at the first start.
//
// Texts are the fields' own texts as the table file holds them (trailing blanks removed; a
// date as yyyymmdd), so the history compares with the file byte for byte.
//
// Knows: the chain, the entry keys of a change. Must not know: tables, windows, the engine.
// Untrusted: the history files (read back by resolve(); a line a person edited is passed over).
#include "audit/Chain.h"

#include <QList>
#include <QPair>
#include <QString>

#include <functional>

namespace audit {

// A row's fields in the table's order, with their texts.
using RowValues = QList<QPair<QString, QString>>;

struct FieldChange {
    QString field;
    QString before;
    QString after;
};

// Who makes the changes of this process.
struct Author {
    QString user;
    QString host;
    qint64 pid = 0;
    static Author ofThisProcess();
};

class ChangeHistory {
public:
    explicit ChangeHistory(QString programFolder, Chain::Clock clock = {}, Author author = Author::ofThisProcess());

    enum class Kind { Edit, Entered, Deleted, Restored };

    // Pending entries, synced before they return; each answers the entry's number, to be
    // resolved by applied(). Raise AuditError: then the change must not be made.
    qint64 edited(int record, const QList<FieldChange>& changes);
    qint64 entered(int record, const RowValues& values);
    qint64 deleted(int record, const RowValues& values);
    qint64 restored(int record, const RowValues& values, qint64 deletedEntry);
    // The table holds the change (not synced).
    void applied(qint64 seq, int record);
    // The table write failed: the change was not made (synced).
    void notApplied(qint64 seq, int record, const QString& reason);
    // A change's old texts differ from what the history says the row held: someone changed it
    // outside this program. changes: field, the history's text (before), the row's (after).
    void outside(int record, const QList<FieldChange>& changes);
    // A change not made because another program changed the row after it was read: nothing was
    // written. changes: field, what this program tried to write (before), what the row held
    // (after); the fields either program changed. Synced.
    void refused(int record, const QList<FieldChange>& changes);

    // Adoption of the rows present before the history, when there is no history yet or a crash
    // cut the last adoption short. rows(from) is called once and yields (record, values) of
    // every undeleted row from record `from` on, by calling the sink for each. One sync at
    // the end. Answers the rows adopted.
    using RowSink = std::function<void(int record, const RowValues& values)>;
    using RowSource = std::function<void(int from, const RowSink& sink)>;
    qint64 adoptIfNew(const RowSource& rows);

    // A pending change no process resolved, as the start finds it.
    struct Pending {
        qint64 seq = 0;
        Kind kind = Kind::Edit;
        int record = 0;
        QList<FieldChange> changes;  // Edit
        RowValues values;            // the others
    };
    // The pending entries of the last `days` days whose process is gone (or is this one before
    // it wrote anything) and that have no resolution.
    QList<Pending> unresolved(int days);
    // Resolves one found by unresolved(): applied when inTable, else "not applied".
    void resolve(const Pending& pending, bool inTable);

    Chain& chain() { return chain_; }

    // The bodies of a change's entry as edited(), entered(), deleted() and restored() write them
    // (kind Edit takes changes, the others values), for a store that keeps the chain elsewhere.
    // pending false leaves "state" out: there a change and its entry commit together.
    static JsonLine changeBody(int record, const Author& author, bool pending, const QList<FieldChange>& changes);
    static JsonLine valuesBody(Kind kind, int record, const Author& author, bool pending, const RowValues& values,
                               qint64 of = 0);
    // The body of outside()'s entry.
    static JsonLine outsideBody(int record, const Author& author, const QList<FieldChange>& changes);
    // The body of refused()'s entry.
    static JsonLine refusedBody(int record, const Author& author, const QList<FieldChange>& changes);

private:
    // An entry's first keys: its kind and row, the entry it resolves (of), whether it is pending,
    // and who makes it.
    JsonLine start(const char* kind, int record, qint64 of = 0, bool pending = false) const;

    Chain chain_;
    Author author_;
};

QByteArray valuesJson(const RowValues& values);

} // namespace audit
