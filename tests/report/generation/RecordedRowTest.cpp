// A row stored the way the import stores it, printed through both layouts as the program binds
// them: every text lands where the layout puts its item, within a pixel.
#include "GenerationFixtures.h"

#include "report/model/FormatLines.h"
#include "report/model/ReferenceContext.h"
#include "report/model/RpBinding.h"
#include "store/PeriodQuery.h"
#include "store/ResultTable.h"
#include "store/Statements.h"

#include <gtest/gtest.h>
#include <map>

using gentest::NotedRun;
using gentest::TextAt;

namespace {

// Expected anchor of each text item's first line, taken from the layout before the run.
struct Expected {
    QString item;
    QString text;   // empty: any text (system data)
    bool any;
    long double anchorX, topY;
    TAlignment align;
};

std::vector<Expected> expectations(const TReport& r, const std::map<QString, int>& bandTops,
                                   const TDataSet& row)
{
    std::vector<Expected> out;
    for (const auto& band : r.BandList()) {
        const auto top = bandTops.find(band->Name);
        if (top == bandTops.end() || !band->Enabled)
            continue;
        for (const auto& it : band->Items()) {
            auto* label = dynamic_cast<const TRpCustomLabel*>(it.get());
            if (!label || !label->Enabled)
                continue;
            Expected e;
            e.item = label->Name;
            e.any = dynamic_cast<const TRpSysData*>(label) != nullptr;
            if (auto* field = dynamic_cast<const TRpDBText*>(label)) {
                const TField* f = row.FindField(field->DataField());
                e.text = f ? f->DisplayText() : QString();
            } else {
                e.text = formatlines::splitSegments(label->Caption()).value(0);
            }
            if (e.text.isEmpty() && !e.any)
                continue;
            const long double frame = label->Frame.Width * rpunits::kNativePerPoint;
            const long double left = label->Size.Native(TRpPrintableSize::Left)
                                     + (label->Frame.DrawLeft ? std::nearbyint(frame) : 0);
            const long double width = label->Size.Native(TRpPrintableSize::Width);
            e.align = label->Alignment;
            e.anchorX = e.align == TAlignment::taLeftJustify ? left
                        : e.align == TAlignment::taCenter   ? left + width / 2
                                                            : left + width;
            e.topY = top->second + label->Size.Native(TRpPrintableSize::Top)
                     + (label->Frame.DrawTop ? std::nearbyint(frame) : 0);
            out.push_back(e);
        }
    }
    return out;
}

// Each expectation against the recorded texts in drawing order.
void checkPositions(const std::vector<Expected>& expected, const std::vector<TextAt>& texts,
                    const TRpPrinter& p, long double leftMargin)
{
    ASSERT_EQ(texts.size(), expected.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        const Expected& e = expected[i];
        const TextAt& t = texts[i];
        if (!e.any) {
            EXPECT_EQ(t.text, e.text) << e.item.toStdString();
        }
        const int x = p.XPos(static_cast<double>(e.anchorX + leftMargin));
        const int y = p.YPos(static_cast<double>(e.topY));
        EXPECT_NEAR(t.x, x, 1) << e.item.toStdString();
        EXPECT_NEAR(t.y, y, 1) << e.item.toStdString();
        EXPECT_EQ(t.top, t.y) << e.item.toStdString();
    }
}

class RecordedRow : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!ReferenceContext::FontAvailable(QStringLiteral("Arial")))
            GTEST_SKIP() << "Liberation Sans (fonts-liberation2) is not installed; text positions cannot be checked";
        ASSERT_TRUE(dir.isValid());
        folder = dir.path() + QLatin1Char('/');
        ASSERT_EQ(gentest::storeImportedRow(folder), 1);
    }
    QTemporaryDir dir;
    QString folder;
};

TEST_F(RecordedRow, ResultSheetTextsLandWhereTheLayoutPutsThem)
{
    TTable table;
    table.SetName(QStringLiteral("Table1"));
    table.SetTableName(resulttable::tableFile(folder));
    table.Open();
    table.Last();
    auto sheet = gentest::layout("Report");
    const QStringList missing = layoutloader::resolveDataSets(*sheet, [&](const QString& w, const QString& c) -> TDataSet* {
        return w == QLatin1String("Form1") && c == QLatin1String("Table1") ? &table : nullptr;
    });
    ASSERT_TRUE(missing.isEmpty());
    const auto expected = expectations(*sheet, {{"RpBand1", 100}, {"RpBand2", 341}}, table);
    NotedRun run(*sheet);
    run.run();
    ASSERT_EQ(run.recorder.PageCount(), 1);
    checkPositions(expected, gentest::textsOfPage(run.recorder, 1), run.recorder, 100);
    // The sheet shows the row's own values.
    QStringList texts;
    for (const TextAt& t : gentest::textsOfPage(run.recorder, 1))
        texts << t.text;
    for (const char* v : {"123456789", "10:15:42", "7.5 |", "245", "15.6"})
        EXPECT_TRUE(texts.contains(QString::fromLatin1(v))) << v;
    // The table stays on its row: the result sheet has no data set of its own.
    EXPECT_EQ(table.RecNo(), 1);
}

TEST_F(RecordedRow, PeriodReportRowLandsWhereTheLayoutPutsIt)
{
    TQuery query;
    query.SetName(QStringLiteral("Query1"));
    query.SQL << singleDaySelect(folder, QDate(2023, 6, 5));
    query.Open();
    ASSERT_EQ(query.RecordCount(), 1);
    auto report = gentest::layout("Unit7");
    const QStringList missing = layoutloader::resolveDataSets(*report, [&](const QString& w, const QString& c) -> TDataSet* {
        return w == QLatin1String("Form6") && c == QLatin1String("Query1") ? &query : nullptr;
    });
    ASSERT_TRUE(missing.isEmpty());
    // The period dialog names the fields before every preview.
    int bound = 0;
    report->ForEachItem([&](TRpPrintable& it) {
        for (const auto& binding : periodquery::fieldBindings())
            bound += it.Name == binding.first && dynamic_cast<TRpDBText*>(&it) ? 1 : 0;
    });
    rpbinding::bindFields(*report, nullptr, periodquery::fieldBindings());
    ASSERT_EQ(bound, 19);
    const auto expected = expectations(*report, {{"RpBand1", 100}, {"RpBand2", 171}, {"RpBand3", 235}, {"RpBand4", 288}}, query);
    NotedRun run(*report);
    run.run();
    ASSERT_EQ(run.recorder.PageCount(), 1);
    checkPositions(expected, gentest::textsOfPage(run.recorder, 1), run.recorder, 50);
    QStringList texts;
    for (const TextAt& t : gentest::textsOfPage(run.recorder, 1))
        texts << t.text;
    for (const char* v : {"123456789", "7.5 |", "245", "15.6", "1"})
        EXPECT_TRUE(texts.contains(QString::fromLatin1(v))) << v;
}

} // namespace
