// Where bands land: the result sheet's fixed figures, the period report's pages for row counts on
// either side of every break, empty reports, forced breaks, cancellation and page numbering.
#include "GenerationFixtures.h"
#include "report/pages/RpError.h"

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

using gentest::BandAt;
using gentest::NotedRun;

namespace {

TEST(Pagination, ResultSheetTitleAndDetailOnOnePage)
{
    auto r = gentest::layout("Report");
    NotedRun run(*r);
    run.run();
    // The second title band of the layout prints nowhere: the detail follows the first directly.
    EXPECT_EQ(run.bands, (std::vector<BandAt>{{"RpBand1", 1, 100}, {"RpBand2", 1, 341}}));
    EXPECT_EQ(run.yBeforeEndPage, std::vector<int>{1349});
    EXPECT_EQ(run.gen.PageCount(), 1);
    EXPECT_EQ(run.recorder.PageCount(), 1);
    EXPECT_EQ(run.recorder.Status(), TRpPrinterStatus::Finished);
    EXPECT_TRUE(run.gen.Available());
}

// The period report over n rows: details on each page, where the summary goes. With a page
// footer of the given height, details and summary keep clear of it and it prints on every page.
struct PeriodCase {
    int rows;
    std::vector<int> detailsPerPage;
    int summaryPage;
    int summaryY;
    int footer = 0;
};

class PeriodPages : public ::testing::TestWithParam<PeriodCase> {};

TEST_P(PeriodPages, DetailsPerPageAndSummaryPlace)
{
    const PeriodCase& c = GetParam();
    QTemporaryDir dir;
    const QString table = gentest::writeRows(dir.path(), c.rows);
    TTable data;
    data.SetTableName(table);
    data.Open();
    auto r = gentest::layout("Unit7");
    r->SetDataSet(&data);
    if (c.footer > 0) {
        r->Bands().SetHas(TRpBandType::rbPageFooter, true);
        TRpCustomBand* footer = r->FindBand(TRpBandType::rbPageFooter);
        footer->Name = QStringLiteral("Footer");
        footer->Size.StoreNative(TRpBandSize::Height, c.footer);
        footer->UpdateBoundsFromSize();
    }
    NotedRun run(*r);
    run.run();

    const int pages = static_cast<int>(c.detailsPerPage.size());
    EXPECT_EQ(run.gen.PageCount(), pages);
    EXPECT_EQ(run.recorder.PageCount(), pages);
    const auto details = run.named(QStringLiteral("RpBand3"));
    const auto headers = run.named(QStringLiteral("RpBand2"));
    std::vector<int> perPage(static_cast<size_t>(pages), 0);
    for (const BandAt& d : details)
        ++perPage[static_cast<size_t>(d.page - 1)];
    EXPECT_EQ(perPage, c.detailsPerPage);
    // Title at the top margin of page 1 and nowhere else; the column header below it on page 1
    // and at the top margin of every later page.
    EXPECT_EQ(run.named(QStringLiteral("RpBand1")), (std::vector<BandAt>{{"RpBand1", 1, 100}}));
    ASSERT_EQ(static_cast<int>(headers.size()), pages);
    for (int p = 1; p <= pages; ++p)
        EXPECT_EQ(headers[static_cast<size_t>(p - 1)], (BandAt{"RpBand2", p, p == 1 ? 171 : 100}));
    // Details follow each other 53 apart, the first of a page right below its column header.
    for (size_t i = 0; i < details.size(); ++i) {
        const bool firstOfPage = i == 0 || details[i - 1].page != details[i].page;
        const int expected = firstOfPage ? (details[i].page == 1 ? 235 : 164) : details[i - 1].y + 53;
        EXPECT_EQ(details[i].y, expected) << "detail " << i + 1;
    }
    EXPECT_EQ(run.named(QStringLiteral("RpBand4")), (std::vector<BandAt>{{"RpBand4", c.summaryPage, c.summaryY}}));
    EXPECT_EQ(run.gen.DetailNumber(), c.rows);
    // The footer sits on the bottom margin of every page (the layout prints it on the last too),
    // below the last band of the page.
    const int footerTop = 2050 - c.footer;
    const auto footers = run.named(QStringLiteral("Footer"));
    if (c.footer > 0) {
        ASSERT_EQ(static_cast<int>(footers.size()), pages);
        for (int p = 1; p <= pages; ++p)
            EXPECT_EQ(footers[static_cast<size_t>(p - 1)], (BandAt{"Footer", p, footerTop}));
    }
    for (const BandAt& d : details)
        EXPECT_LE(d.y + 53, footerTop) << "detail on page " << d.page << " at " << d.y;
    EXPECT_LE(c.summaryY + 106, footerTop);
}

// Page 1 holds 34 rows (235 + 34 x 53 = 2037 of 2050), later pages 35 (164 + 35 x 53 = 2019).
// The summary (106) stays with the last row when it leaves 106 above 2050.
INSTANTIATE_TEST_SUITE_P(Generation, PeriodPages, ::testing::Values(
    PeriodCase{1, {1}, 1, 288},
    PeriodCase{32, {32}, 1, 1931},
    PeriodCase{33, {33, 0}, 2, 164},
    PeriodCase{34, {34, 0}, 2, 164},
    PeriodCase{35, {34, 1}, 2, 217},
    PeriodCase{67, {34, 33}, 2, 1913},
    PeriodCase{68, {34, 34, 0}, 3, 164},
    PeriodCase{69, {34, 35, 0}, 3, 164},
    PeriodCase{70, {34, 35, 1}, 3, 217},
    // A footer of 100 leaves room for 32 rows on page 1 and 33 on later pages.
    PeriodCase{32, {32, 0}, 2, 164, 100},
    PeriodCase{65, {32, 33, 0}, 3, 164, 100},
    PeriodCase{66, {32, 33, 1}, 3, 217, 100},
    // A footer of 66 leaves exactly 33 x 53 below the column header of page 1: the 33rd row
    // fits to the unit.
    PeriodCase{33, {33, 0}, 2, 164, 66},
    PeriodCase{34, {33, 1}, 2, 217, 66}));

TEST(Pagination, EmptyPeriodReportHasTitleOneEmptyDetailAndSummaryWithoutColumnHeader)
{
    gentest::OpenRows rows(0);
    TTable& data = rows.data;
    auto r = gentest::layout("Unit7");
    r->SetDataSet(&data);
    NotedRun run(*r);
    run.run();
    EXPECT_EQ(run.bands, (std::vector<BandAt>{{"RpBand1", 1, 100}, {"RpBand3", 1, 171}, {"RpBand4", 1, 224}}));
    EXPECT_EQ(run.gen.DetailNumber(), 0);
    EXPECT_EQ(run.recorder.PageCount(), 1);
}

TEST(Pagination, WithoutPrintIfEmptyNoRowsGiveNoPages)
{
    gentest::OpenRows rows(0);
    TTable& data = rows.data;
    for (bool open : {true, false}) {
        auto r = gentest::layout("Unit7");
        r->SetPrintIfEmpty(false);
        if (open)
            r->SetDataSet(&data);
        NotedRun run(*r);
        run.run();
        EXPECT_TRUE(run.bands.empty()) << "data set open: " << open;
        EXPECT_EQ(run.recorder.PageCount(), 0);
        EXPECT_EQ(run.recorder.Status(), TRpPrinterStatus::Finished);
    }
}

TEST(Pagination, ForcedNewPageDetailIsSwallowedOnceThenBreaksEveryRecord)
{
    gentest::OpenRows rows(3);
    TTable& data = rows.data;
    // Without a column header the first detail's break is swallowed after the title.
    auto r = gentest::layout("Unit7");
    r->SetDataSet(&data);
    r->FindBand(TRpBandType::rbColumnHeader)->Enabled = false;
    r->FindBand(TRpBandType::rbDetail)->ForceNewPage = true;
    NotedRun run(*r);
    run.run();
    EXPECT_EQ(run.named(QStringLiteral("RpBand3")),
              (std::vector<BandAt>{{"RpBand3", 1, 171}, {"RpBand3", 2, 100}, {"RpBand3", 3, 100}}));
    EXPECT_EQ(run.named(QStringLiteral("RpBand4")), (std::vector<BandAt>{{"RpBand4", 3, 153}}));
}

TEST(Pagination, CancelBetweenDetails)
{
    gentest::OpenRows rows(50);
    TTable& data = rows.data;
    struct Case {
        const char* what;
        bool reportCancel;
        bool endPageOnLastPage;
        TRpPrinterStatus status;
    };
    for (const Case& c : {Case{"recorder's cancel", false, true, TRpPrinterStatus::Finished},
                          Case{"report's cancel", true, false, TRpPrinterStatus::Finished}}) {
        auto r = gentest::layout("Unit7");
        r->SetDataSet(&data);
        NotedRun run(*r);
        int calls = 0;
        // Cancelled while the events before the 40th detail run (page 2).
        run.gen.ProcessEvents = [&] {
            if (++calls == 41) {
                if (c.reportCancel)
                    run.gen.Cancel();
                else
                    run.recorder.Cancel();
            }
        };
        run.run();
        EXPECT_EQ(run.gen.DetailNumber(), 39) << c.what;
        EXPECT_TRUE(run.named(QStringLiteral("RpBand4")).empty()) << c.what;
        EXPECT_EQ(run.yBeforeEndPage.size(), c.endPageOnLastPage ? 2u : 1u) << c.what;
        EXPECT_EQ(run.gen.Cancelled(), c.reportCancel) << c.what;
        EXPECT_EQ(run.recorder.Status(), c.status) << c.what;
        // Both pages are kept either way: an aborted document keeps what it had drawn.
        EXPECT_EQ(run.recorder.PageCount(), 2) << c.what;
        EXPECT_TRUE(run.gen.Available()) << c.what;
        // The report takes the next run normally.
        NotedRun again(*r);
        again.run();
        EXPECT_EQ(again.gen.DetailNumber(), 50) << c.what;
        EXPECT_FALSE(again.gen.Cancelled());
    }
}

TEST(Pagination, CancelOutsideARunDoesNothing)
{
    auto r = gentest::layout("Report");
    NotedRun run(*r);
    run.gen.Cancel();
    run.run();
    EXPECT_FALSE(run.gen.Cancelled());
    EXPECT_EQ(run.recorder.PageCount(), 1);
}

TEST(Pagination, PageNumbersRestartWithEveryRun)
{
    gentest::OpenRows rows(70);
    TTable& data = rows.data;
    auto r = gentest::layout("Unit7");
    r->SetDataSet(&data);
    // A page number at the right of the column header, which every page carries.
    auto number = std::make_unique<TRpSysData>();
    number->Name = QStringLiteral("PageNo");
    number->SetData(TRpSysDataType::rpsPageNumber);
    number->SetText(QStringLiteral("стр. "));
    number->Size.StoreNative(TRpPrintableSize::Left, 2600);
    number->Size.StoreNative(TRpPrintableSize::Width, 150);
    number->Size.StoreNative(TRpPrintableSize::Height, 45);
    number->UpdateBoundsFromSize();
    r->FindBand(TRpBandType::rbColumnHeader)->AddItem(std::move(number));
    TRpGenerator gen(*r);
    gen.ProcessEvents = [] {};
    for (int round = 1; round <= 2; ++round) {
        TRpPrinter recorder;
        gen.Generate(recorder);
        EXPECT_EQ(gen.PageCount(), 3);
        ASSERT_EQ(recorder.PageCount(), 3) << "round " << round;
        for (int page = 1; page <= 3; ++page) {
            QStringList texts;
            for (const gentest::TextAt& t : gentest::textsOfPage(recorder, page))
                texts << t.text;
            EXPECT_TRUE(texts.contains(QStringLiteral("стр. %1").arg(page))) << "round " << round << " page " << page;
        }
    }
}

TEST(Pagination, RequestsDuringARunAreIgnored)
{
    gentest::OpenRows rows(2);
    TTable& data = rows.data;
    auto p = gentest::layout("Unit7");
    p->SetDataSet(&data);
    TRpGenerator gen(*p);
    int nested = 0;
    bool inside = false;
    gen.ProcessEvents = [&] {
        if (inside)   // the nested run would let events run too
            return;
        inside = true;
        ++nested;
        EXPECT_FALSE(gen.Available());
        TRpPrinter inner;
        gen.Generate(inner);
        EXPECT_EQ(inner.PageCount(), 0);
        EXPECT_EQ(inner.Status(), TRpPrinterStatus::Ready);
        inside = false;
    };
    TRpPrinter outer;
    gen.Generate(outer);
    EXPECT_EQ(nested, 3);   // before the title and before each detail
    EXPECT_EQ(outer.PageCount(), 1);
    EXPECT_TRUE(gen.Available());
}

TEST(Pagination, AnErrorEndsTheRunFinishesTheRecorderAndLaterRunsWork)
{
    gentest::OpenRows rows(5);
    TTable& data = rows.data;
    auto r = gentest::layout("Unit7");
    r->SetDataSet(&data);
    NotedRun run(*r);
    int calls = 0;
    run.gen.ProcessEvents = [&] {
        if (++calls == 3)
            throw EDatabaseError(QStringLiteral("Query1: the disk went away"));
    };
    EXPECT_THROW(run.run(), EDatabaseError);
    EXPECT_EQ(run.recorder.Status(), TRpPrinterStatus::Finished);
    EXPECT_TRUE(run.gen.Available());
    EXPECT_EQ(r->Units(), TRpUnit::MM);
    run.gen.ProcessEvents = [] {};
    TRpPrinter second;
    run.gen.Generate(second);
    EXPECT_EQ(run.gen.DetailNumber(), 5);
    EXPECT_EQ(second.PageCount(), 1);
}

TEST(Pagination, ARunWhosePagesCannotBeStoredIsRefusedAfterItsFirstPage)
{
    // A page-sized picture that does not compress in every detail, one detail a page: 1,000
    // records would need about 3 GB of pages, more than the store holds.
    gentest::OpenRows rows(1000);
    TTable& data = rows.data;
    auto r = gentest::layout("Unit7");
    r->SetDataSet(&data);
    QImage noise(1024, 1024, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, (seed = seed * 1664525u + 1013904223u) >> 8);
    auto image = std::make_unique<TRpImage>();
    image->Size.StoreNative(TRpPrintableSize::Width, 2700);
    image->Size.StoreNative(TRpPrintableSize::Height, 1500);
    image->UpdateBoundsFromSize();
    image->Stretch = true;
    TRpPicture picture;
    picture.Image = noise;
    image->SetPicture(picture);
    TRpCustomBand* detail = r->FindBand(TRpBandType::rbDetail);
    detail->Size.StoreNative(TRpBandSize::Height, 1500);
    detail->AddItem(std::move(image));
    NotedRun run(*r);
    QString error;
    try {
        run.run();
    } catch (const ERpError& e) {
        error = e.message();
    }
    EXPECT_TRUE(error.startsWith(QStringLiteral("The report's pages would need about "))) << error.toStdString();
    EXPECT_EQ(run.recorder.PageCount(), 2) << "refused as page 2 began";
    EXPECT_TRUE(run.gen.Available());
}

} // namespace

