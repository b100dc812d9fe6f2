// Preview and Print as the preview window and printing use them: the recorder Preview keeps, the
// wait until the preview closes, closing during a run, the hooks and the client carried over.
#include "GenerationFixtures.h"

#include <QTimer>
#include <gtest/gtest.h>

namespace {

TEST(EntryPoints, PreviewWithoutAWindowRecordsAndReturns)
{
    auto r = gentest::layout("Report");
    TRpGenerator gen(*r);
    EXPECT_EQ(gen.Recorder(), nullptr);
    gen.Preview();
    ASSERT_NE(gen.Recorder(), nullptr);
    EXPECT_EQ(gen.Recorder()->Status(), TRpPrinterStatus::Finished);
    EXPECT_EQ(gen.Recorder()->PageCount(), 1);
    EXPECT_EQ(gen.Recorder()->Destination(), TRpPrinterDestination::PageStore);
    gen.ReleaseRecorder();
    EXPECT_EQ(gen.Recorder(), nullptr);
}

TEST(EntryPoints, PreviewWaitsUntilThePreviewCloses)
{
    auto r = gentest::layout("Report");
    r->ReportTitle = QStringLiteral("Бланк");
    TRpGenerator gen(*r);
    TRpPrinter* shown = nullptr;
    bool pagesWhenClosed = false;
    gen.OpenPreview = [&](TRpPrinter& recorder) {
        shown = &recorder;
        EXPECT_EQ(recorder.Status(), TRpPrinterStatus::Ready);   // shown before generation starts
        EXPECT_EQ(recorder.Title(), QStringLiteral("Бланк"));
        recorder.SetShowingPreview(true);
        // The user closes the window once the pages are there.
        QTimer::singleShot(20, [&recorder, &pagesWhenClosed] {
            pagesWhenClosed = recorder.PageCount() == 1;
            recorder.SetShowingPreview(false);
        });
    };
    gen.Preview();
    EXPECT_NE(shown, nullptr);
    EXPECT_TRUE(pagesWhenClosed);
    EXPECT_EQ(gen.Recorder(), nullptr);   // released when the preview closed
    EXPECT_TRUE(gen.Available());
}

TEST(EntryPoints, ClosingThePreviewDuringARunAbortsIt)
{
    QTemporaryDir dir;
    TTable data;
    data.SetTableName(gentest::writeRows(dir.path(), 100));
    data.Open();
    auto r = gentest::layout("Unit7");
    r->SetDataSet(&data);
    TRpGenerator gen(*r);
    TRpPrinter* shown = nullptr;
    int details = 0;
    gen.OpenPreview = [&](TRpPrinter& recorder) {
        shown = &recorder;
        recorder.SetShowingPreview(true);
    };
    gen.ProcessEvents = [&] {
        if (++details == 10)
            shown->SetShowingPreview(false);
    };
    int endPages = 0;
    gen.BeforeEndPage = [&](int) { ++endPages; };
    gen.Preview();   // returns at once: the run was cancelled
    EXPECT_TRUE(gen.Cancelled());
    // Events ran on entering Preview, before the title and before each detail: closed before the 8th.
    EXPECT_EQ(gen.DetailNumber(), 7);
    EXPECT_EQ(endPages, 0);   // no EndPage for the last page
    EXPECT_EQ(gen.Recorder(), nullptr);
    EXPECT_TRUE(gen.Available());
}

TEST(EntryPoints, HooksAndTheClientCarriedOver)
{
    auto r = gentest::layout("Report");
    TRpGenerator gen(*r);
    int setups = 0, prints = 0;
    gen.PrintSetup = [&] { ++setups; };
    gen.Preview();
    QObject client;
    gen.Recorder()->SetClient(&client);
    gen.Recorder()->PrintSetupRequest();
    EXPECT_EQ(setups, 1);
    gen.Print();   // nothing installed: nothing happens
    gen.PrintRun = [&] { ++prints; };
    gen.Print();
    EXPECT_EQ(prints, 1);
    // A second preview gets a fresh recorder with the same client.
    TRpPrinter* first = gen.Recorder();
    gen.Preview();
    EXPECT_NE(gen.Recorder(), first);
    EXPECT_EQ(gen.Recorder()->Client(), &client);
    // Also after the preview closed and gave its recorder up.
    gen.ReleaseRecorder();
    gen.Preview();
    EXPECT_EQ(gen.Recorder()->Client(), &client);
    gen.SetPrinterIndex(-1);
    EXPECT_EQ(gen.PrinterIndex(), -1);
}

} // namespace
