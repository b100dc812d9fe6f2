// The two reports in the program: "Печать" previews the current row's result sheet, "OK" in
// "Запрос" the period report; printing from a preview prints the row that preview shows; a second
// request runs into the open window; closing during a long run cancels it.
#include "AppFixture.h"

#include "app/RowSnapshot.h"
#include "app/Unit3.h"
#include "app/Unit6.h"
#include "app/Unit7.h"
#include "report/generation/GenerationFixtures.h"
#include "report/generation/RpGenerator.h"
#include "report/preview/RpPreview.h"
#include "report/preview/RpPreviewImage.h"
#include "platform/print/PrinterInfo.h"
#include "report/session/RpReportSession.h"

#include "link/sim/AnalyserSimulator.h"
#include "link/MessageImport.h"

#include <QDateEdit>
#include <QProcess>
#include <QTest>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

using namespace apptest;

namespace {

QStringList pageTexts(TRpPrinter& recorder, int page)
{
    QStringList out;
    for (const gentest::TextAt& t : gentest::textsOfPage(recorder, page))
        out << t.text;
    return out;
}

// Sample numbers (nine digits) on a page.
int samplesOn(TRpPrinter& recorder, int page)
{
    static const QRegularExpression number(QStringLiteral("^\\d{9}$"));
    int n = 0;
    for (const QString& t : pageTexts(recorder, page))
        n += number.match(t).hasMatch() ? 1 : 0;
    return n;
}

// The preview of a generator once its run has finished, or null.
TRpStandardPreview* finishedPreview(TRpReportSessions& sessions)
{
    TRpStandardPreview* w = sessions.Window();
    if (!w || !w->isVisible() || !w->Recorder() || w->Recorder()->Status() != TRpPrinterStatus::Finished)
        return nullptr;
    return w;
}

struct ReportPreview : AppFixture {
    // Runs body once, as soon as the generator's preview has finished its run.
    void whenShown(TRpReportSessions& sessions, QTimer& timer, std::function<void(TRpStandardPreview&)> body)
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [&sessions, &timer, body] {
            if (TRpStandardPreview* w = finishedPreview(sessions)) {
                timer.stop();
                body(*w);
            }
        });
        timer.start();
    }
};

TEST_F(ReportPreview, PrintPreviewsTheCurrentRowAndPrintsThatRowAfterTheGridMoved)
{
    makeTable();
    addRows(3);
    start();
    Form1->Table1->SetRecNo(2);
    TRpReportSessions& sessions = Form3->Sessions();
    TRpGenerator& gen = Form3->Generator();
    // No printer here: the print says so, and the row it would print is the session's copy.
    PrinterInfo::ScopedOverride none{{}};
    ModalAnswer noPrinter(QStringLiteral("OK"));
    QString printedRow;
    int shown = 0;
    QTimer t;
    whenShown(sessions, t, [&](TRpStandardPreview& w) {
        ++shown;
        TRpPrinter& rp = *w.Recorder();
        EXPECT_EQ(rp.PageCount(), 1);
        const QStringList texts = pageTexts(rp, 1);
        EXPECT_TRUE(texts.contains(QStringLiteral("000000002"))) << texts.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(texts.contains(QStringLiteral("7.5")));
        EXPECT_TRUE(texts.contains(QStringLiteral("Номер иссл.")));
        EXPECT_EQ(w.StatusPanel0->text(), QStringLiteral("0%")); // no data set, no progress
        EXPECT_EQ(w.StatusPanel1->text(), QStringLiteral("Page 1 of 1"));
        EXPECT_TRUE(w.RpPreview->PageView()->ImageShown());
        EXPECT_EQ(w.RpPreview->ZoomMode(), TRpZoomMode::Width);
        // Generation did not move the grid; the technician now does, then prints.
        EXPECT_EQ(Form1->Table1->RecNo(), 2);
        Form1->Table1->SetRecNo(3);
        w.Print->trigger();
        // The print is posted: it runs once this handler has returned.
        EXPECT_TRUE(noPrinter.text().isEmpty());
        apptest::waitUntil([&] { return noPrinter.answered(); });
        if (Form3->Snapshot())
            printedRow = Form3->Snapshot()->Table()->FieldByName(QStringLiteral("NUM"))->AsString();
        w.close();
    });
    Form1->N5->trigger();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(noPrinter.text(), QStringLiteral("No printer is installed"));
    EXPECT_EQ(printedRow, QStringLiteral("000000002")) << "the previewed row is what a print reads";
    EXPECT_EQ(sessions.Current(), nullptr);
    EXPECT_TRUE(gen.Available());
}

