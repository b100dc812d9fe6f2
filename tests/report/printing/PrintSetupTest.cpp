// What of a print-setup choice the report keeps, without the dialog: a table of choices against
// printers described by script.
#include "report/printing/RpPrintSetup.h"

#include "platform/print/PrinterInfo.h"
#include "report/generation/RpGenerator.h"
#include "report/model/RpReport.h"
#include "report/pages/RpPrinter.h"

#include <gtest/gtest.h>

namespace {

PrinterDescription printer(const char* name, int defaultCopies)
{
    PrinterDescription d;
    d.name = QString::fromLatin1(name);
    d.paperCodes = {9};
    d.defaultPaperCode = 9;
    d.defaultPaperMm = QSizeF(210, 297);
    d.defaultCopies = defaultCopies;
    return d;
}

TEST(PrintSetup, ReportTakesPrinterCopiesOrientationAndRange)
{
    PrinterInfo::ScopedOverride printers{{printer("Front", 1), printer("Back", 3)}};
    using R = TRpPrintSetupChoice::Range;
    struct Row {
        const char* what;
        TRpPrintSetupChoice choice;
        int copies, index, first, last;
        TRpOrientation orientation;
    };
    const Row rows[] = {
        {"all pages, two copies", {"Front", 2, TRpOrientation::poPortrait, R::AllPages, 1, 5}, 2, 0, 0, 0,
         TRpOrientation::poPortrait},
        {"page numbers", {"Front", 1, TRpOrientation::poLandscape, R::PageNumbers, 2, 3}, 1, 0, 2, 3,
         TRpOrientation::poLandscape},
        {"one copy is the printer's own count", {"Back", 1, TRpOrientation::poPortrait, R::AllPages, 0, 0}, 3, 1, 0,
         0, TRpOrientation::poPortrait},
        {"selection prints everything", {"Back", 4, TRpOrientation::poPortrait, R::Selection, 2, 2}, 4, 1, 0, 0,
         TRpOrientation::poPortrait},
        {"a printer gone from the list is the default", {"Gone", 2, TRpOrientation::poPortrait, R::AllPages, 0, 0},
         2, -1, 0, 0, TRpOrientation::poPortrait},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        TReport report;
        report.PrinterSettings.FirstPage = 7;
        report.PrinterSettings.LastPage = 9;
        TRpGenerator gen(report);
        ApplyPrintSetup(gen, r.choice);
        EXPECT_EQ(report.PrinterSettings.Copies, r.copies);
        EXPECT_EQ(gen.PrinterIndex(), r.index);
        EXPECT_EQ(report.PrinterSettings.FirstPage, r.first);
        EXPECT_EQ(report.PrinterSettings.LastPage, r.last);
        EXPECT_EQ(report.Page.Orientation(), r.orientation);
    }
}

TEST(PrintSetup, PageLimitsFollowTheFinishedPages)
{
    PrinterInfo::ScopedOverride none{{}};
    struct Row {
        int pages;
        bool finished;
        int min, max, from, to;
    };
    for (const Row& r : {Row{0, false, 0, 9999, 0, 0}, Row{3, false, 0, 9999, 0, 0}, Row{3, true, 1, 3, 1, 3},
                         Row{1, true, 1, 1, 1, 1}}) {
        TRpPrinter rp;
        rp.BeginDoc();
        for (int i = 0; i < r.pages; ++i)
            rp.NewPage();
        if (r.finished)
            rp.EndDoc();
        const TRpPrintSetupLimits l = PrintSetupLimits(&rp);
        EXPECT_EQ(l.minPage, r.min);
        EXPECT_EQ(l.maxPage, r.max);
        EXPECT_EQ(l.fromPage, r.from);
        EXPECT_EQ(l.toPage, r.to);
        rp.Abort();
    }
    EXPECT_EQ(PrintSetupLimits(nullptr).maxPage, 9999);
}

} // namespace
