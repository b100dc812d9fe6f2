// The program's two reports printed through the build's own PDF queue, the way the preview's
// buttons print them: the live path (a new run onto the printer), the stored pages of a loaded
// report, print setup, Cancel in the progress window, no printer, a queue that refuses jobs.
// Each printed page is rendered at 150 dpi and its elements' boxes compared with the preview's.
#include "report/printing/RpPrintSetup.h"
#include "report/printing/RpPrinting.h"
#include "report/printing/RpProgressForm.h"
#include "report/session/RpReportSession.h"

#include "PageCompare.h"
#include "PrintQueueFixture.h"
#include "TestSessionUi.h"
#include "report/generation/GenerationFixtures.h"

#include "platform/Exception.h"
#include "platform/durable/DurableIo.h"
#include "platform/print/PrinterInfo.h"
#include "report/pages/RpError.h"
#include "report/model/ReferenceContext.h"
#include "report/model/RpBinding.h"
#include "store/PeriodQuery.h"
#include "store/ResultTable.h"
#include "store/Statements.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPrinter>
#include <QPrintDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QAction>
#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>
#include <cerrno>
#include <cstring>
#include <map>

namespace {

const QDateTime kPrintTime(QDate(2023, 6, 5), QTime(14, 30, 0));

// A report with its generator and sessions as the program sets them up, the clock fixed.
struct Printable {
    Printable(std::unique_ptr<TReport> r, TRpSessionUi& ui) : report(std::move(r)), gen(*report), sessions(gen, ui)
    {
        gen.Now = [] { return kPrintTime; };
    }
    // The pages of the last preview.
    TRpPrinter* preview() const { return sessions.Current() ? sessions.Current()->Recorder() : nullptr; }
    // Printer setup as the preview's button asks for it.
    void printSetup(TestSessionUi& ui) { PrintSetup(gen, preview(), nullptr, ui.setup); }
    std::unique_ptr<TReport> report;
    TRpGenerator gen;
    TRpReportSessions sessions;
};

class ReportPrint : public PrintQueueTest {
protected:
    void SetUp() override
    {
        if (!ReferenceContext::FontAvailable(QStringLiteral("Arial")))
            GTEST_SKIP() << "Liberation Sans (fonts-liberation2) is not installed; pages cannot be compared";
        PrintQueueTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
    }
    // The stored path as a loaded report's Print runs it, its error shown.
    void printStored(TRpPrinter& loaded)
    {
        try {
            rpprinting::PrintStoredPages(loaded);
        } catch (const Exception& e) {
            errors_ << e.message();
        }
    }
    // The only PDF printed since the test began (or the last one); fails when there is none.
    QString printedPdf()
    {
        const QStringList pdfs = newPdfs();
        EXPECT_EQ(pdfs.size(), 1);
        return pdfs.isEmpty() ? QString() : pdfs.back();
    }

    // The period report over `rows` rows of one day.
    std::unique_ptr<Printable> periodReport(int rows)
    {
        const QString table = gentest::writeRows(dir_.path(), rows);
        table_.SetTableName(table);
        table_.Open();
        table_.SetName(QStringLiteral("Query1"));
        auto r = gentest::layout("Unit7");
        layoutloader::resolveDataSets(*r, [&](const QString& w, const QString& c) -> TDataSet* {
            return w == QLatin1String("Form6") && c == QLatin1String("Query1") ? &table_ : nullptr;
        });
        r->SetDataSet(&table_);
        // The period dialog's binding of the detail band's field texts.
        rpbinding::bindFields(*r, nullptr, periodquery::fieldBindings());
        return std::make_unique<Printable>(std::move(r), ui_);
    }
    // The result sheet of an imported row.
    std::unique_ptr<Printable> resultSheet()
    {
        const QString folder = dir_.path() + QLatin1Char('/');
        gentest::storeImportedRow(folder);
        table_.SetName(QStringLiteral("Table1"));
        table_.SetTableName(resulttable::tableFile(folder));
        table_.Open();
        table_.Last();
        auto sheet = gentest::layout("Report");
        layoutloader::resolveDataSets(*sheet, [&](const QString& w, const QString& c) -> TDataSet* {
            return w == QLatin1String("Form1") && c == QLatin1String("Table1") ? &table_ : nullptr;
        });
        return std::make_unique<Printable>(std::move(sheet), ui_);
    }

