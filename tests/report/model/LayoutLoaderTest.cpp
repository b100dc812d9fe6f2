// Loading stored layouts: the loading steps, and malformed or hostile layouts refused with the
// line of the problem, never a crash.
#include "report/model/LayoutLoader.h"
#include "report/model/RpItems.h"
#include "report/model/UnitPictures.h"

#include <gtest/gtest.h>
#include <random>

namespace {

std::unique_ptr<TReport> load(const QByteArray& text)
{
    return layoutloader::load(text, QStringLiteral("test"), QLocale(QLocale::Russian, QLocale::Russia));
}

// Error line and problem of a layout that must be refused.
std::pair<int, QString> refusal(const QByteArray& text)
{
    try {
        load(text);
    } catch (const ELayoutError& e) {
        return {e.line(), e.problem()};
    }
    return {-1, QString()};
}

QByteArray withBody(const QByteArray& reportProps, const QByteArray& bandBody)
{
    return "object Report1: TReport\n" + reportProps +
           "  object RpBand1: TRpBand\n"
           "    BandType = rbDetail\n" + bandBody +
           "  end\n"
           "end\n";
}

} // namespace

TEST(LayoutLoad, FontSizeWinsOverFontHeight)
{
    auto r = load(withBody("", "    object L: TRpLabel\n"
                               "      Font.Height = -20\n"
                               "      Font.Name = 'Arial'\n"
                               "      FontSize = 10\n"
                               "    end\n"
                               "    object M: TRpLabel\n"
                               "      Font.Height = -13\n"
                               "      FontSize = 10\n"
                               "    end\n"
                               "    object N: TRpLabel\n"
                               "      Font.Height = -11\n"
                               "      FontSize = 0\n"
                               "    end\n"));
    const auto& items = r->BandList()[0]->Items();
    EXPECT_EQ(dynamic_cast<const TRpLabel&>(*items[0]).Font().Size(), 10);
    EXPECT_EQ(dynamic_cast<const TRpLabel&>(*items[0]).Font().Height, -13);
    EXPECT_EQ(dynamic_cast<const TRpLabel&>(*items[1]).Font().Size(), 10);
    EXPECT_EQ(dynamic_cast<const TRpLabel&>(*items[2]).Font().Size(), 8);
}

TEST(LayoutLoad, PixelBoundsAreHeldBackUntilSizeValuesAreKnown)
{
    auto r = load(withBody("", "    Height = 77\n"
                               "    Size.Values = (\n      240.770833333333\n      0)\n"
                               "    object S: TRpShape\n"
                               "      Left = 500\n      Top = 3\n      Width = 65\n      Height = 65\n"
                               "      Size.Values = (\n        70\n        317.5\n        0\n        0)\n"
                               "    end\n"));
    const TRpCustomBand& b = *r->BandList()[0];
    EXPECT_EQ(b.Height, 91);   // Size.Values decide
    const TRpPrintable& s = *b.Items()[0];
    EXPECT_EQ(s.Left(), 120);
    EXPECT_EQ(s.Top(), 3);     // zero from Size.Values: the stored pixels stand
    EXPECT_EQ(s.Width(), 65);
    EXPECT_EQ(s.Height(), 26);
}

TEST(LayoutLoad, StoredPixelFallbacksNeverRewriteTheNativeMeasures)
{
    // A band whose Size.Values give a new band's 40 pixels shows its stored Height of 57 on the
    // design surface but keeps its 105.83 native height; an item's zero Top stays zero.
    auto r = load(withBody("", "    Height = 57\n"
                               "    Size.Values = (\n      105.833333333333\n      0)\n"
                               "    object S: TRpShape\n"
                               "      Top = 3\n"
                               "      Size.Values = (\n        70\n        317.5\n        0\n        100)\n"
                               "    end\n"));
    const TRpCustomBand& b = *r->BandList()[0];
    EXPECT_EQ(b.Height, 57);
    EXPECT_NEAR(static_cast<double>(b.Size.Native(TRpBandSize::Height)), 105.833333333333, 1e-9);
    const TRpPrintable& s = *b.Items()[0];
    EXPECT_EQ(s.Top(), 3);
    EXPECT_EQ(s.Size.Native(TRpPrintableSize::Top), 0);
}

