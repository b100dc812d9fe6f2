// The recorder with the printer as destination and the printing of stored pages, against the
// build's own PDF queue: what reaches paper is read back from the PDF the queue wrote.
#include "report/pages/RpError.h"
#include "report/pages/RpPrinter.h"
#include "report/printing/RpPrintJobSink.h"
#include "report/printing/RpPrinting.h"

#include "PrintQueueFixture.h"
#include "fuzz/entries/HostilePages.h"
#include "report/pages/RpStream.h"
#include "report/pages/RpPrinterFixtures.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace rpfixtures;

namespace {

class RecorderPrint : public PrintQueueTest {
protected:
    QTemporaryDir dir_;
};

// A document of `pages` pages drawn onto the printer with the given range.
int printDocument(TRpPrinter& rp, int pages, int first, int last)
{
    rp.SetSink(std::make_unique<TRpPrintJobSink>());
    rp.SetFirstPage(first);
    rp.SetLastPage(last);
    rp.BeginDoc();
    for (int p = 1; p <= pages; ++p) {
        rp.NewPage();
        drawPage(rp, p);
    }
    rp.EndDoc();
    return rp.LastJob();
}

// The stored pages printed; the error the user would see, or empty when it printed.
QString storedPrintError(TRpPrinter& rp)
{
    try {
        rpprinting::PrintStoredPages(rp);
    } catch (const ERpError& e) {
        return e.message();
    }
    return {};
}

TEST_F(RecorderPrint, PageRangeCopiesAndOrientationReachThePaper)
{
    struct Row {
        const char* what;
        int pages, first, last, copies;
        TRpOrientation orientation;
        int expectedPdfPages;
    };
    const Row rows[] = {
        {"whole document", 3, 0, 0, 1, TRpOrientation::poPortrait, 3},
        {"pages 2 and 3 of 5", 5, 2, 3, 1, TRpOrientation::poPortrait, 2},
        {"from page 4 on", 5, 4, 0, 1, TRpOrientation::poPortrait, 2},
        {"up to page 1", 5, 0, 1, 1, TRpOrientation::poPortrait, 1},
        {"two copies of pages 2 and 3", 5, 2, 3, 2, TRpOrientation::poPortrait, 4},
        {"landscape", 2, 0, 0, 1, TRpOrientation::poLandscape, 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        TRpPrinter rp;
        ASSERT_TRUE(rp.PrinterPresent());
        rp.SetTitle(QStringLiteral("range"));
        ASSERT_TRUE(rp.SetPaperSize(TRpPaperSize::A4));
        rp.SetOrientation(r.orientation);
        ASSERT_TRUE(rp.SetCopies(r.copies));
        const int job = printDocument(rp, r.pages, r.first, r.last);
        EXPECT_EQ(rp.Status(), TRpPrinterStatus::Finished);
        EXPECT_EQ(rp.PageCount(), r.pages);
        ASSERT_GT(job, 0);
        const QString pdf = printqueue::pdfOfJob(job);
        ASSERT_FALSE(pdf.isEmpty()) << "no PDF for job " << job << "\n" << printqueue::trouble().toStdString();
        EXPECT_EQ(printqueue::pdfPages(pdf), r.expectedPdfPages);
        // The queue writes every sheet portrait; a landscape page arrives turned on it.
        const QList<QImage> sheets = printqueue::render(pdf, 20);
        ASSERT_FALSE(sheets.isEmpty());
        EXPECT_LT(sheets.front().width(), sheets.front().height());
    }
}

TEST_F(RecorderPrint, NothingInTheRangeStartsNoJob)
{
    TRpPrinter rp;
    EXPECT_EQ(printDocument(rp, 3, 4, 5), 0);
    EXPECT_EQ(rp.Status(), TRpPrinterStatus::Finished);
    EXPECT_EQ(rp.JobError(), QStringLiteral("No page of this report is in the chosen range 4\u20135"));
    EXPECT_TRUE(newPdfs().isEmpty());
}

TEST_F(RecorderPrint, CancelledRunDiscardsTheJob)
{
    // Cancel between pages (the progress window's button), then the run ends normally: EndDoc.
    TRpPrinter rp;
    rp.SetSink(std::make_unique<TRpPrintJobSink>());
    rp.BeginDoc();
    rp.NewPage();
    drawPage(rp, 1);
    rp.NewPage();
    drawPage(rp, 2);
    rp.Cancel();
    rp.EndDoc();
    EXPECT_EQ(rp.Status(), TRpPrinterStatus::Finished);
    EXPECT_EQ(rp.LastJob(), 0);

    // Closing the preview during a run: Abort.
    TRpPrinter aborted;
    aborted.SetSink(std::make_unique<TRpPrintJobSink>());
    aborted.BeginDoc();
    aborted.NewPage();
    drawPage(aborted, 1);
    aborted.Abort();
    EXPECT_EQ(aborted.Status(), TRpPrinterStatus::Finished);
    EXPECT_TRUE(newPdfs().isEmpty());
}

TEST_F(RecorderPrint, RefusedJobIsAnErrorNotAPrint)
{
    ASSERT_TRUE(printqueue::setAccepting(false));
    TRpPrinter rp;
    printDocument(rp, 2, 0, 0);
    const std::string error = rp.JobError().toStdString();
    ASSERT_TRUE(printqueue::setAccepting(true));
    EXPECT_NE(error.find(printqueue::queueName().toStdString()), std::string::npos) << error;
    EXPECT_EQ(rp.Status(), TRpPrinterStatus::Finished);
    EXPECT_EQ(rp.LastJob(), 0);
    EXPECT_TRUE(newPdfs().isEmpty());

    // The stored pages of a loaded report meet the same refusal.
    TRpPrinter recorded;
    {
        PrinterInfo::ScopedOverride none{{}};
        TRpPrinter store;
        recordDocument(store, 2);
        store.Save(dir_.filePath(QStringLiteral("two.hrp")));
    }
    recorded.Load(dir_.filePath(QStringLiteral("two.hrp")));
    ASSERT_TRUE(printqueue::setAccepting(false));
    EXPECT_THROW(rpprinting::PrintStoredPages(recorded), ERpError);
    ASSERT_TRUE(printqueue::setAccepting(true));
}

TEST_F(RecorderPrint, StoredPagesPrintExactlyTheRange)
{
    const QString file = dir_.filePath(QStringLiteral("five.hrp"));
    {
        TRpPrinter store;
        recordDocument(store, 5);
        store.Save(file);
    }
    struct Row {
        int first, last, expected;
    };
    for (const Row& r : {Row{2, 3, 2}, Row{0, 0, 5}, Row{4, 0, 2}, Row{0, 2, 2}, Row{4, 9, 2}, Row{5, 9, 1},
                         Row{6, 7, 0}, Row{6, 0, 0}}) {
        SCOPED_TRACE(testing::Message() << r.first << ".." << r.last);
        TRpPrinter rp;
        rp.Load(file);
        rp.SetFirstPage(r.first);
        rp.SetLastPage(r.last);
        if (r.expected == 0) {
            // No page in the range is an error the user sees, not a silent nothing.
            const QString error = storedPrintError(rp);
            EXPECT_EQ(error, r.last > 0 ? QStringLiteral("No page of this report is in the chosen range %1\u2013%2")
                                              .arg(r.first)
                                              .arg(r.last)
                                        : QStringLiteral("No page of this report is in the chosen range from page "
                                                         "%1: it has 5 pages")
                                              .arg(r.first));
            continue;
        }
        const int job = rpprinting::PrintStoredPages(rp);
        const QString pdf = printqueue::pdfOfJob(job);
        ASSERT_FALSE(pdf.isEmpty()) << "no PDF for job " << job << "\n" << printqueue::trouble().toStdString();
        EXPECT_EQ(printqueue::pdfPages(pdf), r.expected);
    }
}

TEST_F(RecorderPrint, StoredPagesThatCostMoreThanTheirFileMayAreNotPrinted)
{
    // A report file of 880 KB whose every page fills the sheet 450 times: each page is within a
    // page's bound, the pages together are far past what a file of that size may cost.
    const QString file = dir_.filePath(QStringLiteral("fills.hrp"));
    {
        TRpPageList list;
        list.Start(std::make_unique<TRpStream>(), false);
        for (int p = 0; p < 100; ++p)
            list.AddPage(hostilepages::pageFills(450));
        list.WriteHeader();
        list.SaveToFile(file);
    }
    TRpPrinter rp;
    rp.Load(file);
    const QString error = storedPrintError(rp);
    EXPECT_TRUE(error.startsWith(QStringLiteral("Page "))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("than the rest of its file may cost"))) << error.toStdString();
    EXPECT_TRUE(newPdfs().isEmpty());
}

TEST_F(RecorderPrint, NoPrinterInstalledPrintsNothing)
{
    const QString file = dir_.filePath(QStringLiteral("one.hrp"));
    {
        TRpPrinter store;
        recordDocument(store, 1);
        store.Save(file);
    }
    PrinterInfo::ScopedOverride none{{}};
    TRpPrinter loaded;
    loaded.Load(file);
    const QString error = storedPrintError(loaded);
    EXPECT_EQ(error, QStringLiteral("No printer is installed"));

    TRpPrinter printer;
    printer.SetSink(std::make_unique<TRpPrintJobSink>());
    EXPECT_THROW(printer.BeginDoc(), ERpError);
    EXPECT_TRUE(newPdfs().isEmpty());
}

} // namespace
