// Line formatting: splitting at line breaks, word breaking, minimum height and auto-size, with
// fixed character widths; and the reference context with the real fonts.
#include "ModelTestSupport.h"

#include "report/model/FormatLines.h"
#include "report/model/ReferenceContext.h"
#include "report/model/RpItems.h"

#include <QFontMetricsF>
#include <gtest/gtest.h>

using namespace modeltest;

namespace {
// As items measure on a report at zoom 100 with 10-pixel characters: extent + 1.
const formatlines::Measure width10{
    [](const QString& s) { return std::vector<double>(static_cast<size_t>(s.size()), 10.0); },
    [](int extent) { return extent + 1; }};

QStringList wrap(const QString& text, int width, bool wordWrap = true)
{
    return formatlines::formatText(text, false, wordWrap, width, width10);
}

struct LabelFixture {
    std::unique_ptr<TReport> report = metricReport();
    TRpCustomBand* band = addBand(*report, TRpBandType::rbDetail, QStringLiteral("D"), 100);
    TRpLabel* label = nullptr;

    explicit LabelFixture(TAlignment align, int left = 100, int width = 50, int height = 17)
    {
        label = static_cast<TRpLabel*>(band->AddItem(std::make_unique<TRpLabel>()));
        label->Alignment = align;
        label->SetPixelBounds(left, 10, width, height);
    }
};
} // namespace

TEST(FormatLinesBreaks, CarriageReturnSplitsAndLineFeedIsRemoved)
{
    using formatlines::splitSegments;
    EXPECT_EQ(splitSegments(QStringLiteral("ab\r\ncd")), (QStringList{"ab", "cd"}));
    EXPECT_EQ(splitSegments(QStringLiteral("ab\ncd")), (QStringList{"abcd"}));
    EXPECT_EQ(splitSegments(QStringLiteral("\r")), (QStringList{"", ""}));
    EXPECT_EQ(splitSegments(QString()), (QStringList{""}));
    // Under AutoSize each segment is one line, however long.
    EXPECT_EQ(formatlines::formatText(QStringLiteral("a very long text\r\nnext"), true, true, 5, width10),
              (QStringList{"a very long text", "next"}));
}

TEST(FormatLinesWrap, WordsFillLinesUpToTheItemWidth)
{
    EXPECT_EQ(wrap(QStringLiteral("aaa bbb ccc"), 55), (QStringList{"aaa ", "bbb ", "ccc"}));
    EXPECT_EQ(wrap(QStringLiteral("aaa bbb ccc"), 81), (QStringList{"aaa bbb ", "ccc"}));   // exactly fits
    EXPECT_EQ(wrap(QStringLiteral("ab-cd"), 35), (QStringList{"ab-", "cd"}));
    EXPECT_EQ(wrap(QStringLiteral("aaa\r\rbbb"), 100), (QStringList{"aaa", "", "bbb"}));
    EXPECT_EQ(wrap(QString(), 100), (QStringList{""}));
}

TEST(FormatLinesWrap, OverlongWordsAreCut)
{
    // First on its line: characters while the line stays narrower than the item, rest dropped.
    EXPECT_EQ(wrap(QStringLiteral("abcdefgh"), 35), (QStringList{"abc"}));
    EXPECT_EQ(wrap(QStringLiteral("abcdefgh"), 31), (QStringList{"ab"}));
    // After a line: shortened from its end until it fits, a line of its own.
    EXPECT_EQ(wrap(QStringLiteral("ab abcdefgh xy"), 35), (QStringList{"ab ", "abc", "xy"}));
    EXPECT_EQ(wrap(QStringLiteral("ab abcdefgh"), 31), (QStringList{"ab ", "abc"}));
}

TEST(FormatLinesWrap, ZeroWidthOrHugeWordsEndWithoutHanging)
{
    // A wide box and a long text of short words: every width is a sum over the advances, so
    // this takes as long as the text is long, not its square.
    QString words;
    for (int i = 0; i < 200000; ++i)
        words += QStringLiteral("ab ");
    EXPECT_EQ(wrap(words, 10000000).size(), 1);
    EXPECT_EQ(wrap(words, 1000000).size(), 7);   // 6 000 000 pixels of text
    EXPECT_EQ(wrap(words, 301).size(), 200000 / 10);

    const QString huge(200000, QLatin1Char('x'));
    const QStringList lines = wrap(QStringLiteral("ab ") + huge, 35);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[1], QStringLiteral("xxx"));
    for (const QString& l : wrap(QStringLiteral("ab cd ef"), 0))
        EXPECT_TRUE(l.isEmpty());
}

