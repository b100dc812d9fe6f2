// Text measuring must give the same integer advances wherever a page is drawn: the design
// metrics of the installed metric twins, with hinting off, rounded without drift.
#include "platform/canvas/TextMeasure.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <gtest/gtest.h>

namespace {

bool haveFamily(const QString& family) { return QFontDatabase::families().contains(family); }

LogicalFont arial(int height)
{
    LogicalFont f;
    f.face = QStringLiteral("Arial");
    f.height = height;
    return f;
}

} // namespace

TEST(TextMeasure, WindowsFacesMapToInstalledMetricTwins)
{
    EXPECT_EQ(TextFont::substituteFace(QStringLiteral("Arial")), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(TextFont::substituteFace(QStringLiteral("  arial ")), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(TextFont::substituteFace(QStringLiteral("Times New Roman")), QStringLiteral("Liberation Serif"));
    EXPECT_EQ(TextFont::substituteFace(QStringLiteral("Courier New")), QStringLiteral("Liberation Mono"));
    EXPECT_EQ(TextFont::substituteFace(QStringLiteral("Arial Black")), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(TextFont::substituteFace(QStringLiteral("Some Face")), QStringLiteral("Some Face"));
    if (!haveFamily(QStringLiteral("Liberation Sans")))
        GTEST_SKIP() << "Liberation Sans is not installed (Debian package fonts-liberation2)";
    const TextFont f(arial(-13));
    EXPECT_EQ(QFontInfo(f.font()).family(), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(f.font().hintingPreference(), QFont::PreferNoHinting);
    // Arial Black is drawn as the heaviest weight of its stand-in.
    const TextFont black(LogicalFont{QStringLiteral("Arial Black"), -16, 400});
    EXPECT_GE(QFontInfo(black.font()).weight(), int(QFont::Bold));
}

TEST(TextMeasure, AdvancesAreArialDesignWidthsRoundedWithoutDrift)
{
    if (!haveFamily(QStringLiteral("Liberation Sans")))
        GTEST_SKIP() << "Liberation Sans is not installed (Debian package fonts-liberation2)";
    const TextFont f(arial(-13));
    // Arial's 'W' is 1933 of 2048 units: 12.27 px at 13 px; 'i' is 455: 2.89 px.
    qint32 dx[10];
    const QString w = QStringLiteral("WWWWWWWWWW");
    EXPECT_EQ(f.advances(w.constData(), w.size(), dx), 123); // 122.7 rounded once, not 10 x 12
    int sum = 0;
    for (qint32 a : dx) {
        EXPECT_TRUE(a == 12 || a == 13);
        sum += a;
    }
    EXPECT_EQ(sum, 123);
    EXPECT_EQ(f.width(QStringLiteral("iiiiiiiiii")), 29);
    // Cell height: Arial's ascent 1854 and descent 434 units: 12 + 3 px at 13 px.
    EXPECT_EQ(f.ascent(), 12);
    EXPECT_EQ(f.descent(), 3);
    EXPECT_EQ(f.cellHeight(), 15);
    // Widths scale linearly with the size (no hinting): 130 px is ten times 13 px.
    EXPECT_EQ(TextFont(arial(-130)).width(QStringLiteral("W")), 123);
}

TEST(TextMeasure, HeightsFollowGdi)
{
    if (!haveFamily(QStringLiteral("Liberation Sans")))
        GTEST_SKIP() << "Liberation Sans is not installed (Debian package fonts-liberation2)";
    // Negative: em height; positive: cell height; 0: GDI's default of 16 px.
    EXPECT_EQ(TextFont(arial(-13)).font().pixelSize(), 13);
    EXPECT_EQ(TextFont(arial(15)).font().pixelSize(), 13);
    EXPECT_EQ(TextFont(arial(0)).font().pixelSize(), 16);
    // Damaged pages cannot ask for absurd sizes.
    EXPECT_LE(TextFont(arial(-2147483647 - 1)).font().pixelSize(), 2000);
    EXPECT_LE(TextFont(arial(2147483647)).font().pixelSize(), 2000);
}

TEST(TextMeasure, CyrillicAndSurrogatesGetOneAdvancePerUtf16Unit)
{
    if (!haveFamily(QStringLiteral("Liberation Sans")))
        GTEST_SKIP() << "Liberation Sans is not installed (Debian package fonts-liberation2)";
    const TextFont f(arial(-13));
    const QString cyr = QStringLiteral("Пациент");
    qint32 dx[7];
    const int w = f.advances(cyr.constData(), cyr.size(), dx);
    for (qint32 a : dx)
        EXPECT_GT(a, 3);
    EXPECT_GT(w, 40);
    // U+1D400 is a surrogate pair: the advance goes on its first unit, 0 on the second.
    const QString pair = QString::fromUcs4(U"a\U0001D400b");
    ASSERT_EQ(pair.size(), 4);
    qint32 pdx[4];
    f.advances(pair.constData(), pair.size(), pdx);
    EXPECT_EQ(pdx[2], 0);
    EXPECT_GT(pdx[0], 0);
    EXPECT_GT(pdx[3], 0);
}