TEST_F(ReportPreview, ASecondPrintWhileThePreviewIsOpenRunsIntoTheSameWindow)
{
    makeTable();
    addRows(3);
    start();
    Form1->Table1->SetRecNo(1);
    TRpReportSessions& sessions = Form3->Sessions();
    TRpStandardPreview* first = nullptr;
    QTimer t1, t2;
    QStringList secondTexts;
    TRpPrinter* firstRecorder = nullptr;
    whenShown(sessions, t1, [&](TRpStandardPreview& w) {
        first = &w;
        firstRecorder = w.Recorder();
        Form1->Table1->SetRecNo(3);
        whenShown(sessions, t2, [&](TRpStandardPreview& again) {
            if (again.Recorder() == firstRecorder) {
                t2.start(); // the second run has not started yet
                return;
            }
            EXPECT_EQ(&again, first);
            secondTexts = pageTexts(*again.Recorder(), 1);
            again.close();
        });
        // The panel's "Печать", pressed after this timer's slot has returned: timers do not fire
        // inside a loop run from one of their own slots.
        QMetaObject::invokeMethod(Form1->Button1, [] { Form1->Button1->click(); }, Qt::QueuedConnection);
    });
    Form1->N5->trigger();
    EXPECT_TRUE(secondTexts.contains(QStringLiteral("000000003"))) << secondTexts.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(sessions.Current(), nullptr);
}

TEST_F(ReportPreview, EndingTheProgramClosesAnOpenPreview)
{
    makeTable();
    addRows(1);
    start();
    bool ended = false;
    QTimer t;
    whenShown(Form3->Sessions(), t, [&](TRpStandardPreview&) {
        // The exit dialog ends the program while the preview is open.
        QMetaObject::invokeMethod(Form1, [&] {
            Form1->closeProgram();
            ended = true;
        }, Qt::QueuedConnection);
    });
    Form1->N5->trigger(); // returns because the preview closed
    EXPECT_TRUE(ended);
    EXPECT_EQ(Form3->Sessions().Window(), nullptr);
    EXPECT_EQ(Form3->Sessions().Current(), nullptr);
}

TEST_F(ReportPreview, ResultSheetOfAnEmptyTableStillPrintsItsPage)
{
    makeTable();
    start();
    TRpReportSessions& sessions = Form3->Sessions();
    QStringList texts;
    bool emptyCopy = false;
    QTimer t;
    whenShown(sessions, t, [&](TRpStandardPreview& w) {
        texts = pageTexts(*w.Recorder(), 1);
        emptyCopy = Form3->Snapshot() && Form3->Snapshot()->Table()->IsEmpty();
        w.close();
    });
    Form1->N5->trigger();
    EXPECT_TRUE(texts.contains(QStringLiteral("Номер иссл.")));
    EXPECT_TRUE(emptyCopy);
}

TEST_F(ReportPreview, PeriodQueryOkPreviewsTheSelection)
{
    makeTable();
    addRows(70); // 34 on page 1, 35 on page 2, the last and the summary on page 3
    start();
    TRpReportSessions& sessions = Form7->Sessions();
    std::vector<int> perPage;
    QStringList firstPage;
    QString progress;
    QTimer t;
    whenShown(sessions, t, [&](TRpStandardPreview& w) {
        TRpPrinter& rp = *w.Recorder();
        for (int p = 1; p <= rp.PageCount(); ++p)
            perPage.push_back(samplesOn(rp, p));
        firstPage = pageTexts(rp, 1);
        progress = w.StatusPanel0->text();
        w.close();
    });
    Form6->DateTimePicker1->setDate(QDate(2023, 6, 1));
    Form6->DateTimePicker2->setDate(QDate(2023, 6, 30));
    Form6->Button1Click();
    EXPECT_EQ(perPage, (std::vector<int>{34, 35, 1}));
    EXPECT_TRUE(firstPage.contains(QStringLiteral("ОТЧЁТ ")));
    EXPECT_TRUE(firstPage.contains(QStringLiteral(" - ")));
    EXPECT_TRUE(firstPage.contains(Form6->RpLabel2));
    EXPECT_EQ(progress, QString()); // 100 arrived: the panel is emptied
    EXPECT_EQ(sessions.Current(), nullptr);

    // A single day: one date in the heading, no separator.
    perPage.clear();
    QTimer t2;
    whenShown(sessions, t2, [&](TRpStandardPreview& w) {
        firstPage = pageTexts(*w.Recorder(), 1);
        perPage.push_back(w.Recorder()->PageCount());
        w.close();
    });
    Form6->DateTimePicker1->setDate(QDate(2023, 6, 5));
    Form6->DateTimePicker2->setDate(QDate(2023, 6, 5));
    Form6->Button1Click();
    EXPECT_EQ(perPage, std::vector<int>{3});
    EXPECT_FALSE(firstPage.contains(QStringLiteral(" - ")));
}

