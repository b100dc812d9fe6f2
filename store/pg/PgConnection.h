#pragma once
// One connection to a PostgreSQL server through libpq: statements with text parameters, rows of
// texts, transactions, and libpq's failures turned into the store's errors. libpq rather than a
// C++ binding: it ships with the server's own packages, and what the store needs of it is small.
//
// NULL and the empty text stay apart both ways: a parameter or a value is a std::optional, and
// nullopt is SQL NULL. Texts travel as UTF-8 (the connection asks for it).
//
// Every connection commits synchronously (synchronous_commit on for its session), whatever the
// server's default: what a commit answered must survive the server's crash.
//
// Errors: a connection that cannot be made or was lost, and a server too busy or locked to answer
// in time, raise EStoreAway (the data is not at fault; trying later may work); a value the
// server's types or constraints refuse (SQLSTATE classes 22 and 23) raises ERowRefused; anything
// else EDatabaseError. Each message names what was being done and carries the server's text
// (not its detail, which repeats a refused row's values).
//
// A connection made with an answer time (answerWithinMs > 0) waits at most that long for the
// server, connecting and for each statement's answer, and then gives the connection up (the next
// call on it raises EStoreAway): for the window's thread, which must never hang on a server that
// went away without closing its sockets. Without one it waits as libpq does.
//
// Knows: libpq, SQLSTATEs, connection URIs. Must not know: the schema, the result table, the
// audit trail. Untrusted: the URI (may carry a password, which no message and no log shows:
// maskedUri), and everything the server answers.
#include "store/ResultStore.h"

#include <QDeadlineTimer>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

namespace pg {

using Value = std::optional<QString>;
using Row = std::vector<Value>;

struct Result {
    QStringList columns;
    std::vector<Row> rows;
    qint64 affected = 0;  // rows an INSERT, UPDATE or DELETE touched

    // The first row's first value; nullopt when there is none or it is NULL.
    Value scalar() const { return rows.empty() || rows[0].empty() ? Value() : rows[0][0]; }
};

// An answer's values as the server sent them (UTF-8 bytes), not made into texts: for statements
// answering many rows, each value read once. Valid while the object (or a copy) lives.
class Rows {
public:
    int count() const;
    int columns() const;
    bool isNull(int row, int column) const;
    QByteArrayView value(int row, int column) const;

private:
    friend class Connection;
    std::shared_ptr<pg_result> result_;
};

// The URI with its password (user:PASSWORD@ or password=...) replaced by "***", for messages.
QString maskedUri(const QString& uri);

class Connection {
public:
    // Connects, waiting at most connectTimeoutSeconds (libpq's connect_timeout; 2 is its least).
    // Raises EStoreAway when no connection can be made.
    explicit Connection(const QString& uri, int connectTimeoutSeconds = 10, int answerWithinMs = 0);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs one statement with $1, $2, ... bound to params. what: what is being done, for the
    // message of an error ("creating the schema"). statementTimeoutMs > 0 cancels the statement
    // after that long (EStoreAway).
    Result exec(const QString& sql, const std::vector<Value>& params = {}, const QString& what = {},
                int statementTimeoutMs = 0);

    // As exec, through a statement prepared once per connection under name (parsed and planned
    // once: for statements run with every message).
    Result execPrepared(const QByteArray& name, const QString& sql, const std::vector<Value>& params,
                        const QString& what);

    // As execPrepared, the answer's values left as the server sent them.
    Rows execPreparedRows(const QByteArray& name, const QString& sql, const std::vector<Value>& params,
                          const QString& what);

    void begin();
    void commit();
    void rollback();
    bool inTransaction() const;

    // A transaction for a scope: rolled back when the scope is left without commit().
    class Transaction {
    public:
        explicit Transaction(Connection& connection);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        void commit();

    private:
        Connection& connection_;
        bool open_ = true;
    };

    // The URI as messages show it.
    const QString& location() const { return location_; }

    // For a connection that LISTENs: its socket, to watch for readability (-1 when given up), and
    // the payloads of the notifications on channel that arrived, in the order the server sent
    // them (its commit order). Reads what the socket holds without waiting; raises EStoreAway
    // when the connection was lost.
    int socket() const;
    QStringList notifications(const QByteArray& channel);

private:
    // Sends the statement and answers its result, raising for an error.
    std::shared_ptr<pg_result> answered(const QByteArray& name, const QString& sql, const std::vector<Value>& params,
                                        const QString& what, int statementTimeoutMs);
    Result run(const QByteArray& name, const QString& sql, const std::vector<Value>& params, const QString& what,
               int statementTimeoutMs);
    [[noreturn]] void raise(const QString& what, const ::pg_result* result) const;
    // The answer to what was sent (the last result; an error first), waiting at most the answer
    // time; gives the connection up when it passes. Null when the connection failed.
    ::pg_result* answer(const QString& what);
    // Waits until the socket is readable (or writable too); false when the answer time passed.
    bool waitFor(bool writable);
    [[noreturn]] void giveUp(const QString& what);

    int answerWithinMs_ = 0;
    QDeadlineTimer deadline_;  // of the call under way

    pg_conn* conn_ = nullptr;
    QSet<QByteArray> prepared_;
    QString location_;
};

} // namespace pg