namespace {

TEST(Pagination, ResultSheetOfAnEmptyTableStillPrintsItsPage)
{
    // The sheet prints the table's current row as it is shown: in an empty table nothing, or the
    // row being inserted with the values typed so far, not yet posted.
    struct Case {
        const char* what;
        bool inserting;
        QStringList shown;
    };
    const Case cases[] = {
        {"empty", false, {}},
        {"row being inserted", true, {"Сидоров П. П.", "123456789", "5.1"}},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        TTable table;
        table.SetTableName(gentest::writeRows(dir.path(), 0));
        table.Open();
        if (c.inserting) {
            table.Insert();
            const char* typedInto[] = {"FIO", "NUM", "WBC"};
            for (qsizetype i = 0; i < c.shown.size(); ++i)
                table.FieldByName(QLatin1String(typedInto[i]))->SetAsString(c.shown[i]);
        }
        auto sheet = gentest::layout("Report");
        layoutloader::resolveDataSets(*sheet, [&](const QString&, const QString&) -> TDataSet* { return &table; });
        NotedRun run(*sheet);
        EXPECT_NO_THROW(run.run()) << c.what;
        EXPECT_EQ(run.recorder.PageCount(), 1) << c.what;
        QStringList texts;
        for (const gentest::TextAt& t : gentest::textsOfPage(run.recorder, 1))
            texts << t.text;
        EXPECT_TRUE(texts.contains(QStringLiteral("Пациент"))) << c.what;
        EXPECT_TRUE(texts.contains(QStringLiteral("WBC"))) << c.what;
        for (const QString& v : c.shown)
            EXPECT_TRUE(texts.contains(v)) << c.what << ": " << v.toStdString();
        // Printing leaves the typed row pending.
        EXPECT_EQ(table.State(), c.inserting ? TDataSet::dsInsert : TDataSet::dsBrowse) << c.what;
    }
}

} // namespace