TEST(FormatLinesWrap, WithoutWordWrapTheOverflowingWordAndTheRestAreDropped)
{
    EXPECT_EQ(wrap(QStringLiteral("aaa bbb ccc"), 55, false), (QStringList{"aaa "}));
    EXPECT_EQ(wrap(QStringLiteral("aaa bbb"), 100, false), (QStringList{"aaa bbb"}));
    EXPECT_EQ(wrap(QStringLiteral("abcdefgh ab"), 35, false), (QStringList{"abc"}));
}

TEST(FormatLinesAutoSize, LeftAlignedKeepsItsLeftEdge)
{
    LabelFixture f(TAlignment::taLeftJustify);
    f.label->SetCaption(QStringLiteral("abc"));
    EXPECT_EQ(f.label->Left(), 100);
    EXPECT_EQ(f.label->Width(), 31);
    f.label->SetCaption(QStringLiteral("abcdefgh"));
    EXPECT_EQ(f.label->Left(), 100);
    EXPECT_EQ(f.label->Width(), 81);
    EXPECT_NEAR(static_cast<double>(f.label->Size.Native(TRpPrintableSize::Width)), 81 * 254 / 96.0, 1e-9);
}

TEST(FormatLinesAutoSize, RightAlignedKeepsItsRightEdge)
{
    LabelFixture f(TAlignment::taRightJustify);
    f.label->SetCaption(QStringLiteral("abc"));
    EXPECT_EQ(f.label->Left() + f.label->Width(), 150);
    f.label->SetCaption(QStringLiteral("abcdefgh"));
    EXPECT_EQ(f.label->Left(), 150 - 81);
}

TEST(FormatLinesAutoSize, CentredKeepsItsCentreWithIntegerHalving)
{
    LabelFixture f(TAlignment::taCenter);
    f.label->SetCaption(QStringLiteral("abc"));   // 50 -> 31: moves by 19 div 2 = 9
    EXPECT_EQ(f.label->Left(), 109);
    f.label->SetCaption(QStringLiteral("abcdefgh"));   // 31 -> 81: moves by -50 div 2
    EXPECT_EQ(f.label->Left(), 84);
    f.label->SetCaption(QStringLiteral("abcdefghij"));   // 81 -> 101: -20 div 2
    EXPECT_EQ(f.label->Left(), 74);
    f.label->SetCaption(QStringLiteral("abcdefghijk"));   // 101 -> 111: -10 div 2
    EXPECT_EQ(f.label->Left(), 69);
    f.label->SetCaption(QStringLiteral("abcdefghi"));   // 111 -> 91: 20 div 2
    EXPECT_EQ(f.label->Left(), 79);
}

TEST(FormatLinesAutoSize, FrameSidesAddTheirWidthAndLinesTakeTheWidest)
{
    LabelFixture f(TAlignment::taLeftJustify);
    f.label->Frame.DrawLeft = true;
    f.label->Frame.DrawRight = true;
    f.label->SetCaption(QStringLiteral("ab\r\nabcd\r\nabc"));
    EXPECT_EQ(f.label->Lines().size(), 3);
    EXPECT_EQ(f.label->Width(), 41 + 2);
    f.label->Frame.Width = -1;   // one device pixel
    f.label->Frame.DrawRight = false;
    f.label->FormatLines();
    EXPECT_EQ(f.label->Width(), 41 + 1);
}

TEST(FormatLinesHeight, RaisedToTheCellHeightNeverLowered)
{
    LabelFixture low(TAlignment::taLeftJustify, 0, 50, 10);
    low.label->SetCaption(QStringLiteral("x"));
    EXPECT_EQ(low.label->Height(), 16);   // 15 + 1
    LabelFixture high(TAlignment::taLeftJustify, 0, 50, 40);
    high.label->SetCaption(QStringLiteral("x"));
    EXPECT_EQ(high.label->Height(), 40);
    // Without AutoSize too, and the width stays.
    LabelFixture fixed(TAlignment::taLeftJustify, 0, 50, 3);
    fixed.label->AutoSize = false;
    fixed.label->SetCaption(QStringLiteral("aaa bbb ccc"));
    EXPECT_EQ(fixed.label->Height(), 16);
    EXPECT_EQ(fixed.label->Width(), 50);
    EXPECT_EQ(fixed.label->Lines(), (QStringList{"aaa ", "bbb ", "ccc"}));
}