    // Printed sheet `sheet` (from 0) of the PDF against page `page` of the preview's recorder, or
    // against the same sheet of another PDF (`against`).
    void expectSameBoxes(const QString& pdf, const QList<int>& pages, TRpPrinter& preview, const QString& against = {})
    {
        const QList<QImage> sheets = printqueue::render(pdf, 150);
        const QList<QImage> others = against.isEmpty() ? sheets : printqueue::render(against, 150);
        ASSERT_EQ(sheets.size(), pages.size());
        ASSERT_EQ(others.size(), pages.size());
        // The queue puts a landscape page on portrait paper; a PDF of our own has landscape sheets.
        auto upright = [](const QImage& s, bool landscape) { return landscape && s.height() > s.width() ? pagecompare::unturn(s) : s; };
        for (int i = 0; i < pages.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "printed sheet " << i + 1 << ", preview page " << pages[i]);
            auto page = preview.GetPage(pages[i]);
            ASSERT_TRUE(page);
            const bool landscape = page->Width(96) > page->Height(96);
            const QImage printed = upright(sheets[i], landscape);
            const QImage shown = against.isEmpty() ? pagecompare::render(page->Bytes(), printed.size())
                                                   : upright(others[i], landscape);
            const QSize pagePixels(page->Width(TRpPrinter::ScreenPixelsPerInch()),
                                   page->Height(TRpPrinter::ScreenPixelsPerInch()));
            const auto r = pagecompare::compare(page->Bytes(), pagePixels, shown, printed);
            // HEMATIX_KEEP_PRINTS=folder keeps both images for a look.
            if (const QString keep = qEnvironmentVariable("HEMATIX_KEEP_PRINTS"); !keep.isEmpty()) {
                const QString name = QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name());
                shown.save(QStringLiteral("%1/%2-%3-preview.png").arg(keep, name).arg(i + 1));
                printed.save(QStringLiteral("%1/%2-%3-printed.png").arg(keep, name).arg(i + 1));
            }
            EXPECT_TRUE(r.problems.isEmpty()) << r.problems.join(QLatin1Char('\n')).toStdString();
            EXPECT_GT(r.texts, 10);
            EXPECT_GT(r.lines, 0);
            std::printf("[ compared ] sheet %d: %d text boxes, %d ruled lines, worst edge %d px, %d lines only on paper\n",
                        i + 1, r.texts, r.lines, r.worst, r.extraLines);
        }
    }

    TestSessionUi ui_;
    QStringList& errors_ = ui_.errors;
    QTemporaryDir dir_;
    TTable table_;
};

TEST_F(ReportPrint, ResultSheetOfAnImportedRowPrintsWhereThePreviewShowsIt)
{
    auto sheet = resultSheet();
    sheet->sessions.Preview();
    TRpPrinter* preview = sheet->preview();
    ASSERT_TRUE(preview);
    ASSERT_EQ(preview->PageCount(), 1);
    sheet->sessions.Print();
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join(QLatin1Char('\n')).toStdString();
    const QString pdf = printedPdf();
    ASSERT_FALSE(pdf.isEmpty());
    EXPECT_EQ(printqueue::pdfPages(pdf), 1);
    expectSameBoxes(pdf, {1}, *preview);
}

