// The period's headings for one day and for a range, and its field list.
#include "store/PeriodQuery.h"
#include "engine/DateFormat.h"

#include <gtest/gtest.h>
#include <set>

namespace {

TEST(PeriodQuery, HeadingsForOneDayAndARange)
{
    const QString format = datefmt::shortDateFormat();
    const QDate a(2023, 6, 5), b(2023, 6, 9);
    struct Case {
        QDate first, last;
        bool oneDay;
        QStringList texts;
    };
    const Case cases[] = {
        {a, a, true, {a.toString(format), QString(), QString()}},
        {a, b, false, {a.toString(format), QStringLiteral(" - "), b.toString(format)}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(periodquery::isOneDay(c.first, c.last), c.oneDay);
        const auto headings = periodquery::headings(c.first, c.last);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(headings[size_t(i)].first, QStringLiteral("RpLabel%1").arg(i + 2));
            EXPECT_EQ(headings[size_t(i)].second, c.texts[i]) << i;
        }
    }
}

TEST(PeriodQuery, EveryItemAndFieldIsBoundOnce)
{
    std::set<QString> items, fields;
    for (const auto& [item, field] : periodquery::fieldBindings()) {
        EXPECT_TRUE(items.insert(item).second) << item.toStdString();
        EXPECT_TRUE(fields.insert(field).second) << field.toStdString();
    }
    EXPECT_EQ(items.size(), 19u);
}

} // namespace
