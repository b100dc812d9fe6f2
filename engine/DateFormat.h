#pragma once
// Dates as people see them: the system's short date format, always with a four-digit year (a
// two-digit year would make 1925 and 2025 look alike in a lab record), and the month/day/year
// texts that statements carry.
#include <QDate>
#include <QString>

namespace datefmt {

// The system's short date format with its year widened to four digits, e.g. "dd.MM.yyyy".
QString shortDateFormat();
// The date in that format; empty for a null or invalid date.
QString formatShortDate(const QDate& date);
// Reads a date typed in the short date format (four- or two-digit year) or as month/day/year;
// an invalid QDate when the text is neither.
QDate parseUserDate(const QString& text);
// Reads "month/day/year" with or without leading zeros and a four-digit year, e.g. "6/5/2023"
// and "06/05/2023"; an invalid QDate when the text is not one or names no real day.
QDate parseMonthDayYear(const QString& text);

} // namespace datefmt