TEST_F(ReportPrint, PeriodReportPrintsExactlyItsPageRange)
{
    // 150 rows: 34 details on page 1, 35 on each later one, five pages.
    auto period = periodReport(150);
    period->sessions.Preview();
    TRpPrinter* preview = period->preview();
    ASSERT_TRUE(preview);
    ASSERT_EQ(preview->PageCount(), 5);
    period->report->PrinterSettings.FirstPage = 2;
    period->report->PrinterSettings.LastPage = 3;
    period->sessions.Print();
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join(QLatin1Char('\n')).toStdString();
    const QString pdf = printedPdf();
    ASSERT_FALSE(pdf.isEmpty());
    EXPECT_EQ(printqueue::pdfPages(pdf), 2);
    expectSameBoxes(pdf, {2, 3}, *preview);
    // The preview keeps its own pages throughout.
    EXPECT_EQ(period->preview(), preview);
    EXPECT_EQ(preview->Status(), TRpPrinterStatus::Finished);
    EXPECT_EQ(preview->PageCount(), 5);

    // A range past the last page prints nothing and says why.
    period->report->PrinterSettings.FirstPage = 6;
    period->report->PrinterSettings.LastPage = 7;
    period->sessions.Print();
    EXPECT_EQ(errors_, QStringList{QStringLiteral("No page of this report is in the chosen range 6\u20137")});
    EXPECT_EQ(newPdfs().size(), 1);
}

TEST_F(ReportPrint, LoadedReportPrintsTheRecordersPageRange)
{
    auto period = periodReport(150);
    period->sessions.Preview();
    const QString file = dir_.filePath(QStringLiteral("period.hrp"));
    period->preview()->Save(file);
    if (const QString keep = qEnvironmentVariable("HEMATIX_KEEP_PRINTS"); !keep.isEmpty())
        period->preview()->Save(keep + QStringLiteral("/period.hrp"));

    TRpPrinter loaded;
    loaded.Load(file);
    ASSERT_EQ(loaded.PageCount(), 5);
    loaded.SetFirstPage(2);
    loaded.SetLastPage(3);
    printStored(loaded);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join(QLatin1Char('\n')).toStdString();
    const QString pdf = printedPdf();
    ASSERT_FALSE(pdf.isEmpty());
    // Exactly pages 2 and 3, no empty sheet after them.
    EXPECT_EQ(printqueue::pdfPages(pdf), 2);
    expectSameBoxes(pdf, {2, 3}, loaded);
}

TEST_F(ReportPrint, CopiesAreHonoured)
{
    auto sheet = resultSheet();
    sheet->report->PrinterSettings.Copies = 2;
    sheet->sessions.Preview();
    sheet->sessions.Print();
    const QString pdf = printedPdf();
    ASSERT_FALSE(pdf.isEmpty());
    EXPECT_EQ(printqueue::pdfPages(pdf), 2);
    expectSameBoxes(pdf, {1, 1}, *sheet->preview());
}

TEST_F(ReportPrint, CancelBetweenDetailsAbortsTheJob)
{
    auto period = periodReport(150);
    period->sessions.Preview();
    TRpPrinter* preview = period->preview();
    TRpProgressForm* form = nullptr;
    QStringList shown;
    ui_.progress = [&](TRpProgressForm& f) { form = &f; };
    period->gen.ProcessEvents = [&] {
        QCoreApplication::processEvents();
        if (form && !form->Info->text().isEmpty() && !shown.contains(form->Info->text()))
            shown << form->Info->text();
        // The user presses Cancel on the third page (pages 2 and 3 in the range were drawn).
        if (form && period->gen.DetailNumber() == 80) {
            if (const QString keep = qEnvironmentVariable("HEMATIX_KEEP_PRINTS"); !keep.isEmpty())
                form->grab().save(keep + QStringLiteral("/progress.png"));
            form->CancelButton->click();
        }
    };
    period->report->PrinterSettings.FirstPage = 2;
    period->report->PrinterSettings.LastPage = 3;
    period->sessions.Print();
    EXPECT_TRUE(errors_.isEmpty());
    EXPECT_TRUE(newPdfs().isEmpty());
    // The window counted up in steps of 5 until the cancel.
    EXPECT_TRUE(shown.contains(QStringLiteral("50%  Completed"))) << shown.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(shown.contains(QStringLiteral("60%  Completed")));
    for (const QString& s : shown)
        EXPECT_EQ(s.section(QLatin1Char('%'), 0, 0).toInt() % 5, 0) << s.toStdString();
    EXPECT_EQ(preview->PageCount(), 5);
    // The report prints again afterwards.
    period->gen.ProcessEvents = nullptr;
    period->sessions.Print();
    EXPECT_EQ(newPdfs().size(), 1);
}

