#pragma once
// A patient's results over time: the rows ordered newest first, each value's number, its flag
// against the limits for that row's age and its delta mark (a change past the value's delta limit
// since the patient's previous result), and the series of one value for a chart.
//
// Knows: a row's date, time, sample number, DOC and twenty value texts, the limits. Must not know:
// the table, how the rows were found (every row given is taken as the same patient's), widgets.
// Untrusted: every text and the dates; a text that does not read is never flagged or marked and
// never breaks anything, and a row without a valid date is never marked nor compared with.
#include "reading/Flags.h"
#include "reading/ReferenceRanges.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <array>
#include <optional>

namespace reading {

struct HistoryRow {
    int record = 0;
    QDate date;
    QString time;  // TIM as stored, "hh:mm:ss"
    QString num;
    QString doc;
    std::array<QString, ReferenceRanges::kFieldCount> values;  // in ReferenceRanges::fields() order
};

// One value of a row as read.
struct HistoryValue {
    std::optional<double> number;  // leadingNumber of the text
    Flag flag = Flag::None;
    // The change since the same value of the patient's previous result with a number for it, when
    // that result lies within the value's delta window (changePercent is then set, signed, in
    // percent of the previous value; none when the previous value is 0).
    std::optional<double> changePercent;
    int changeDays = 0;      // days since that result
    int changeRecord = 0;    // its record
    bool deltaMarked = false;  // |changePercent| above the value's delta share
};

struct HistoryLine {
    HistoryRow row;
    std::array<HistoryValue, ReferenceRanges::kFieldCount> values;
};

// The rows newest first (date, then time, then record; a row without a valid date last) with
// every value read. A value is compared with the newest older result that has a number for it:
// texts without one are passed over; when that result is older than the window there is no mark.
QList<HistoryLine> readHistory(QList<HistoryRow> rows, const ReferenceRanges& ranges);

// "+32% за 3 дн." for a value with a change, or "".
QString changeText(const HistoryValue& v);

// A row as a store gives it, (field name, text) pairs in any order: DAT as dBase writes dates
// (yyyyMMdd), the rest as stored; fields it lacks stay empty.
HistoryRow historyRowOf(int record, const QList<QPair<QString, QString>>& fields);

// A point of a value's chart.
struct SeriesPoint {
    QDateTime at;  // the row's date and time (midnight when TIM does not read)
    double value = 0;
    int record = 0;
    QString num;
};

// Field's numbers over time, oldest first; rows without a valid date or a number are left out.
QList<SeriesPoint> seriesOf(const QList<HistoryRow>& rows, int field);

// The band a chart of field shades: the limits for the age of the newest row whose DOC gives one
// (the adult limits when none does).
Limits chartBand(const QList<HistoryRow>& rows, int field, const ReferenceRanges& ranges);

} // namespace reading
