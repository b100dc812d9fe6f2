#pragma once
// The meaning of a parsed statement against one table: column names resolved, literals turned
// into values of their columns' types, and WHERE conditions evaluated row by row.
#include "engine/Sql.h"
#include "engine/SqlParser.h"

#include <optional>
#include <vector>

// Index of the column with that name (names match without regard to case), or -1.
int findSqlColumn(const std::vector<SqlColumn>& columns, const QString& name);

// A number as text: optional sign, digits with an optional fraction, blanks around allowed.
std::optional<double> parseSqlNumber(const QString& text);
// T/Y/TRUE/1 and F/N/FALSE/0 in any case.
std::optional<bool> parseSqlBoolean(const QString& text);

// The value an INSERT stores for a literal in a column. An empty text stores an empty text in a
// character column and no value in any other. Raises EDatabaseError naming the column, the value
// and where it was written when the literal does not convert or is too long.
SqlValue convertSqlValue(const SqlExpr& literal, const SqlColumn& column);

// The values of one row as a condition reads them: from a table through SqlTable, or straight
// from a record's bytes during a scan.
class SqlRowSource {
public:
    virtual SqlValue value(int column) = 0;

protected:
    ~SqlRowSource() = default;
};

// A WHERE condition bound to a table's columns. Binding checks that both sides of every
// comparison are of one kind (text, number, date, logical) and converts the literals once; a
// comparison with no value or with a date that is not a calendar day is unknown, and a row
// matches only when the whole condition is true.
//
// The equalities of one OR between one column and values ("NUM = "1" OR NUM = "2" OR ...") are
// bound as one lookup in the sorted values, with the same truth as the terms it replaces: a list
// of fifty thousand samples costs a row a binary search, not fifty thousand comparisons.
class SqlCondition {
public:
    SqlCondition(const SqlExpr& expr, const std::vector<SqlColumn>& columns, const QString& tableName);
    bool matches(SqlRowSource& row) const;
    bool matches(SqlTable& table, int row) const;

    // The whole condition as one date column against fixed days (=, <>, <, <=, >, >=, BETWEEN,
    // each possibly under NOT), days written as the number yyyymmdd: a row matches when its date
    // is a calendar day and (from <= day <= to) != negated. Lets a scan of stored dates compare
    // numbers instead of building a date per row; nullopt for any other condition.
    struct DateRange {
        int column = -1;
        int from = 0;
        int to = 0;
        bool negated = false;
    };
    std::optional<DateRange> dateRange() const;

private:
    enum class Truth : unsigned char { False, True, Unknown };
    enum class Kind : unsigned char { Compare, Between, IsNull, And, Or, Not, InSet };
    struct Operand {
        int column = -1;       // -1: the constant
        SqlValue constant;
        // A character field of blanks holds no value in the file, but compares as an empty text.
        bool blankIsEmptyText = false;
    };
    struct Node {
        Kind kind = Kind::Compare;
        SqlCompareOp op = SqlCompareOp::Equal;
        bool negated = false;
        std::vector<Operand> operands;   // Compare: 2, Between: 3, IsNull, InSet: 1 (the column)
        std::vector<int> children;       // And, Or, Not: node indexes
        std::vector<SqlValue> members;   // InSet: the values, sorted, all of one kind
    };
    std::vector<Node> nodes_;
    int root_ = -1;

    int bind(const SqlExpr& e, const std::vector<SqlColumn>& columns, const QString& tableName);
    void foldEqualities(Node& orNode);
    Truth eval(int node, SqlRowSource& row) const;
    static SqlValue fetch(const Operand& o, SqlRowSource& row);
};