TEST_F(ReportPreview, ClosingDuringALongRunCancelsItAndTheProgramStaysUsable)
{
    gentest::writeRows(folder, 20000); // of one day
    start();
    TRpReportSessions& sessions = Form7->Sessions();
    TRpGenerator& gen = Form7->Generator();
    int pagesWhenClosed = 0;
    bool otherWork = false;
    QTimer other; // the link and the import keep running on their timers
    other.setInterval(1);
    QObject::connect(&other, &QTimer::timeout, [&] { otherWork = true; });
    other.start();
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        TRpStandardPreview* w = sessions.Window();
        if (!w || !w->Recorder() || w->Recorder()->AvailablePages() < 2)
            return;
        closer.stop();
        pagesWhenClosed = w->Recorder()->PageCount();
        EXPECT_FALSE(gen.Available());
        // "OK" again while the run walks the query: ignored, the query keeps its statement.
        const QStringList sql = Form6->Query1->SQL;
        Form6->DateTimePicker2->setDate(QDate(2023, 6, 7));
        Form6->Button1Click();
        EXPECT_EQ(Form6->Query1->SQL, sql);
        EXPECT_TRUE(Form6->Query1->Active());
        EXPECT_FALSE(w->Print->isEnabled());
        w->close();
    });
    closer.start();
    Form6->DateTimePicker1->setDate(QDate(2023, 6, 5));
    Form6->DateTimePicker2->setDate(QDate(2023, 6, 5));
    Form6->Button1Click();
    EXPECT_GE(pagesWhenClosed, 2);
    EXPECT_LT(pagesWhenClosed, 100) << "20000 rows make 572 pages; the run stopped early";
    EXPECT_TRUE(gen.Available());
    EXPECT_EQ(sessions.Current(), nullptr);
    EXPECT_TRUE(otherWork);
    EXPECT_EQ(sessions.Window(), nullptr);
}

TEST_F(ReportPreview, SnapshotHoldsTheRowAsShownPendingChangesIncluded)
{
    makeTable();
    addRows(2);
    start();
    TTable& table = *Form1->Table1;
    table.SetRecNo(1);
    table.Edit();
    table.FieldByName(QStringLiteral("FIO"))->SetAsString(QStringLiteral("Сидоров П. П."));
    TRowSnapshot snap(table);
    // The source is left as it was: same row, the change still pending.
    EXPECT_EQ(table.RecNo(), 1);
    EXPECT_EQ(table.State(), TDataSet::dsEdit);
    TTable& copy = *snap.Table();
    ASSERT_EQ(copy.RecordCount(), 1);
    for (const auto& field : table.Fields())
        EXPECT_EQ(copy.FieldByName(field->FieldName())->DisplayText(), field->DisplayText()) << field->FieldName().toStdString();
    EXPECT_EQ(copy.FieldByName(QStringLiteral("FIO"))->AsString(), QStringLiteral("Сидоров П. П."));
    // Later changes of the source do not reach the copy.
    table.Cancel();
    table.SetRecNo(2);
    EXPECT_EQ(copy.FieldByName(QStringLiteral("NUM"))->AsString(), QStringLiteral("000000001"));

    // A closed source gives an empty copy.
    table.Close();
    TRowSnapshot none(table);
    EXPECT_TRUE(none.Table()->IsEmpty());
}

// Pictures of both previews at "Zoom to width" for a person to look at: run with
// HEMATIX_SCREENSHOTS=<folder> under Xvfb with QT_QPA_PLATFORM=xcb. Skipped otherwise.
TEST_F(ReportPreview, Screenshots)
{
    if (qEnvironmentVariableIsEmpty("HEMATIX_SCREENSHOTS"))
        GTEST_SKIP() << "set HEMATIX_SCREENSHOTS to a folder to take pictures of the previews";
    const QString out = qEnvironmentVariable("HEMATIX_SCREENSHOTS");
    makeTable();
    start();
    sim::MessageGenerator messages(3, QDateTime(QDate::currentDate(), QTime(8, 30, 0)));
    for (int i = 0; i < 50; ++i) {
        QByteArray wire = sim::wireBytes(messages.next());
        wire.chop(1);
        testsupport::writeFile(folder + "Temp/Temp.log", wire);
        Form1->import()->tick();
    }
    Form1->Table1->SetRecNo(47);
    Form1->Table1->Edit();
    Form1->Table1->FieldByName(QStringLiteral("FIO"))->SetAsString(QStringLiteral("Петрова Анна Сергеевна"));
    Form1->Table1->FieldByName(QStringLiteral("DOC"))->SetAsString(QStringLiteral("45 лет"));
    Form1->Table1->FieldByName(QStringLiteral("RECEPTION"))->SetAsString(QStringLiteral("терап."));
    Form1->Table1->Post();
    auto shoot = [&](TRpStandardPreview& w, const QString& name) {
        QTest::qWait(500);
        QProcess::execute(QStringLiteral("/usr/bin/import"), {QStringLiteral("-window"), QStringLiteral("root"), out + QLatin1Char('/') + name});
        if (!QFile::exists(out + QLatin1Char('/') + name))
            w.grab().save(out + QLatin1Char('/') + name);
    };
    QTimer t1;
    whenShown(Form3->Sessions(), t1, [&](TRpStandardPreview& w) {
        shoot(w, QStringLiteral("preview-result-sheet.png"));
        w.close();
    });
    Form1->N5->trigger();
    QTimer t2;
    whenShown(Form7->Sessions(), t2, [&](TRpStandardPreview& w) {
        shoot(w, QStringLiteral("preview-period-report.png"));
        w.LastPage->trigger();
        shoot(w, QStringLiteral("preview-period-report-last.png"));
        w.close();
    });
    Form6->DateTimePicker1->setDate(QDate::currentDate());
    Form6->DateTimePicker2->setDate(QDate::currentDate());
    Form6->Button1Click();
}

} // namespace