TEST_F(ReportPrint, RefusedJobIsShownAsAnError)
{
    auto sheet = resultSheet();
    sheet->sessions.Preview();
    ASSERT_TRUE(printqueue::setAccepting(false));
    sheet->sessions.Print();
    ASSERT_TRUE(printqueue::setAccepting(true));
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_.front().contains(printqueue::queueName())) << errors_.front().toStdString();
    EXPECT_TRUE(newPdfs().isEmpty());
    // The report is not left in a run.
    EXPECT_TRUE(sheet->gen.Available());
}

TEST_F(ReportPrint, NoPrinterInstalledPrintSaysSoAndSetupDoesNothing)
{
    auto sheet = resultSheet();
    sheet->sessions.Preview();
    const QString file = dir_.filePath(QStringLiteral("sheet.hrp"));
    sheet->preview()->Save(file);
    PrinterInfo::ScopedOverride none{{}};
    int dialogs = 0;
    ui_.setup = [&](QPrintDialog& d) {
        ++dialogs;
        d.reject();
    };
    // Print and Printer setup on the live path, then Print of a loaded report.
    sheet->sessions.Print();
    sheet->printSetup(ui_);
    TRpPrinter loaded;
    loaded.Load(file);
    printStored(loaded);
    EXPECT_EQ(dialogs, 0);
    // Print says why nothing comes out, on both paths; Printer setup opens no dialog.
    const QString noPrinter = QStringLiteral("No printer is installed");
    EXPECT_EQ(errors_, (QStringList{noPrinter, noPrinter}));
    EXPECT_TRUE(newPdfs().isEmpty());
    // The program stays responsive: the event loop still runs what is queued for it.
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(sheet->gen.Available());
}

TEST_F(ReportPrint, SetupChoicesReachTheNextPreviewAndPrint)
{
    auto sheet = resultSheet();
    sheet->sessions.Preview();
    ASSERT_EQ(sheet->preview()->Orientation(), TRpOrientation::poPortrait);

    // The dialog as the user sees it: page limits of the finished pages, placed a third down.
    QRect placed;
    QRect screen;
    int minPage = -1, maxPage = -1;
    QString confirm;
    bool paperFound = false, paperShown = true, orientationShown = false;
    ui_.setup = [&](QPrintDialog& d) {
        // Confirming keeps the choice and prints nothing; the printer's properties offer no paper.
        if (auto* buttons = d.findChild<QDialogButtonBox*>())
            confirm = buttons->button(QDialogButtonBox::Ok)->text();
        if (auto* properties = d.findChild<QPushButton*>(QStringLiteral("properties"))) {
            QTimer::singleShot(0, [&] {
                auto* p = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (!p || p == &d)
                    return;
                const auto* paper = p->findChild<QComboBox*>(QStringLiteral("pageSizeCombo"));
                auto* landscape = p->findChild<QRadioButton*>(QStringLiteral("landscape"));
                paperFound = paper;
                paperShown = paper && paper->isVisibleTo(p);
                orientationShown = landscape && landscape->isVisibleTo(p);
                // Landscape chosen where the user chooses it.
                if (landscape)
                    landscape->click();
                p->accept();
            });
            properties->click();
        }
        placed = d.frameGeometry();
        screen = d.screen()->geometry();
        minPage = d.minPage();
        if (const QString keep = qEnvironmentVariable("HEMATIX_KEEP_PRINTS"); !keep.isEmpty())
            d.grab().save(keep + QStringLiteral("/print-setup.png"));
        maxPage = d.maxPage();
        if (auto* copies = d.findChild<QSpinBox*>(QStringLiteral("copies")))
            copies->setValue(2);
        d.accept();
    };
    sheet->printSetup(ui_);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(minPage, 1);
    EXPECT_EQ(maxPage, 1);
    EXPECT_EQ(confirm, QStringLiteral("OK"));
    EXPECT_TRUE(paperFound);
    EXPECT_FALSE(paperShown);
    EXPECT_TRUE(orientationShown);
    EXPECT_EQ(sheet->report->Page.Orientation(), TRpOrientation::poLandscape);
    EXPECT_EQ(sheet->report->PrinterSettings.Copies, 2);
    EXPECT_EQ(sheet->report->PrinterSettings.FirstPage, 0);
    EXPECT_EQ(sheet->report->PrinterSettings.LastPage, 0);
    EXPECT_EQ(sheet->gen.PrinterIndex(), 0);
    EXPECT_EQ(placed.x(), screen.x() + (screen.width() - placed.width()) / 2);
    EXPECT_EQ(placed.y(), screen.y() + (screen.height() - placed.height()) / 3);

    // The next preview is landscape, and so is the next print.
    sheet->sessions.Preview();
    TRpPrinter* preview = sheet->preview();
    EXPECT_EQ(preview->Orientation(), TRpOrientation::poLandscape);
    EXPECT_EQ(preview->PaperWidth(), 2970);
    sheet->sessions.Print();
    const QString pdf = printedPdf();
    ASSERT_FALSE(pdf.isEmpty());
    EXPECT_EQ(printqueue::pdfPages(pdf), 2);
    expectSameBoxes(pdf, {1, 1}, *preview);

    // Cancelling the dialog changes nothing.
    ui_.setup = [](QPrintDialog& d) {
        d.printer()->setPageOrientation(QPageLayout::Portrait);
        d.reject();
    };
    sheet->printSetup(ui_);
    EXPECT_EQ(sheet->report->Page.Orientation(), TRpOrientation::poLandscape);
    EXPECT_EQ(sheet->report->PrinterSettings.Copies, 2);
}

