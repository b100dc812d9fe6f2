#pragma once
// The audit chains (the message archive, the change history) kept as rows of the tables archive
// and history, one entry a row. An entry's line is exactly the line audit::Chain writes into a
// day file ("seq", "prev" = SHA-256 hex of the previous entry's line, "time", then the body), so
// whoever checks or shows a chain reads both the same way.
//
// An append runs inside the caller's transaction, so an entry is written with what it speaks of
// (a row, a restored flag) or not at all. Two programs append in turn: lock() takes a
// transaction-scoped advisory lock per chain, and the head is read after it, in a statement of
// its own (a statement that waited for the lock would read with the snapshot taken before).
//
// Knows: the chain tables, the entry format (audit/Chain), the connection. Must not know: what
// entries mean, the result table. Untrusted: every row read back (a person with the database's
// rights can change any of them; the reader parses, never believes).
#include "audit/Chain.h"
#include "store/pg/PgConnection.h"

#include <QString>

#include <optional>

namespace pgchain {

class Chain {
public:
    using Clock = audit::Chain::Clock;

    // table: "archive" or "history".
    explicit Chain(QString table, Clock clock = {});

    // Proof that this transaction holds the chain's lock; only lock() makes one.
    class Locked {
        friend class Chain;
        Locked() = default;
    };
    // Takes the chain's lock until the caller's transaction ends (other programs wait).
    Locked lock(pg::Connection& connection) const;

    struct Appended {
        qint64 seq = 0;
        QByteArray hash;
        QByteArray line;
    };
    // Appends one entry after the head as the table holds it now. kind, record and capture are
    // kept in columns of their own too, for lookups. Raises as pg::Connection; an entry longer
    // than audit::kMaxLine raises EDatabaseError.
    Appended append(pg::Connection& connection, const Locked&, const audit::JsonLine& body, const QString& kind,
                    std::optional<qint64> record = {}, const QByteArray& capture = {}) const;

    // The last entry; seq 0 and zeroHash() when there is none.
    audit::Head head(pg::Connection& connection) const;

    // The time an entry made now carries (audit::timeText of the chain's clock).
    QString now() const;

    const QString& table() const { return table_; }

private:
    QString table_;
    Clock clock_;
};

// Reads a chain's entries in seq order from one on, a batch of rows at a time. Each entry comes
// parsed as audit::parseLine parses a file's line; file is the table's name and lineNumber the
// row's seq column (which a check compares with the line's own "seq").
class Reader {
public:
    Reader(pg::Connection& connection, QString table, qint64 fromSeq = 1);
    // False at the end.
    bool next(audit::Entry& entry);

private:
    pg::Connection& connection_;
    QString table_;
    qint64 next_;
    std::vector<pg::Row> batch_;
    size_t at_ = 0;
    bool end_ = false;
};

// The first seq of the entries made on or after since (local midnight); 0 when none.
qint64 firstSeqSince(pg::Connection& connection, const QString& table, const QDate& since);

} // namespace pgchain
