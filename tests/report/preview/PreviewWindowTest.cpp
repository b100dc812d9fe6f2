// The preview window and control on recorders filled by a stand-in generation run: navigation and
// keys, zoom modes, the status bar, arriving pages, the buttons' states, save and load, closing
// during a run, and the page view's cache.
#include "report/preview/RpPreview.h"
#include "report/preview/RpPreviewImage.h"
#include "report/preview/RpStandardPreview.h"

#include "PreviewFixtures.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace previewfixtures;

namespace {

class PreviewWindow : public ::testing::Test {
protected:
    PrinterInfo::ScopedOverride none_{{}};
    QTemporaryDir dir_;
};

QString pagePosition(const TRpStandardPreview& w) { return w.StatusPanel1->text(); }

TEST_F(PreviewWindow, NavigationByButtonsAndKeys)
{
    TRpPrinter rp;
    ScriptedPreview s(rp);
    TRpStandardPreview& w = s.window;
    w.Show();
    runDocument(rp, 3);
    EXPECT_EQ(pagePosition(w), QStringLiteral("Page 1 of 3"));

    struct Step {
        int key;
        Qt::KeyboardModifiers modifiers;
        int page;
    };
    const Step steps[] = {
        {Qt::Key_PageDown, Qt::NoModifier, 2},
        {Qt::Key_PageDown, Qt::NoModifier, 3},
        {Qt::Key_PageDown, Qt::NoModifier, 3},      // past the last page: nothing changes
        {Qt::Key_PageUp, Qt::ControlModifier, 1},   // Ctrl alone: first page
        {Qt::Key_PageUp, Qt::NoModifier, 1},        // before the first page: nothing changes
        {Qt::Key_PageDown, Qt::ControlModifier, 3}, // Ctrl alone: last page
        {Qt::Key_PageUp, Qt::ControlModifier | Qt::ShiftModifier, 2}, // not Ctrl alone: one page
        {Qt::Key_Home, Qt::NoModifier, 1},
        {Qt::Key_End, Qt::NoModifier, 3},
    };
    for (const Step& step : steps) {
        // Keys reach the window first even when the scrolling box has the focus.
        QTest::keyClick(w.RpPreview->viewport(), static_cast<Qt::Key>(step.key), step.modifiers);
        EXPECT_EQ(w.RpPreview->PageNumber(), step.page) << step.key;
        EXPECT_EQ(pagePosition(w), QStringLiteral("Page %1 of 3").arg(step.page));
        EXPECT_TRUE(w.RpPreview->PageView()->ImageShown());
        EXPECT_EQ(w.RpPreview->PageView()->PageNumber(), step.page);
    }
    // The buttons do the same.
    w.FirstPage->trigger();
    EXPECT_EQ(pagePosition(w), QStringLiteral("Page 1 of 3"));
    w.NextPage->trigger();
    EXPECT_EQ(pagePosition(w), QStringLiteral("Page 2 of 3"));
    w.LastPage->trigger();
    w.PreviousPage->trigger();
    EXPECT_EQ(pagePosition(w), QStringLiteral("Page 2 of 3"));
    EXPECT_EQ(w.NextPage->objectName(), QStringLiteral("ToolButton2"));
    EXPECT_EQ(w.NextPage->toolTip(), QStringLiteral("Next page"));

    // Esc closes the window, which tells its owner.
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(s.closes, 1);
    EXPECT_EQ(w.Recorder(), nullptr);
    EXPECT_FALSE(rp.ShowingPreview());
    EXPECT_EQ(rp.Client(), nullptr);
}

TEST_F(PreviewWindow, ZoomModesAndResizing)
{
    TRpPrinter rp; // A4 portrait: 794 x 1123 pixels at zoom 100
    runDocument(rp, 1);
    TRpPreview control;
    control.resize(1000, 700);
    control.show(); // a hidden widget hears of its resizes only when shown
    control.SetRecorder(&rp);
    EXPECT_EQ(control.PageSize100(), QSize(794, 1123));
    EXPECT_EQ(control.Zoom(), 100);
    EXPECT_EQ(control.ZoomMode(), TRpZoomMode::Fixed);

    control.ZoomToWidth();
    EXPECT_EQ(control.Zoom(), 113);
    EXPECT_EQ(control.PageView()->size(), QSize(rp.XSize(2100 * 1.13) + 4, rp.YSize(2970 * 1.13) + 4));
    EXPECT_EQ(control.PageView()->Zoom(), 113);
    control.resize(500, 700); // width mode stays in force
    EXPECT_EQ(control.Zoom(), 57);
    EXPECT_EQ(control.ZoomMode(), TRpZoomMode::Width);

    control.ZoomToFit(); // min(500/794*95, 700/1123*95) = min(60, 59)
    EXPECT_EQ(control.Zoom(), 59);
    control.resize(1000, 2000); // min(120, 169)
    EXPECT_EQ(control.Zoom(), 120);
    EXPECT_EQ(control.ZoomMode(), TRpZoomMode::Fit);

    control.SetZoom(100); // "100%"
    control.resize(640, 480);
    EXPECT_EQ(control.Zoom(), 100);
    EXPECT_EQ(control.ZoomMode(), TRpZoomMode::Fixed);

    control.SetZoom(2001);
    control.SetZoom(1);
    EXPECT_EQ(control.Zoom(), 100);
    control.resize(5, 5); // fixed zoom: a tiny control changes nothing
    control.ZoomToWidth(); // 5 / 794 * 90 rounds to 1: refused
    EXPECT_EQ(control.Zoom(), 100);

    // Laying out puts the view at the centre when it is smaller than the viewport.
    control.resize(1200, 1500);
    control.SetZoom(50);
    QCoreApplication::processEvents();
    // The scrolling box centres the view itself; it may round the half pixel the other way.
    const QPoint want = TRpPreviewState::ViewPlace(control.viewport()->size(), control.PageView()->size());
    EXPECT_LE((control.PageView()->pos() - want).manhattanLength(), 2);
    EXPECT_GT(control.PageView()->x(), 0);
}

TEST_F(PreviewWindow, ZoomButtonsFormAGroupAndWidthIsPressedAtStart)
{
    TRpPrinter rp;
    ScriptedPreview s(rp);
    TRpStandardPreview& w = s.window;
    EXPECT_TRUE(w.ZoomToWidth->isChecked());
    EXPECT_EQ(w.RpPreview->ZoomMode(), TRpZoomMode::Fixed); // until the first page arrives
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Print Preview"));
    w.Show();
    runDocument(rp, 2);
    EXPECT_EQ(w.RpPreview->ZoomMode(), TRpZoomMode::Width);
    w.ZoomFit->trigger();
    EXPECT_TRUE(w.ZoomFit->isChecked());
    EXPECT_FALSE(w.ZoomToWidth->isChecked());
    EXPECT_EQ(w.RpPreview->ZoomMode(), TRpZoomMode::Fit);
    w.Zoom100->trigger();
    EXPECT_TRUE(w.Zoom100->isChecked());
    EXPECT_FALSE(w.ZoomFit->isChecked());
    EXPECT_EQ(w.RpPreview->Zoom(), 100);
    w.resize(w.width() - 100, w.height() - 50);
    EXPECT_EQ(w.RpPreview->Zoom(), 100);
}

TEST_F(PreviewWindow, ProgressPanel)
{
    // A run over a data set reports 3, 4, 9, 10, 15 ...: the panel writes 9% then 15%.
    TRpPrinter rp;
    ScriptedPreview s(rp);
    TRpStandardPreview& w = s.window;
    w.Show();
    QStringList seen;
    rp.BeginDoc();
    rp.NewPage();
    for (int p : {3, 4, 9, 10, 15}) {
        rp.SetProgress(p);
        QCoreApplication::processEvents();
        if (seen.isEmpty() || seen.constLast() != w.StatusPanel0->text())
            seen << w.StatusPanel0->text();
    }
    EXPECT_EQ(seen, QStringList({QStringLiteral("0%"), QStringLiteral("9%"), QStringLiteral("15%")}));
    rp.SetProgress(100);
    rp.EndDoc();
    QCoreApplication::processEvents();
    EXPECT_EQ(w.StatusPanel0->text(), QString());

    // A report without a data set reports no progress: the panel keeps "0%".
    TRpPrinter sheet;
    ScriptedPreview s2(sheet);
    s2.window.Show();
    runDocument(sheet, 1, 1, {}, false);
    EXPECT_EQ(s2.window.StatusPanel0->text(), QStringLiteral("0%"));
    EXPECT_EQ(s2.window.StatusPanel1->text(), QStringLiteral("Page 1 of 1"));
}

TEST_F(PreviewWindow, PagesAppearAsTheyAreRecorded)
{
    TRpPrinter rp;
    ScriptedPreview s(rp);
    TRpStandardPreview& w = s.window;
    w.Show();
    QStringList positions;
    bool printDuringRun = false, saveDuringRun = false;
    bool movedEarly = false;
    // Five pages of four records each; during the run the user goes to page 3 while it is drawn.
    runDocument(rp, 5, 4, [&](int record) {
        QCoreApplication::processEvents();
        positions << pagePosition(w);
        printDuringRun |= w.Print->isEnabled() || w.PrintSetup->isEnabled();
        saveDuringRun |= w.SaveReport->isEnabled() || w.LoadReport->isEnabled();
        if (record == 1) {
            // Page 1 is being drawn: nothing shown yet, the zoom still fixed at 100.
            EXPECT_FALSE(w.RpPreview->PageView()->ImageShown());
            EXPECT_EQ(w.RpPreview->Zoom(), 100);
        }
        if (record == 5) {
            // Page 1 is complete: shown, zoomed to width.
            EXPECT_TRUE(w.RpPreview->PageView()->ImageShown());
            EXPECT_EQ(w.RpPreview->ZoomMode(), TRpZoomMode::Width);
        }
        if (record == 9 && !movedEarly) {
            // Page 3 is started, not stored: the view shows nothing until it arrives.
            movedEarly = true;
            w.RpPreview->SetZoom(40);
            QTest::keyClick(&w, Qt::Key_End);
            EXPECT_EQ(w.RpPreview->PageNumber(), 3);
            EXPECT_FALSE(w.RpPreview->PageView()->ImageShown());
        }
        if (record == 13) {
            // Page 3 arrived: shown, again zoomed to width.
            EXPECT_TRUE(w.RpPreview->PageView()->ImageShown());
            EXPECT_EQ(w.RpPreview->PageView()->PageNumber(), 3);
            EXPECT_EQ(w.RpPreview->ZoomMode(), TRpZoomMode::Width);
        }
    });
    EXPECT_TRUE(positions.contains(QStringLiteral("Page 1 of 2")));
    EXPECT_TRUE(positions.contains(QStringLiteral("Page 3 of 4")));
    EXPECT_EQ(pagePosition(w), QStringLiteral("Page 3 of 5"));
    EXPECT_FALSE(printDuringRun);
    EXPECT_FALSE(saveDuringRun);
    EXPECT_TRUE(w.Print->isEnabled());
    EXPECT_TRUE(w.PrintSetup->isEnabled());
    EXPECT_TRUE(w.SaveReport->isEnabled());
    EXPECT_TRUE(w.LoadReport->isEnabled());
}

TEST_F(PreviewWindow, SaveThenLoadGivesTheSamePages)
{
    TRpPrinter rp;
    ScriptedPreview s(rp);
    TRpStandardPreview& w = s.window;
    w.Show();
    runDocument(rp, 3);
    w.PrintSetup->trigger();
    w.Print->trigger();
    EXPECT_EQ(s.setups, 1);
    EXPECT_EQ(s.prints, 1);
    // While the owner prints, nothing that would change or reread the pages can start.
    w.SetPrinting(true);
    for (QAction* a : {w.Print, w.PrintSetup, w.SaveReport, w.LoadReport})
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    w.PrintClick();   // a press already queued
    w.PrintSetupClick();
    w.SaveClick();
    EXPECT_EQ(s.prints, 1);
    EXPECT_EQ(s.setups, 1);
    EXPECT_TRUE(s.asked.isEmpty());
    w.SetPrinting(false);
    EXPECT_TRUE(w.Print->isEnabled());
    std::vector<QByteArray> pages;
    for (int p = 1; p <= 3; ++p)
        pages.push_back(rp.GetPage(p)->Bytes());

    const QString file = dir_.filePath(QStringLiteral("report.HRP"));
    testsupport::writeFile(file, "an older file of that name is replaced without a question");
    s.answer = file;
    w.SaveReport->trigger();
    w.LastPage->trigger();
    // The PDF filter hands the name to the owner; a ".pdf" name with the first filter is a report.
    const QString pdf = dir_.filePath(QStringLiteral("report.pdf"));
    s.answer = {pdf, TRpStandardPreview::PdfFilter()};
    w.SaveReport->trigger();
    EXPECT_EQ(s.pdfs, QStringList(pdf));
    s.answer = pdf;
    w.SaveReport->trigger();
    EXPECT_EQ(testsupport::readFile(pdf), testsupport::readFile(file));

    // Loading a file that is not there changes nothing.
    s.answer = dir_.filePath(QStringLiteral("missing.HRP"));
    w.LoadReport->trigger();
    EXPECT_EQ(s.messages, QStringList(QStringLiteral("File does not exist")));
    EXPECT_EQ(pagePosition(w), QStringLiteral("Page 3 of 3"));
    EXPECT_TRUE(w.PrintSetup->isEnabled());

    // The saved file loads into another window with the same pages.
    TRpPrinter other;
    runDocument(other, 1);
    ScriptedPreview s2(other);
    s2.window.Show();
    s2.answer = file;
    s2.window.LoadReport->trigger();
    EXPECT_TRUE(s2.messages.isEmpty()) << s2.messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(pagePosition(s2.window), QStringLiteral("Page 1 of 3"));
    EXPECT_TRUE(other.ReportLoaded());
    ASSERT_EQ(other.PageCount(), 3);
    for (int p = 1; p <= 3; ++p)
        EXPECT_EQ(other.GetPage(p)->Bytes(), pages[std::size_t(p - 1)]) << p;
    EXPECT_TRUE(s2.window.RpPreview->PageView()->ImageShown());
    EXPECT_FALSE(s2.window.PrintSetup->isEnabled());
    EXPECT_TRUE(s2.window.Print->isEnabled());
    const QString saveAsked = QStringLiteral("save:Save report|Report file(*.HRP);;PDF files (*.pdf)");
    EXPECT_EQ(s.asked, QStringList({saveAsked, saveAsked, saveAsked, QStringLiteral("load:Load report|Report file (*.HRP)")}));
    EXPECT_EQ(s2.asked, QStringList(QStringLiteral("load:Load report|Report file (*.HRP)")));

    // A file that is no report is refused with the recorder's error; the pages stay.
    const QString junk = dir_.filePath(QStringLiteral("junk.HRP"));
    testsupport::writeFile(junk, QByteArray(300, 'x'));
    s2.answer = junk;
    s2.window.LoadReport->trigger();
    ASSERT_EQ(s2.messages.size(), 1);
    EXPECT_TRUE(s2.messages.constFirst().startsWith(QStringLiteral("error: ")));
    EXPECT_EQ(other.PageCount(), 3);
}

TEST_F(PreviewWindow, ClosingDuringARunCancelsIt)
{
    TRpPrinter rp;
    auto* s = new ScriptedPreview(rp);
    TRpStandardPreview& w = s->window;
    s->onClosed = [&] { rp.Cancel(); }; // the session's answer while its run goes on
    w.Show();
    int records = 0;
    bool otherTimerRan = false;
    QTimer other; // the rest of the program (the link, the imports) keeps running
    other.setInterval(0);
    QObject::connect(&other, &QTimer::timeout, [&] { otherTimerRan = true; });
    other.start();
    runDocument(rp, 1000, 1, [&](int record) {
        records = record;
        if (record == 3)
            w.ExitButton->click();
    });
    EXPECT_EQ(s->closes, 1);
    EXPECT_LT(records, 10);
    EXPECT_EQ(rp.Status(), TRpPrinterStatus::Finished);
    EXPECT_TRUE(rp.Cancelled());
    EXPECT_TRUE(otherTimerRan);
    delete s;
}

TEST_F(PreviewWindow, ASecondRunReplacesTheRecorder)
{
    TRpPrinter first;
    ScriptedPreview s(first);
    TRpStandardPreview& w = s.window;
    w.Show();
    runDocument(first, 3);
    w.LastPage->trigger();
    TRpPrinter second;
    w.SetRecorder(second);
    EXPECT_FALSE(first.ShowingPreview());
    EXPECT_EQ(first.Client(), nullptr);
    EXPECT_TRUE(second.ShowingPreview());
    EXPECT_FALSE(w.Print->isEnabled());
    runDocument(second, 2);
    EXPECT_EQ(pagePosition(w), QStringLiteral("Page 1 of 2"));
    EXPECT_TRUE(w.Print->isEnabled());
}

TEST_F(PreviewWindow, VisiblePartIsPlayedOnceAndKept)
{
    TRpPrinter rp;
    runDocument(rp, 2);
    TRpPreview control;
    control.resize(600, 400);
    control.SetRecorder(&rp);
    control.show();
    QCoreApplication::processEvents();
    TRpPreviewImage* view = control.PageView();
    ASSERT_TRUE(view->ImageShown());

    for (int zoom : {100, 2000}) {
        control.SetZoom(zoom);
        view->repaint();
        const int played = view->PlayCount();
        EXPECT_GT(played, 0);
        // Only the visible part and its margin is kept, however large the page.
        const QRect cached = view->CachedRect();
        EXPECT_LE(cached.width(), control.viewport()->width() + 2 * TRpPreviewImage::kCacheMargin);
        EXPECT_LE(cached.height(), control.viewport()->height() + 2 * TRpPreviewImage::kCacheMargin);
        // Paints at the same zoom and position copy from what is kept.
        view->repaint();
        view->update();
        QCoreApplication::processEvents();
        EXPECT_EQ(view->PlayCount(), played) << zoom;
        // A small scroll stays inside the margin; a long one plays the newly visible part once.
        control.verticalScrollBar()->setValue(100);
        QCoreApplication::processEvents();
        EXPECT_EQ(view->PlayCount(), played) << zoom;
        if (zoom == 2000) {
            control.verticalScrollBar()->setValue(5000);
            QCoreApplication::processEvents();
            EXPECT_EQ(view->PlayCount(), played + 1);
            EXPECT_TRUE(view->CachedRect().contains(view->visibleRegion().boundingRect()));
        }
    }

    // What is kept is the sheet: white inside the outline, black outline and shadow.
    control.SetZoom(50);
    QImage shot = view->grab().toImage();
    const int w = view->width(), h = view->height();
    EXPECT_EQ(QColor(shot.pixel(0, h / 2)), QColor(Qt::black));
    EXPECT_EQ(QColor(shot.pixel(w - 3, h / 2)), QColor(Qt::black));
    EXPECT_EQ(QColor(shot.pixel(w - 1, h / 2)), QColor(Qt::black)); // shadow
    EXPECT_EQ(QColor(shot.pixel(w / 2, h - 1)), QColor(Qt::black));
    EXPECT_EQ(QColor(shot.pixel(w - 10, h - 10)), QColor(Qt::white));
}

} // namespace

// A page that cannot be played whole (here: more drawing than a page may cost) shows what was
// drawn and tells its error once, not at every repaint.
TEST_F(PreviewWindow, PageThatFailsToPlayTellsItsErrorOnce)
{
    TRpPrinter rp;
    rp.BeginDoc();
    rp.NewPage();
    for (int i = 0; i < 2000; ++i)
        rp.Canvas()->fillRect({0, 0, 794, 1123}, i % 2 ? Qt::white : Qt::gray);
    rp.EndDoc();
    ScriptedPreview p(rp);
    p.window.Show();
    QCoreApplication::processEvents();
    TRpPreviewImage* view = p.window.RpPreview->PageView();
    ASSERT_TRUE(view->ImageShown());
    for (int zoom : {100, 50, 200}) {
        p.window.RpPreview->SetZoom(zoom);
        view->repaint();
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(p.messages.size(), 1) << p.messages.join('\n').toStdString();
    EXPECT_TRUE(p.messages[0].startsWith("error: ")) << p.messages[0].toStdString();
}