// ---- printing from the preview window while something else goes on ----

// Runs body once the preview's run has finished, inside Preview's wait; the body closes the window.
void whenFinished(Printable& p, std::function<void(TRpStandardPreview&)> body)
{
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [&p, poll, body] {
        TRpStandardPreview* w = p.sessions.Window();
        if (!w || !w->Recorder() || w->Recorder()->Status() != TRpPrinterStatus::Finished)
            return;
        poll->stop();
        poll->deleteLater();
        body(*w);
    });
    poll->start();
    p.sessions.Preview();
}

void waitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 6000 && !done(); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Save as PDF from the preview: the sheets a print of its pages gives, text kept as text; a write
// that fails (folder refused, disk full, rename) leaves nothing in the folder.
TEST_F(ReportPrint, PreviewSavesThePrintedSheetsAsAPdfWithItsText)
{
    ui_.windows = true;
    const std::tuple<const char*, QString, QStringList> rows[] = {
        {"sheet", QStringLiteral("595 x 842 pts (A4)"), {QStringLiteral("Результат гематологического анализа"), QStringLiteral("4.52")}},
        {"period", QStringLiteral("842 x 595 pts (A4)"), {QStringLiteral("ОТЧЁТ"), QStringLiteral("100000002 Иванов И. И.")}},
    };
    for (const auto& [what, size, texts] : rows) {
        SCOPED_TRACE(what);
        auto report = std::strcmp(what, "sheet") == 0 ? resultSheet() : periodReport(3);
        const QString pdf = dir_.filePath(QLatin1String(what) + QStringLiteral(".pdf"));
        const QStringList before = QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden);
        before_ = printqueue::pdfs();
        whenFinished(*report, [&](TRpStandardPreview& w) {
            w.AskFileName = [&](auto, auto&, auto&) { return TRpChosenFile(pdf, TRpStandardPreview::PdfFilter()); };
            auto press = [&](QAction* a) { a->trigger(); waitFor([&] { return !w.Printing(); }); };
            for (const auto& [op, err] : {std::pair{durable::Op::Create, EACCES}, {durable::Op::Write, ENOSPC}, {durable::Op::Rename, EIO}}) {
                durable::ScopedObserver fail([op = op, err = err](durable::Call& c) { return c.op == op ? err : 0; });
                press(w.SaveReport);
                EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), before);
                EXPECT_EQ(errors_.join(QString()), QStringLiteral("Cannot save the PDF file \"%1\": %2").arg(pdf, QString::fromLocal8Bit(std::strerror(err))));
                errors_.clear();
            }
            press(w.SaveReport);
            press(w.Print);
            expectSameBoxes(pdf, {1}, *w.Recorder(), printedPdf());
            w.close();
        });
        EXPECT_TRUE(printqueue::tool(QStringLiteral("pdfinfo"), {pdf}).contains(size));
        for (const QString& text : texts)
            EXPECT_TRUE(printqueue::tool(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}).contains(text)) << text.toStdString();
        report.reset(); // both reports make their table in the same folder
        table_.Close();
        QDir(dir_.filePath(QStringLiteral("DB"))).removeRecursively();
    }
}