TEST(FormatLinesZoom, WidthAndHeightScaleWithTheReportZoom)
{
    LabelFixture f(TAlignment::taLeftJustify, 0, 50, 3);
    f.report->SetZoom(150);
    f.label->SetCaption(QStringLiteral("abc"));
    EXPECT_EQ(f.label->Width(), 47);   // (30 + 1) * 150 / 100 = 46.5
    EXPECT_EQ(f.label->Height(), 15 * 150 / 100 + 1);
}

TEST(FormatLinesFieldText, DataFieldSetsTheCaptionAndFormatsAtOnce)
{
    LabelFixture f(TAlignment::taLeftJustify);
    auto* db = static_cast<TRpDBText*>(f.band->AddItem(std::make_unique<TRpDBText>()));
    db->Name = QStringLiteral("RpDBText1");
    db->SetDataField(QStringLiteral("RECEPTION"));
    EXPECT_EQ(db->Caption(), QStringLiteral("RECEPTION"));
    EXPECT_EQ(db->Width(), 91);
    db->SetDataField(QString());
    EXPECT_EQ(db->Caption(), QStringLiteral("RpDBText1"));
    EXPECT_EQ(db->Width(), 91);
    db->SetDataField(QStringLiteral("DAT"));
    EXPECT_EQ(db->Width(), 31);
}

// ---- the reference context with real fonts ----

class ReferenceFonts : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ReferenceContext::FontAvailable(QStringLiteral("Arial")))
            GTEST_SKIP() << "Liberation Sans (fonts-liberation2) is not installed; Arial cannot be measured";
    }
    ReferenceContext context;
};

TEST_F(ReferenceFonts, MeasuresAt96DotsPerInch)
{
    EXPECT_EQ(context.Device().logicalDpiX(), 96);
    EXPECT_EQ(context.Device().logicalDpiY(), 96);
    TRpFont arial;   // Arial 10 pt, 13 pixels
    EXPECT_EQ(context.CellHeight(arial), 15);
    EXPECT_EQ(context.TextExtent(arial, QString()), 0);
    // Liberation Sans has Arial's advances: "WBC" is 2.333 em, 30.3 pixels.
    EXPECT_EQ(context.TextExtent(arial, QStringLiteral("WBC")), 31);
    // A run is as wide as the sum of its characters: no kerning ("AV") and no ligatures.
    const QString text = QStringLiteral("AVATAR fi fl Та");
    double sum = 0;
    for (double a : context.Advances(arial, text))
        sum += a;
    EXPECT_NEAR(sum, QFontMetricsF(rpQFont(arial), &context.Device()).horizontalAdvance(text), 0.5);
}

TEST_F(ReferenceFonts, SameTextSameWidthOnEveryContext)
{
    ReferenceContext other;
    TRpFont arial;
    const QString text = QStringLiteral("Результат гематологического анализа");
    EXPECT_EQ(context.TextExtent(arial, text), other.TextExtent(arial, text));
    TRpFont bigger = arial;
    bigger.SetSize(12);
    EXPECT_GT(context.TextExtent(bigger, text), context.TextExtent(arial, text));
    TRpFont underlined = arial;
    underlined.Style.set(TFontStyle::fsUnderline);
    EXPECT_EQ(context.TextExtent(underlined, text), context.TextExtent(arial, text));
}

TEST_F(ReferenceFonts, ArialBlackStandsInAsAHeavyFace)
{
    TRpFont black;
    black.Name = QStringLiteral("Arial Black");
    TRpFont arial;
    const QString text = QStringLiteral("Клинико-диагностическая лаборатория");
    EXPECT_GT(context.TextExtent(black, text), context.TextExtent(arial, text));
    EXPECT_EQ(rpQFont(black).hintingPreference(), QFont::PreferNoHinting);
}
