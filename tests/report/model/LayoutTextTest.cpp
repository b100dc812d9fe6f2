// The text form of stored layouts: every kind of value, writing back, and malformed text.
#include "report/model/LayoutText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {
LayoutObject parse(const char* text) { return layouttext::parse(QByteArray(text), QStringLiteral("test")); }

const LayoutValue& value(const LayoutObject& o, const char* name)
{
    const LayoutProperty* p = o.find(QString::fromLatin1(name));
    EXPECT_NE(p, nullptr) << name;
    static const LayoutValue none;
    return p ? p->value : none;
}

// Line of the error a text raises, or -1 when it parses.
int errorLine(const QByteArray& text, QString* problem = nullptr)
{
    try {
        layouttext::parse(text, QStringLiteral("bad"));
    } catch (const ELayoutError& e) {
        if (problem)
            *problem = e.problem();
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Layout bad, line "))) << qPrintable(e.message());
        return e.line();
    }
    return -1;
}
} // namespace

TEST(LayoutTextValues, EveryKindOfValue)
{
    const LayoutObject o = parse(
        "object Report1: TReport\n"
        "  Zoom = 100\n"
        "  Font.Height = -13\n"
        "  Font.Color = $00FF0000\n"
        "  Size = 240.770833333333\n"
        "  Big = 1.5E+002\n"
        "  Units = MM\n"
        "  DataSet = Form1.Table1\n"
        "  Caption = 'it''s'#13#10'two' +\n"
        "    ' lines'\n"
        "  Unicode = #1054#1058'Ч'\n"
        "  Empty = ''\n"
        "  Style = []\n"
        "  Options = [FirstPageHeader, LastPageFooter]\n"
        "  Page.Values = (\n"
        "    100\n"
        "    2970.5\n"
        "    'x')\n"
        "  Picture.Data = {\n"
        "    0754 4269\n"
        "    746d}\n"
        "  // a comment\n"
        "end\n");
    EXPECT_EQ(o.name, QStringLiteral("Report1"));
    EXPECT_EQ(o.className, QStringLiteral("TReport"));
    EXPECT_EQ(value(o, "Zoom").integer, 100);
    EXPECT_EQ(value(o, "Font.Height").integer, -13);
    EXPECT_EQ(value(o, "Font.Color").integer, 0xFF0000);
    EXPECT_EQ(value(o, "Size").kind, LayoutValue::Kind::Float);
    EXPECT_NEAR(static_cast<double>(value(o, "Size").number), 240.770833333333, 1e-12);
    EXPECT_EQ(value(o, "Big").asNumber(), 150);
    EXPECT_EQ(value(o, "Units").text, QStringLiteral("MM"));
    EXPECT_EQ(value(o, "DataSet").kind, LayoutValue::Kind::Identifier);
    EXPECT_EQ(value(o, "DataSet").text, QStringLiteral("Form1.Table1"));
    EXPECT_EQ(value(o, "Caption").text, QStringLiteral("it's\r\ntwo lines"));
    EXPECT_EQ(value(o, "Unicode").text, QStringLiteral("ОТЧ"));
    EXPECT_EQ(value(o, "Empty").kind, LayoutValue::Kind::String);
    EXPECT_TRUE(value(o, "Style").set.isEmpty());
    EXPECT_EQ(value(o, "Options").set, (QStringList{"FirstPageHeader", "LastPageFooter"}));
    ASSERT_EQ(value(o, "Page.Values").list.size(), 3u);
    EXPECT_EQ(value(o, "Page.Values").list[1].asNumber(), 2970.5L);
    EXPECT_EQ(value(o, "Page.Values").list[2].text, QStringLiteral("x"));
    EXPECT_EQ(value(o, "Picture.Data").binary, QByteArray::fromHex("07544269746d"));
    EXPECT_EQ(o.find(QStringLiteral("Zoom"))->line, 2);
    EXPECT_EQ(o.find(QStringLiteral("Picture.Data"))->line, 19);
}

