#pragma once
// Local SQL over table files: the statements the program sends (INSERT of quoted texts, SELECT by
// date) and a little more (column lists, comparisons, AND/OR/NOT, parentheses, numbers).
//
// The SQL core knows nothing about files: the file layer hands it open tables through SqlTable,
// found by the full file name written in double quotes in the statement. Query objects (TQuery)
// run their text through executeSql().
#include "engine/DbTypes.h"

#include <QDate>
#include <QString>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

// One column of a table or of a result.
struct SqlColumn {
    QString name;
    TFieldType type = TFieldType::String;
    int size = 0;      // width in the file, in characters
    int decimals = 0;
};

// A value as the SQL core sees it. std::monostate is "no value" (NULL). Texts have their trailing
// blanks removed. Integer and Float columns give double. A date held in the file that is not a
// calendar day (e.g. 20231345) is an invalid QDate: it never satisfies a condition.
using SqlValue = std::variant<std::monostate, QString, double, QDate, bool>;

// One open table, supplied by the file layer. Rows are numbered from 0 in file order (record
// number - 1). A scan calls isDeleted(r) and then value(r, ...) for ascending r, so an
// implementation does well to read the file in large blocks and keep the current record's bytes.
class SqlTable {
public:
    virtual ~SqlTable() = default;
    virtual const std::vector<SqlColumn>& columns() const = 0;
    // Physical rows, deleted ones included, as the file holds them when asked.
    virtual int rowCount() = 0;
    virtual bool isDeleted(int row) = 0;
    virtual SqlValue value(int row, int column) = 0;
    // Appends one row, one value per column (monostate: no value); the row is on disk when this
    // returns. Raises EDatabaseError naming the column and the value when a value does not fit
    // its field (too long, no code-page character, number too wide); nothing is written then.
    virtual void append(const std::vector<SqlValue>& row) = 0;
};

// Opens the table named in a statement. Raises EDatabaseError when it cannot (no such file, not
// a table, locked).
class SqlTableOpener {
public:
    virtual ~SqlTableOpener() = default;
    virtual std::unique_ptr<SqlTable> open(const QString& fullPath) = 0;
};

// Values of a SELECT's rows kept when the table was scanned (record bytes of a dBase file), so
// that reading the result does not go back to the file. Columns are the table's.
class SqlKeptRows {
public:
    virtual ~SqlKeptRows() = default;
    virtual SqlValue value(int resultRow, int column) const = 0;
    // The value of a column of type String, which is always a text, put into out (in out's own
    // memory when nothing shares it): value() without the variant or an allocation, for results
    // that are read whole, field after field. Empty for a row not kept.
    virtual void text(int resultRow, int column, QString& out) const = 0;
};

// Rows returned by a SELECT. The place of each row is kept, and the rows' bytes while they are
// few enough (up to 128 MB), so that values are those the statement found; past that values are
// read from the table when asked for, so that a huge result costs little more memory than its
// row numbers.
class SqlRowSet {
public:
    SqlRowSet(std::shared_ptr<SqlTable> table, std::vector<SqlColumn> columns,
              std::vector<int> sourceColumns, std::vector<int> rows,
              std::unique_ptr<SqlKeptRows> kept = nullptr);

    const std::vector<SqlColumn>& columns() const { return columns_; }
    int rowCount() const { return static_cast<int>(rows_.size()); }
    // Place of result row i in the table file, from 1.
    int recNo(int i) const { return rows_.at(static_cast<size_t>(i)) + 1; }
    // Value of result row i, result column c (both from 0).
    SqlValue value(int i, int c) const;
    // Value of result row i, result column c when that column is of type String, put into out:
    // its text, empty when there is none. Cheaper than value() for reading a result whole, which
    // is mostly texts; out's memory is used again when nothing else shares it.
    void text(int i, int c, QString& out) const
    {
        if (kept_ && c >= 0 && size_t(c) < sourceColumns_.size())
            kept_->text(i, sourceColumns_[size_t(c)], out);
        else
            out = textFromTable(i, c);
    }
    SqlTable& table() const { return *table_; }

private:
    QString textFromTable(int i, int c) const;

    std::shared_ptr<SqlTable> table_;
    std::vector<SqlColumn> columns_;
    std::vector<int> sourceColumns_;
    std::vector<int> rows_;
    std::unique_ptr<SqlKeptRows> kept_;   // destroyed before the table it may point into
};

struct SqlResult {
    bool hasRows = false;               // true for a SELECT
    std::shared_ptr<SqlRowSet> rows;    // the SELECT's rows, in file order; null otherwise
    int rowsAffected = 0;               // rows written by an INSERT
};

// Parses and runs one statement. The text may span lines; a trailing ';' is allowed. Raises
// EDatabaseError: for malformed or unsupported SQL the message names the problem with its line
// and column; for a value that does not convert it names the column and the value (and nothing
// is written).
SqlResult executeSql(const QString& text, SqlTableOpener& opener);

// A date written month/day/year (month and day with or without leading zero, year in four
// digits); nullopt when the text is not such a date or not a calendar day.
std::optional<QDate> parseSqlDate(const QString& text);
