// Masks of field texts: numbers and dates as the patterns a layout may hold give them, and what
// a pattern cannot do gives an empty text rather than a wrong one.
#include "report/generation/FieldMask.h"

#include <QLocale>
#include <gtest/gtest.h>

namespace {

// The expected text with the system's separators in place of '.' and ','.
QString local(const char* text)
{
    const QLocale l = QLocale::system();
    QString s;
    for (QChar c : QString::fromUtf8(text))
        s += c == u'.' ? l.decimalPoint() : c == u',' ? l.groupSeparator() : QString(c);
    return s;
}

TEST(FieldMask, FloatPatterns)
{
    struct Case {
        const char* mask;
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {"0.00", 3.14159, "3.14"},
        {"#.##", 0.5, ".5"},
        {"0.0#", 2.5, "2.5"},
        {"0.0#", 2.567, "2.57"},
        {"#,##0", 1234567, "1,234,567"},
        {"#,##0", 999, "999"},
        {"000", 7, "007"},
        {"0", -0.4, "0"},        // no sign on a value that shows as zero
        {"0.0", -2.26, "-2.3"},
        {"0.00;(0.00)", -2.5, "(2.50)"},
        {"0;-0;'zero'", 0, "zero"},
        {"'WBC '0.0' g/L'", 7.26, "WBC 7.3 g/L"},
        {"0.0E+00", 5, ""},      // exponent forms are not supported
        {"'only text'", 5, "only text"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fieldmask::formatFloat(QString::fromUtf8(c.mask), c.value), local(c.expected)) << c.mask;
    EXPECT_EQ(fieldmask::formatFloat(QStringLiteral("0.00"), std::nan("")), QString());
    // A mask of a million placeholders costs time in proportion to its length.
    const QString huge = QStringLiteral("#,") + QString(1000000, u'0');
    EXPECT_EQ(fieldmask::formatFloat(huge, 1).size(), 1000000 + 333333);
}

TEST(FieldMask, DateTimePatterns)
{
    const QDateTime t(QDate(2023, 6, 5), QTime(9, 7, 3, 4));
    struct Case {
        const char* mask;
        QString expected;
    };
    const QLocale l = QLocale::system();
    const Case cases[] = {
        {"dd.mm.yyyy", QStringLiteral("05.06.2023")},
        {"yyyy-mm-dd hh:mm", QStringLiteral("2023-06-05 09:07")},   // mm right after an hour: minutes
        {"h:mm", QStringLiteral("9:07")},
        {"hh:nn:ss", QStringLiteral("09:07:03")},
        {"d.m.yy", QStringLiteral("5.6.23")},
        {"'Дата: 'dd", QStringLiteral("Дата: 05")},
        {"hh am/pm", QStringLiteral("09 am")},
        {"zzz", QStringLiteral("004")},
        {"mmmm", l.monthName(6, QLocale::LongFormat)},
        {"dddd", l.dayName(1, QLocale::LongFormat)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fieldmask::formatDateTime(QString::fromUtf8(c.mask), t), c.expected) << c.mask;
    // Midnight: the date alone.
    EXPECT_EQ(fieldmask::formatDateTime(QStringLiteral("c"), QDateTime(t.date(), QTime(0, 0))),
              fieldmask::dateTimeText(QDateTime(t.date(), QTime(0, 0))));
    EXPECT_FALSE(fieldmask::longTimeFormat().contains(u't'));
}

} // namespace
