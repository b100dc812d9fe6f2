#pragma once
// Turns statement text into a syntax tree: SELECT (column list or *, FROM a quoted file name,
// optional WHERE) and INSERT INTO (optional column list, VALUES). Names are not resolved here;
// that happens against the opened table (SqlEval).
#include "engine/SqlLexer.h"

#include <QString>
#include <memory>
#include <vector>

// A name or literal with the place it was written, for messages.
struct SqlPos {
    int line = 1;
    int column = 1;
};

enum class SqlCompareOp { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual };

struct SqlExpr {
    enum class Kind {
        Column,   // text: the name as written
        Text,     // text: the literal without quotes
        Number,   // text: the number as written, sign included
        Null,
        Compare,  // children: left, right; op
        Between,  // children: tested, low, high; negated for NOT BETWEEN
        IsNull,   // children: tested; negated for IS NOT NULL
        And,      // children: two or more
        Or,       // children: two or more
        Not,      // children: one
    };
    Kind kind = Kind::Null;
    QString text;
    SqlCompareOp op = SqlCompareOp::Equal;
    bool negated = false;
    SqlPos pos;
    std::vector<std::unique_ptr<SqlExpr>> children;
};

struct SqlName {
    QString name;
    SqlPos pos;
};

struct SqlStatement {
    enum class Kind { Select, Insert };
    Kind kind = Kind::Select;
    QString table;           // full file name from the quoted text
    SqlPos tablePos;
    // SELECT: the columns asked for; empty means *. INSERT: the column list; empty means all
    // columns in table order.
    std::vector<SqlName> columns;
    std::unique_ptr<SqlExpr> where;                   // SELECT, may be null
    std::vector<std::unique_ptr<SqlExpr>> values;     // INSERT: literals (Text, Number, Null)
};

// Deepest nesting of parentheses and NOT that a condition may have; deeper text is refused
// rather than risking the stack.
constexpr int kSqlMaxNesting = 64;

// Parses one statement (a trailing ';' allowed). Raises EDatabaseError naming the problem with
// its line and column.
SqlStatement parseSql(const QString& text);