TEST(LayoutLoad, UnitsFollowTheLayoutOrElseTheLocale)
{
    const QByteArray noUnits = withBody("", "");
    const QByteArray mm = withBody("  Units = MM\n", "");
    const QByteArray inches = withBody("  Units = Inches\n", "");
    struct Case {
        const QByteArray* text;
        QLocale locale;
        TRpUnit expected;
    };
    const Case cases[] = {
        {&noUnits, QLocale(QLocale::Russian, QLocale::Russia), TRpUnit::MM},
        {&noUnits, QLocale(QLocale::English, QLocale::UnitedStates), TRpUnit::Inches},
        {&mm, QLocale(QLocale::English, QLocale::UnitedStates), TRpUnit::MM},
        {&inches, QLocale(QLocale::Russian, QLocale::Russia), TRpUnit::Inches},
    };
    for (const Case& c : cases) {
        auto r = layoutloader::load(*c.text, QStringLiteral("test"), c.locale);
        EXPECT_EQ(r->Units(), c.expected) << c.locale.name().toStdString();
        EXPECT_EQ(r->Page.Units(), c.expected) << c.locale.name().toStdString();
    }
}

TEST(LayoutLoad, ChildBandsFollowTheirParent)
{
    auto r = load("object R: TReport\n"
                  "  object C: TRpChildBand\n    ParentBand = D\n  end\n"
                  "  object S: TRpBand\n    BandType = rbSummary\n  end\n"
                  "  object D: TRpBand\n    BandType = rbDetail\n  end\n"
                  "end\n");
    QStringList names;
    for (const auto& b : r->BandList())
        names << b->Name;
    EXPECT_EQ(names, (QStringList{"D", "C", "S"}));
    EXPECT_EQ(r->BandList()[1]->Width, r->BandList()[0]->Width);
}

TEST(LayoutLoad, StrangeButHarmlessValuesAreTakenAsTheModelTakesThem)
{
    auto r = load(withBody("  Zoom = 0\n  Page.Columns = 0\n", ""));
    EXPECT_EQ(r->Zoom(), 100);
    EXPECT_EQ(r->Page.Columns(), 1);
}

TEST(LayoutLoadErrors, MeaningErrorsNameTheLineAndTheProblem)
{
    const struct {
        QByteArray text;
        int line;
        const char* problem;
    } cases[] = {
        {"object R: TRpBand\nend\n", 1, "TReport was expected"},
        {withBody("  Nonsense = 1\n", ""), 2, "unknown property"},
        {withBody("  Zoom = 'x'\n", ""), 2, "whole number"},
        {withBody("  Units = Furlongs\n", ""), 2, "unknown unit"},
        {withBody("  Page.Values = (\n 1\n 2\n 3)\n", ""), 2, "7 numbers expected"},
        {withBody("  Page.Values = (\n 1\n 2\n 3\n 4\n 5\n 6\n 1e300)\n", ""), 2, "out of range"},
        {withBody("  Page.PaperSize = A9\n", ""), 2, "unknown paper size"},
        {withBody("  Options = [FirstPageHeader, Nope]\n", ""), 2, "unknown set member"},
        {withBody("", "    BandType = rbNothing\n"), 4, "unknown value"},
        {withBody("", "    Size.Values = (\n 1)\n"), 4, "2 numbers expected"},
        {withBody("", "    object X: TButton\n    end\n"), 4, "cannot be placed"},
        {withBody("", "    object X: TRpLabel\n      object Y: TRpLabel\n      end\n    end\n"), 5, "cannot hold"},
        {withBody("", "    object RpBand1: TRpLabel\n    end\n"), 4, "used twice"},
        {withBody("", "    object X: TRpLabel\n      Alignment = taMiddle\n    end\n"), 5, "unknown value"},
        {withBody("", "    object X: TRpLabel\n      AutoSize = Yes\n    end\n"), 5, "True or False"},
        {withBody("", "    object X: TRpLabel\n      Font.Height = 5000\n    end\n"), 5, "outside"},
        {withBody("", "    object X: TRpLabel\n      Font.Name = ''\n    end\n"), 5, "font name"},
        {withBody("", "    object X: TRpLabel\n      DataField = 'A'\n    end\n"), 5, "unknown property"},
        {withBody("", "    object X: TRpShape\n      Caption = 'A'\n    end\n"), 5, "unknown property"},
        {withBody("", "    object X: TRpImage\n      Picture.Data = {0454457874}\n    end\n"), 5, "unsupported graphic class"},
        {withBody("", "    object X: TRpImage\n      Picture.Data = {07544269746D6170FF000000424D}\n    end\n"), 5, "bitmap length"},
        {withBody("", "    object X: TRpImage\n      Picture.Data = {3054}\n    end\n"), 5, "runs past the end"},
        {withBody("  Functions.Strings = (\n 'A'\n 'B')\n  Functions.DATA = (\n '0')\n", ""), 5, "Functions"},
        {"object R: TReport\n  object C: TRpChildBand\n    ParentBand = Nowhere\n  end\nend\n", 3, "no band named"},
    };
    for (const auto& c : cases) {
        const auto [line, problem] = refusal(c.text);
        EXPECT_EQ(line, c.line) << c.text.constData();
        EXPECT_TRUE(problem.contains(QLatin1String(c.problem))) << c.text.constData() << " -> " << qPrintable(problem);
    }
}

