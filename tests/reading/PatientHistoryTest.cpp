#include "reading/PatientHistory.h"

#include <gtest/gtest.h>

using reading::Flag;
using reading::HistoryRow;
using reading::ReferenceRanges;

namespace {

const int kHgb = ReferenceRanges::indexOf("HGB");

// HGB: adults 120–170, children under 14 110–140, delta 20% within 7 days.
ReferenceRanges testRanges()
{
    ReferenceRanges r;
    r.setAdult(kHgb, {120, 170});
    r.setChild(kHgb, {110, 140});
    r.setChildUnderYears(14);
    r.setDelta(kHgb, {20, 7});
    return r;
}

struct Row {
    int record;
    const char* date;  // yyyy-MM-dd; "" for none
    const char* time;
    const char* hgb;
    const char* doc = "";
};

QList<HistoryRow> historyRows(const std::vector<Row>& rows)
{
    QList<HistoryRow> out;
    for (const Row& r : rows) {
        HistoryRow h;
        h.record = r.record;
        h.date = QDate::fromString(QString::fromLatin1(r.date), Qt::ISODate);
        h.time = QString::fromLatin1(r.time);
        h.num = QString::number(r.record);
        h.doc = QString::fromUtf8(r.doc);
        h.values[size_t(kHgb)] = QString::fromUtf8(r.hgb);
        out << h;
    }
    return out;
}

} // namespace

// The order newest first, and the newest row's delta mark against its previous result.
TEST(PatientHistory, OrderAndDeltaMarkOfTheNewestRow)
{
    const struct Case {
        const char* what;
        std::vector<Row> rows;
        std::vector<int> order;      // records, newest first
        const char* change;          // changeText of the newest row's HGB
        bool marked;
    } cases[] = {
        {"exactly at the share", {{1, "2024-03-01", "09:00:00", "100|"}, {2, "2024-03-04", "09:00:00", "120|"}}, {2, 1}, "+20% за 3 дн.", false},
        {"just over it", {{1, "2024-03-01", "09:00:00", "100"}, {2, "2024-03-04", "09:00:00", "120.1"}}, {2, 1}, "+20% за 3 дн.", true},
        {"at the share with decimals", {{1, "2024-03-01", "09:00:00", "1.5"}, {2, "2024-03-02", "09:00:00", "1.8"}}, {2, 1}, "+20% за 1 дн.", false},
        {"down exactly at it", {{1, "2024-03-01", "", "100"}, {2, "2024-03-01", "10:00", "80"}}, {2, 1}, "−20% за 0 дн.", false},
        {"down past it", {{1, "2024-03-01", "09:00:00", "100"}, {2, "2024-03-01", "10:00:00", "79.9"}}, {2, 1}, "−20% за 0 дн.", true},
        {"at the window's edge", {{1, "2024-03-01", "09:00:00", "100"}, {2, "2024-03-08", "08:00:00", "150"}}, {2, 1}, "+50% за 7 дн.", true},
        {"one day past it", {{1, "2024-03-01", "09:00:00", "100"}, {2, "2024-03-09", "08:00:00", "150"}}, {2, 1}, "", false},
        {"previous unreadable: the one before",
         {{1, "2024-03-01", "09:00:00", "100"}, {2, "2024-03-03", "09:00:00", "-----"}, {3, "2024-03-04", "09:00:00", "130|"}},
         {3, 2, 1}, "+30% за 3 дн.", true},
        {"previous unreadable, the one before too old",
         {{1, "2024-02-01", "09:00:00", "100"}, {2, "2024-03-03", "09:00:00", "12abc"}, {3, "2024-03-04", "09:00:00", "130"}},
         {3, 2, 1}, "", false},
        {"previous 0: no share", {{1, "2024-03-01", "09:00:00", "0"}, {2, "2024-03-02", "09:00:00", "130"}}, {2, 1}, "", false},
        {"a later time on the day is newer whatever the record",
         {{5, "2024-03-01", "14:00:00", "150"}, {4, "2024-03-01", "9:00:00", "100"}}, {5, 4}, "+50% за 0 дн.", true},
        {"the same time: the higher record", {{3, "2024-03-01", "09:00:00", "100"}, {4, "2024-03-01", "09:00:00", "100"}}, {4, 3}, "+0% за 0 дн.", false},
        {"a time that does not read is the day's oldest",
         {{7, "2024-03-01", "08:00:00", "100"}, {8, "2024-03-01", "xx", "150"}}, {7, 8}, "−33% за 0 дн.", true},
        {"an undated row is last and never compared",
         {{1, "", "09:00:00", "300"}, {2, "2024-03-02", "09:00:00", "100"}}, {2, 1}, "", false},
    };
    const ReferenceRanges ranges = testRanges();
    for (const Case& c : cases) {
        const QList<reading::HistoryLine> lines = reading::readHistory(historyRows(c.rows), ranges);
        std::vector<int> order;
        for (const reading::HistoryLine& l : lines)
            order.push_back(l.row.record);
        EXPECT_EQ(order, c.order) << c.what;
        const reading::HistoryValue& v = lines.front().values[size_t(kHgb)];
        EXPECT_EQ(reading::changeText(v), QString::fromUtf8(c.change)) << c.what;
        EXPECT_EQ(v.deltaMarked, c.marked) << c.what;
        EXPECT_FALSE(lines.back().values[size_t(kHgb)].deltaMarked) << c.what << ": the oldest has nothing to compare";
    }
}

// Each row is flagged by its own age; the chart's band follows the newest age given, and the
// series leaves out undated rows and texts without a number.
TEST(PatientHistory, FlagsBandAndSeriesByAge)
{
    const ReferenceRanges ranges = testRanges();
    const std::vector<Row> rows = {{1, "2020-01-10", "10:00:00", "145", "13 лет"},
                                   {2, "2024-01-10", "10:00:00", "145", "17 лет"},
                                   {3, "2024-02-10", "10:00:00", "-----", ""},
                                   {4, "", "10:00:00", "150", "5 лет"},
                                   {5, "2024-03-10", "10:00:00", "100", ""}};
    const QList<reading::HistoryLine> lines = reading::readHistory(historyRows(rows), ranges);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0].values[size_t(kHgb)].flag, Flag::Low);   // 100, no age: adult
    EXPECT_EQ(lines[2].values[size_t(kHgb)].flag, Flag::None);  // 145 at 17
    EXPECT_EQ(lines[3].values[size_t(kHgb)].flag, Flag::High);  // 145 at 13

    const struct {
        std::vector<Row> rows;
        reading::Limits band;
    } bands[] = {
        {rows, {120, 170}},                                        // newest age given: 17
        {{rows[0], rows[2]}, {110, 140}},                          // newest age given: 13
        {{rows[2]}, {120, 170}},                                   // none given: adult
        {{rows[0], {6, "2024-03-11", "", "1", "взрослый"}}, {110, 140}},  // not an age: passed over
    };
    for (const auto& b : bands)
        EXPECT_EQ(reading::chartBand(historyRows(b.rows), kHgb, ranges), b.band) << b.rows.size();

    const QList<reading::SeriesPoint> series = reading::seriesOf(historyRows(rows), kHgb);
    ASSERT_EQ(series.size(), 3);
    EXPECT_EQ(series[0].record, 1);
    EXPECT_EQ(series[2].record, 5);
    EXPECT_EQ(series[2].at, QDateTime(QDate(2024, 3, 10), QTime(10, 0)));
    EXPECT_EQ(series[2].value, 100);
    EXPECT_TRUE(reading::seriesOf(historyRows(rows), -1).isEmpty());
}
