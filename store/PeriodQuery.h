#pragma once
// The period report's query: whether the picked dates are one day or a range, the three heading
// texts that name the period, and which of the report's field items shows which field of the
// query (the store selects the rows: ResultStore::selectPeriod). The period dialog, the
// command-line tool, the benchmarks and the tests all take them from here, so that they cannot
// drift apart.
//
// This unit knows the result table's field names and the period report's item names as plain
// texts; it knows nothing of the report engine (report/model/RpBinding puts these onto a report).
// The dates are the caller's; nothing here is read from outside.
#include <QDate>
#include <QString>
#include <array>
#include <utility>
#include <vector>

namespace periodquery {

// Field item name -> field of the query, in the order of the report's columns.
const std::vector<std::pair<QString, QString>>& fieldBindings();

// True when the two dates read the same in the system's short date format: one day, no range.
bool isOneDay(const QDate& first, const QDate& last);

// Heading label name -> text: the first date, " - " and the last date, or the one date and two
// empty texts.
std::array<std::pair<QString, QString>, 3> headings(const QDate& first, const QDate& last);

} // namespace periodquery