TEST(LayoutLoadErrors, DamagedBitmapsAreRefused)
{
    QByteArray bmp = unitpictures::toBmp24(unitpictures::draw(unitpictures::Kind::PerMille));
    auto refuse = [](const QByteArray& bitmap) {
        TRpPicture pic;
        return TRpPicture::Decode(TRpPicture::EncodeBitmap(bitmap), pic);
    };
    EXPECT_TRUE(refuse(bmp).isEmpty());
    QByteArray wide = bmp;
    wide[18] = '\xFF';
    wide[19] = '\xFF';
    wide[20] = '\xFF';
    wide[21] = '\x7F';   // 2^31 - 1 pixels wide
    EXPECT_FALSE(refuse(wide).isEmpty());
    QByteArray shortRows = bmp.left(bmp.size() - 10);
    EXPECT_TRUE(refuse(shortRows).contains(QLatin1String("past the end")));
    QByteArray packed = bmp;
    packed[30] = 1;   // run-length compressed
    EXPECT_TRUE(refuse(packed).contains(QLatin1String("compressed")));
    QByteArray notBmp = bmp;
    notBmp[0] = 'X';
    EXPECT_FALSE(refuse(notBmp).isEmpty());
}

// Damaged copies of the built-in layouts: every one loads or is refused with an error that
// names a line; none may crash, hang or read out of bounds.
TEST(LayoutLoadErrors, MutatedLayoutsNeverCrash)
{
    for (const QString& name : {QStringLiteral("Unit7"), QStringLiteral("Report")}) {
        const QByteArray original = layoutloader::readLayoutFile(layoutloader::builtinPath(name, QString()));
        std::mt19937 rng(20261207);
        const int rounds = name == QLatin1String("Unit7") ? 1000 : 200;
        int loaded = 0, refused = 0;
        for (int round = 0; round < rounds; ++round) {
            QByteArray text = original;
            std::uniform_int_distribution<qsizetype> pos(0, text.size() - 1);
            const int kind = round % 4;
            if (kind == 0) {
                text.truncate(pos(rng));
            } else {
                const int edits = 1 + round % 5;
                for (int e = 0; e < edits; ++e) {
                    const qsizetype at = pos(rng) % text.size();
                    static const char pool[] = "'#(){}[]=:-+$.,\n 0123456789eEaZ\x01\xD0\xFF";
                    const char c = kind == 1 ? static_cast<char>(rng() & 0xFF) : pool[rng() % (sizeof pool - 1)];
                    if (kind == 3)
                        text.remove(at, 1 + static_cast<qsizetype>(rng() % 40));
                    else
                        text[at] = c;
                }
            }
            try {
                auto r = load(text);
                ASSERT_NE(r, nullptr);
                ++loaded;
            } catch (const ELayoutError& e) {
                EXPECT_GE(e.line(), 1) << qPrintable(e.message());
                EXPECT_FALSE(e.problem().isEmpty());
                ++refused;
            }
        }
        EXPECT_GT(refused, 0);
        EXPECT_EQ(loaded + refused, rounds);
    }
}

TEST(LayoutLoadErrors, UnreadableFileSaysSo)
{
    try {
        layoutloader::loadFile(QStringLiteral("/nonexistent/Report.layout"));
        FAIL() << "no error";
    } catch (const ELayoutError& e) {
        EXPECT_TRUE(e.message().contains(QLatin1String("/nonexistent/Report.layout")));
        EXPECT_TRUE(e.message().contains(QLatin1String("cannot be read")));
    }
}