namespace {

// The page arithmetic alone, on its edges: a landscape A4 sheet of 2100 native with 100 margins,
// 50 of page footers and two columns of 1300 with 20 between them.
TEST(Pagination, PageArithmeticOnItsEdges)
{
    TRpPagination::Geometry g;
    g.paperLength = g.alignLength = g.pageLength = 2100;
    g.topMargin = g.bottomMargin = g.leftMargin = 100;
    g.printableLength = 1900;
    g.footerReserve = 50;
    g.columns = 2;
    g.columnSpace = 20;
    g.columnWidth = 1300;
    const TRpPagination p(g);
    EXPECT_EQ(p.Available(1000), 950);
    EXPECT_EQ(p.FooterTop(), 1950);
    EXPECT_EQ(p.BottomAlignedTop(200), 1750);
    struct Row {
        const char* what;
        int height, y;
        bool firstPage, pageFooter, pageFresh, movesOn;
    };
    const Row rows[] = {
        {"before the first page", 0, -1, true, false, false, true},
        {"fits to the unit", 950, 1000, false, false, false, false},
        {"one unit too tall", 951, 1000, false, false, false, true},
        {"a page footer never moves", 5000, 1000, false, true, false, false},
        {"a page holding only its headers", 951, 1000, false, false, true, false},
        {"as tall as a page", 1900, 1000, false, false, false, true},
        {"taller than any page", 1901, 1000, false, false, false, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(p.MovesOn(r.height, r.y, r.firstPage, r.pageFooter, r.pageFresh), r.movesOn) << r.what;
    EXPECT_EQ(p.NextColumnX(1, 100), 1420);
    EXPECT_EQ(p.NextColumnX(2, 1420), std::nullopt) << "the last column ends the page";

    // Margins a layout gives in fractions round once, at the end, halves to even.
    g.bottomMargin = 100.5L;
    EXPECT_EQ(TRpPagination(g).Available(1000), 950);
    g.bottomMargin = 101.5L;
    EXPECT_EQ(TRpPagination(g).Available(1000), 948);
}

} // namespace
