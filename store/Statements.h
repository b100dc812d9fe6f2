#pragma once
// The dBase store's dialect: the SQL statements it sends to the engine, the INSERT of an
// imported row and the period's SELECTs. Values are put between double quotes with any double
// quote inside doubled, so that analyser text can neither break a statement nor add to it.
//
// Knows: the engine's statement syntax, the result table's name and fields. Must not know: who
// asks (only the dBase store, and the tests and fuzz seeds that check the dialect, use it).
// Untrusted: every value (analyser text); the quoting above is what keeps it in its place.
#include "store/ImportedRow.h"

#include <QDate>
#include <QString>
#include <QStringList>

// The eight lines of the import's INSERT statement.
QStringList insertStatement(const QString& programFolder, const ImportedRow& row);

// SELECT * of the rows of one day, the date written month/day/year without leading zeros.
QString singleDaySelect(const QString& programFolder, const QDate& day);
// SELECT * of the rows from first to last, both included.
QString rangeSelect(const QString& programFolder, const QDate& first, const QDate& last);

// A text between double quotes, with every double quote inside it doubled.
QString quoted(const QString& text);
