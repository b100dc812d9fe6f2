// Dates shown to people (system short format, four-digit year) and dates in statements.
#include "engine/DateFormat.h"

#include <gtest/gtest.h>

TEST(DateFormat, ShortFormatAlwaysHasAFourDigitYear)
{
    EXPECT_TRUE(datefmt::shortDateFormat().contains(QStringLiteral("yyyy")));
    const QString shown = datefmt::formatShortDate(QDate(1925, 3, 4));
    EXPECT_TRUE(shown.contains(QStringLiteral("1925"))) << shown.toStdString();
    EXPECT_EQ(datefmt::formatShortDate(QDate()), QString());
}

TEST(DateFormat, TypedDatesReadBackInTheShortFormatOrAsMonthDayYear)
{
    for (const QDate& d : {QDate(2023, 6, 5), QDate(1999, 12, 31), QDate(2026, 1, 2)})
        EXPECT_EQ(datefmt::parseUserDate(datefmt::formatShortDate(d)), d);
    // Month/day/year where the system format cannot read it (a day-first format reads 6/5 as 6 May).
    EXPECT_EQ(datefmt::parseUserDate(QStringLiteral("6/25/2023")), QDate(2023, 6, 25));
    EXPECT_EQ(datefmt::parseUserDate(QStringLiteral(" 2023-06-05 ")), QDate(2023, 6, 5));
    EXPECT_FALSE(datefmt::parseUserDate(QStringLiteral("вчера")).isValid());
    EXPECT_FALSE(datefmt::parseUserDate(QString()).isValid());
}

TEST(DateFormat, MonthDayYearWithOrWithoutLeadingZeros)
{
    EXPECT_EQ(datefmt::parseMonthDayYear(QStringLiteral("6/5/2023")), QDate(2023, 6, 5));
    EXPECT_EQ(datefmt::parseMonthDayYear(QStringLiteral("06/05/2023")), QDate(2023, 6, 5));
    EXPECT_EQ(datefmt::parseMonthDayYear(QStringLiteral("2/29/2024")), QDate(2024, 2, 29));
    for (const char* bad : {"13/45/2023", "2/29/2023", "6/5/23", "6/5/02023", "06/005/2023", "6-5-2023",
                            "6/5/2023/1", "a/b/cdef", "", "//"})
        EXPECT_FALSE(datefmt::parseMonthDayYear(QString::fromLatin1(bad)).isValid()) << bad;
}
