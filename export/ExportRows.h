#pragma once
// The rows an export writes, as plain data: the columns (name and kind) and one cell per column
// and row, each already decided as a number, a text or a date. Both file formats write from it.
//
// Knows: data sets and their fields, which fields hold measured values (the value fields of
// reading::ReferenceRanges: the eighteen, COE and RETIC) and how a stored value reads as a number
// (reading::leadingNumber: "7.5|1" -> 7.5). Must not know: files, formats, the store, windows.
// Untrusted: every text (sent by the analyser or typed by staff): none is ever evaluated, and one
// that does not read as a number stays the text it is.
#include "engine/DbTypes.h"

#include <QDate>
#include <QString>
#include <vector>

class TDataSet;

namespace rowexport {

enum class Kind {
    Date,  // DAT: a date
    Value, // a measured value: a number when its text starts with one, else the text
    Text,  // everything else (TIM, NUM, DOC, FIO, ...): always the text, even when it looks like a number
};

struct Column {
    QString name;
    Kind kind = Kind::Text;
};

struct Cell {
    enum class Type { Text, Number, Date };
    Type type = Type::Text;
    QString text;      // as stored, trimmed; empty for a date
    double number = 0; // Type::Number: the number the text starts with
    QDate date;        // Type::Date; a null date is written as an empty cell
};

struct Rows {
    std::vector<Column> columns;
    std::vector<std::vector<Cell>> cells; // per row, one cell per column
};

// The kind of the field of that name and type.
Kind kindOf(const QString& field, TFieldType type);

// The cell a stored text of a column of that kind becomes (for a Date column, use dateCell).
Cell cellOf(Kind kind, const QString& stored);
Cell dateCell(const QDate& date);

// The rows of data from its current row to its last, every field in the data set's order; data
// is left after its last row.
Rows readRows(TDataSet& data);

} // namespace rowexport