TEST(LayoutTextValues, NestedObjectsKeepTheirOrder)
{
    const LayoutObject o = parse("object R: TReport\n object B1: TRpBand\n  object L1: TRpLabel\n  end\n"
                                 "  object L2: TRpLabel\n  end\n end\n object B2: TRpBand\n end\nend");
    ASSERT_EQ(o.children.size(), 2u);
    EXPECT_EQ(o.children[0].children.size(), 2u);
    EXPECT_EQ(o.children[0].children[1].name, QStringLiteral("L2"));
    EXPECT_EQ(o.children[0].children[1].line, 5);
    EXPECT_EQ(o.children[1].name, QStringLiteral("B2"));
}

TEST(LayoutTextValues, WrittenTextReadsBackTheSame)
{
    LayoutObject root;
    root.name = QStringLiteral("Report1");
    root.className = QStringLiteral("TReport");
    root.properties.push_back({QStringLiteral("Caption"),
                               LayoutValue::makeString(QStringLiteral("a'b\r\nОТЧЁТ ")), 0});
    root.properties.push_back({QStringLiteral("Size.Values"),
                               LayoutValue::makeList({LayoutValue::makeFloat(240.770833333333L),
                                                      LayoutValue::makeInteger(-7)}), 0});
    root.properties.push_back({QStringLiteral("Options"), LayoutValue::makeSet({"A", "B"}), 0});
    QByteArray bytes;
    for (int i = 0; i < 300; ++i)
        bytes.append(static_cast<char>(i));
    root.properties.push_back({QStringLiteral("Picture.Data"), LayoutValue::makeBinary(bytes), 0});
    LayoutObject child;
    child.name = QStringLiteral("B");
    child.className = QStringLiteral("TRpBand");
    root.children.push_back(child);

    const LayoutObject back = layouttext::parse(layouttext::write(root), QStringLiteral("written"));
    EXPECT_EQ(back.find(QStringLiteral("Caption"))->value.text, root.properties[0].value.text);
    const auto& list = back.find(QStringLiteral("Size.Values"))->value.list;
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(layouttext::formatNumber(list[0].asNumber()), QStringLiteral("240.770833333333"));
    EXPECT_EQ(list[1].integer, -7);
    EXPECT_EQ(back.find(QStringLiteral("Options"))->value.set, (QStringList{"A", "B"}));
    EXPECT_EQ(back.find(QStringLiteral("Picture.Data"))->value.binary, bytes);
    ASSERT_EQ(back.children.size(), 1u);
    EXPECT_EQ(back.children[0].className, QStringLiteral("TRpBand"));
}

TEST(LayoutTextErrors, EachProblemNamesItsLine)
{
    const struct {
        const char* text;
        int line;
        const char* problem;
    } cases[] = {
        {"", 1, "empty layout"},
        {"object R: TReport\n  A = 1\n", 1, "has no 'end'"},
        {"object R: TReport\n  A = 'open\nend", 2, "not closed"},
        {"object R: TReport\n  A = 1\n  B = {0A1}\nend", 3, "odd number"},
        {"object R: TReport\n  A = {0G}\nend", 2, "hex digit"},
        {"object R: TReport\n\n  A = @\nend", 3, "value expected"},
        {"object R: TReport\n  A = 99999999999999999999\nend", 2, "out of range"},
        {"object R: TReport\n  A = 1e99999\nend", 2, "out of range"},
        {"object R: TReport\n  A = #1114112\nend", 2, "out of range"},
        {"object R: TReport\n  A = #55296\nend", 2, "not a character"},
        {"object R: TReport\n  A = #\nend", 2, "character code expected"},
        {"object R: TReport\n  A = 'x' +\nend", 3, "text expected"},
        {"object R: TReport\nend\nobject S: TReport\nend", 3, "after the end"},
        {"object R: TReport\n  object B: TRpBand\n  end\n  A = 1\nend", 4, "property after"},
        {"object R TReport\nend", 1, "':' expected"},
        {"thing R: TReport\nend", 1, "'object' expected"},
        {"object R: TReport\n  A 1\nend", 2, "'=' expected"},
        {"object R: TReport\n  A = [x y]\nend", 2, "',' or ']'"},
        {"object R: TReport\n  A = (1 (2))\nend", 2, "value expected"},
        {"object R: TReport\n  A = (1\n  2\n", 2, "not closed"},
        {"object R: TReport\n  A = 12abc\nend", 2, "malformed number"},
    };
    for (const auto& c : cases) {
        QString problem;
        EXPECT_EQ(errorLine(QByteArray(c.text), &problem), c.line) << c.text;
        EXPECT_TRUE(problem.contains(QLatin1String(c.problem))) << c.text << " -> " << qPrintable(problem);
    }
}