TEST_F(ReportPrint, PrintFromAPreviewStartsOnceWhateverElseIsPressed)
{
    ui_.windows = true;
    auto period = periodReport(150);
    const QString file = dir_.filePath(QStringLiteral("period.hrp"));
    struct Row {
        const char* what;
        bool loaded;                       // the preview shows a loaded report file
        std::function<void(TRpStandardPreview& w)> during;   // runs while the print goes on
    };
    int dialogs = 0;
    ui_.setup = [&](QPrintDialog& d) {
        ++dialogs;
        d.reject();
    };
    const Row rows[] = {
        {"double press on a generated report", false, {}},
        {"double press on a loaded report", true, {}},
        {"Load, Save and Printer setup during a stored print", true,
         [&](TRpStandardPreview& w) {
             for (QAction* a : {w.Print, w.PrintSetup, w.SaveReport, w.LoadReport})
                 EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
             w.LoadClick();
             w.SaveClick();
             w.PrintSetupClick();
         }},
        {"Load, Save and Printer setup during a live print", false,
         [&](TRpStandardPreview& w) {
             w.LoadClick();
             w.SaveClick();
             w.PrintSetupClick();
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const auto before = newPdfs().size();
        int asked = 0, inside = 0;
        whenFinished(*period, [&](TRpStandardPreview& w) {
            w.AskFileName = [&](TRpStandardPreview::FileDialog, const QString&, const QString&) {
                ++asked;
                return file;
            };
            if (r.loaded) {
                w.Recorder()->Save(file);
                w.LoadClick();
                ASSERT_TRUE(w.Recorder()->ReportLoaded());
                asked = 0;
            }
            // What runs while the print goes on: the stored print lets events run before each
            // page, the live one before each detail; a press is also queued for the moment the
            // job is handed over.
            QTimer during;
            during.setInterval(0);
            QObject::connect(&during, &QTimer::timeout, [&] {
                if (!w.Printing())
                    return;
                ++inside;
                w.PrintClick();
                if (r.during)
                    r.during(w);
            });
            period->gen.BeforeEndPage = [&](int page) {
                if (page == 5)
                    QMetaObject::invokeMethod(&w, [&w] { w.PrintClick(); }, Qt::QueuedConnection);
            };
            during.start();
            w.Print->trigger();
            w.Print->trigger();
            EXPECT_TRUE(w.Printing());
            waitFor([&] { return !w.Printing(); });
            during.stop();
            period->gen.BeforeEndPage = nullptr;
            w.close();
        });
        EXPECT_GT(inside, 0) << "nothing ran while the print went on";
        EXPECT_EQ(asked, 0);
        EXPECT_EQ(dialogs, 0);
        EXPECT_TRUE(errors_.isEmpty()) << errors_.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(newPdfs().size(), before + 1);
    }
}

TEST_F(ReportPrint, ClosingThePreviewAndPreviewingAgainDuringAStoredPrintLeaveItWhole)
{
    ui_.windows = true;
    auto period = periodReport(150);
    const QString file = dir_.filePath(QStringLiteral("period.hrp"));
    QPointer<TRpReportSession> printing;
    int reopened = 0;
    whenFinished(*period, [&](TRpStandardPreview& w) {
        w.Recorder()->Save(file);
        w.AskFileName = [&](TRpStandardPreview::FileDialog, const QString&, const QString&) { return file; };
        w.LoadClick();
        printing = period->sessions.Current();
        // Each "Печать" while the print goes on opens a window that the user closes at once.
        ui_.opened = [&](TRpStandardPreview& again) {
            ++reopened;
            QMetaObject::invokeMethod(&again, [&again] { again.close(); }, Qt::QueuedConnection);
        };
        w.Print->trigger();
        // Runs inside the print, which lets events run before each page.
        QTimer::singleShot(0, [&] {
            EXPECT_TRUE(printing->Printing());
            w.close();
            // Freed only when the print has ended: the stored pages are being played.
            EXPECT_NE(printing->Recorder(), nullptr);
            period->sessions.Preview();
            period->sessions.Preview();
        });
    });
    waitFor([&] { return !printing || !printing->Printing(); });
    EXPECT_EQ(reopened, 2);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join(QLatin1Char('\n')).toStdString();
    const QString pdf = printedPdf();
    ASSERT_FALSE(pdf.isEmpty());
    EXPECT_EQ(printqueue::pdfPages(pdf), 5);
    waitFor([&] { return !printing; });
    EXPECT_EQ(period->sessions.Count(), 0) << "every closed session has gone";
}

TEST_F(ReportPrint, AnErrorPartWayThroughALivePrintSendsNoJobAndThePreviewKeepsItsPages)
{
    ui_.windows = true;
    auto period = periodReport(150);
    QPointer<TRpReportSession> shown;
    whenFinished(*period, [&](TRpStandardPreview& w) {
        shown = period->sessions.Current();
        period->gen.OnBandPrinted = [](const TRpCustomBand&, int page, int) {
            if (page == 3)
                throw ERpError(QStringLiteral("a field cannot be read"));
        };
        w.Print->trigger();
        waitFor([&] { return !w.Printing(); });
        period->gen.OnBandPrinted = nullptr;
        EXPECT_EQ(w.Recorder()->PageCount(), 5);
        w.close();
        // Closing frees the pages at once.
        EXPECT_EQ(shown->Recorder(), nullptr);
    });
    EXPECT_EQ(errors_, QStringList{QStringLiteral("a field cannot be read")});
    EXPECT_TRUE(newPdfs().isEmpty());
    EXPECT_TRUE(period->gen.Available());
}

} // namespace

namespace {

// The comparison itself: a page moved by one pixel more than the tolerance is caught, one moved
// by the tolerance is not; a missing line is caught.
TEST(PageCompare, SeesAShiftBeyondTheTolerance)
{
    PrinterInfo::ScopedOverride none{{}};
    TRpPrinter rp;
    rp.BeginDoc();
    rp.NewPage();
    PageCanvas& c = *rp.Canvas();
    c.setPen({CanvasPenStyle::Solid, 1, Qt::black});
    c.moveTo(rp.XPos(100), rp.YPos(300));
    c.lineTo(rp.XPos(1900), rp.YPos(300));
    c.setFont(CanvasFont{});
    c.setTextColor(Qt::black);
    c.textOut(rp.XPos(200), rp.YPos(400), QStringLiteral("WBC 6.4 RBC 4.52"));
    rp.EndDoc();
    auto page = rp.GetPage(1);
    ASSERT_TRUE(page);
    const QSize pixels(page->Width(TRpPrinter::ScreenPixelsPerInch()), page->Height(TRpPrinter::ScreenPixelsPerInch()));
    const QImage shown = pagecompare::render(page->Bytes(), QSize(1240, 1754));
    auto shifted = [&](int dx, int dy) {
        QImage moved(shown.size(), shown.format());
        moved.fill(Qt::white);
        QPainter p(&moved);
        p.drawImage(dx, dy, shown);
        return moved;
    };
    EXPECT_TRUE(pagecompare::compare(page->Bytes(), pixels, shown, shifted(2, 2)).problems.isEmpty());
    EXPECT_EQ(pagecompare::compare(page->Bytes(), pixels, shown, shifted(3, 0)).problems.size(), 2);
    EXPECT_EQ(pagecompare::compare(page->Bytes(), pixels, shown, shifted(0, -3)).problems.size(), 2);
    QImage blank(shown.size(), shown.format());
    blank.fill(Qt::white);
    EXPECT_EQ(pagecompare::compare(page->Bytes(), pixels, shown, blank).problems.size(), 2);
}

} // namespace