TEST(LayoutTextErrors, DeepNestingAndHugeTextAreRefused)
{
    QByteArray deep;
    for (int i = 0; i < 40; ++i)
        deep += "object O" + QByteArray::number(i) + ": TRpBand\n";
    QString problem;
    EXPECT_EQ(errorLine(deep, &problem), layouttext::kMaxDepth + 1);
    EXPECT_TRUE(problem.contains(QLatin1String("nested deeper")));

    QByteArray huge = "object R: TReport\n  A = '";
    huge += QByteArray(layouttext::kMaxTextSize, 'x');
    EXPECT_EQ(errorLine(huge, &problem), 1);
    EXPECT_TRUE(problem.contains(QLatin1String("larger than")));
}

TEST(LayoutTextErrors, ObjectAndValueCountsAreBounded)
{
    QByteArray many = "object R: TReport\n";
    for (int i = 0; i <= layouttext::kMaxObjects; ++i)
        many += "object B" + QByteArray::number(i) + ": TRpBand\nend\n";
    many += "end\n";
    QString problem;
    EXPECT_EQ(errorLine(many, &problem), 2 + 2 * layouttext::kMaxObjects - 2);
    EXPECT_TRUE(problem.contains(QLatin1String("objects")));

    QByteArray values = "object R: TReport\n  A = (";
    for (int i = 0; i <= layouttext::kMaxValues; ++i)
        values += "1 ";
    values += ")\nend\n";
    EXPECT_EQ(errorLine(values, &problem), 2);
    EXPECT_TRUE(problem.contains(QLatin1String("values")));
}

// Numbers read and write with a point whatever the C locale (the application takes the user's).
TEST(LayoutTextValues, NumbersIgnoreTheCLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const bool comma = std::setlocale(LC_NUMERIC, "ru_RU.UTF-8") || std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const LayoutObject o = parse("object R: TReport\n  A = 240.770833333333\n  B = -1.5E+002\nend\n");
    const QString written = layouttext::formatNumber(1899.70833333333L);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_NEAR(static_cast<double>(value(o, "A").number), 240.770833333333, 1e-12);
    EXPECT_EQ(value(o, "B").asNumber(), -150);
    EXPECT_EQ(written, QStringLiteral("1899.70833333333"));
    if (!comma)
        GTEST_SKIP() << "no locale with a decimal comma is installed; checked in the C locale only";
}

TEST(LayoutTextValues, TextsOutsideTheBasicPlaneWriteBack)
{
    LayoutObject root;
    root.name = QStringLiteral("R");
    root.className = QStringLiteral("TReport");
    const QString text = QStringLiteral("µ ‰ \U0001D50A");
    root.properties.push_back({QStringLiteral("Caption"), LayoutValue::makeString(text), 0});
    const LayoutObject back = layouttext::parse(layouttext::write(root), QStringLiteral("written"));
    EXPECT_EQ(back.find(QStringLiteral("Caption"))->value.text, text);
}
