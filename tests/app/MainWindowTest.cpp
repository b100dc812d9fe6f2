#include "audit/RecordStory.h"
#include "engine/DbfFile.h"
#include <QJsonDocument>
#include <QStatusBar>
#include "AppFixture.h"

#include "app/DBEdit.h"
#include "app/DBGrid.h"
#include "app/DBNavigator.h"
#include "app/FindBar.h"
#include "app/Unit8.h"
#include "app/Unit9.h"
#include "app/RangesForm.h"
#include "reading/ReferenceRanges.h"
#include "link/sim/AnalyserSimulator.h"
#include "link/MessageImport.h"
#include "platform/tray/TrayIcon.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

using apptest::AppFixture;
using apptest::ModalAnswer;

namespace {

struct MainWindow : AppFixture {
    void SetUp() override
    {
        AppFixture::SetUp();
        makeTable();
        addRows(5);
        start();
        Form1->showNormal();
        Form1->resize(1000, 700);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1));
    }
    QString stored(int recNo, const char* field)
    {
        TTable t;
        t.SetName("Check");
        t.SetTableName(folder + "DB/HEMATIX.dbf");
        t.Open();
        t.SetRecNo(recNo);
        return t.FieldByName(field)->AsString();
    }
    int storedRows()
    {
        TTable t;
        t.SetTableName(folder + "DB/HEMATIX.dbf");
        t.Open();
        return t.RecordCount();
    }
    QPoint gridCell(int row, int column)
    {
        return Form1->DBGrid1->visualRect(Form1->DBGrid1->model()->index(row, column)).center();
    }
    void rightClickGrid()
    {
        QTest::mouseClick(Form1->DBGrid1->viewport(), Qt::RightButton, {}, gridCell(0, 0));
    }
    // A capture file as the frame receiver leaves it: ENQ and the frames, without the EOT.
    void dropCaptureFile(const QByteArray& sample)
    {
        sim::MessageGenerator gen(7, QDateTime(QDate(2023, 6, 5), QTime(14, 3, 7)));
        sim::Message m = gen.next();
        m.sample = sample;
        QByteArray wire = sim::wireBytes(m);
        wire.chop(1);
        ASSERT_TRUE(testsupport::writeFile(folder + "Temp/Temp.log", wire));
    }
};

} // namespace

TEST_F(MainWindow, PanelTogglesByMenuAndRightClickWithTheCheckMark)
{
    EXPECT_FALSE(Form1->GroupBox1->isVisible());
    EXPECT_FALSE(Form1->N9->isChecked());
    rightClickGrid();
    EXPECT_TRUE(Form1->GroupBox1->isVisible());
    EXPECT_TRUE(Form1->N9->isChecked());
    Form1->N9->trigger();
    EXPECT_FALSE(Form1->GroupBox1->isVisible());
    EXPECT_FALSE(Form1->N9->isChecked());
    Form1->N9->trigger();
    EXPECT_TRUE(Form1->GroupBox1->isVisible());
    EXPECT_TRUE(Form1->N9->isChecked());
    rightClickGrid();
    EXPECT_FALSE(Form1->GroupBox1->isVisible());
    EXPECT_FALSE(Form1->N9->isChecked());
    QTest::mouseClick(Form1->DBGrid1->viewport(), Qt::LeftButton, {}, gridCell(0, 0));
    EXPECT_FALSE(Form1->GroupBox1->isVisible()) << "only the right button toggles";
}

TEST_F(MainWindow, PanelDragsByItsSurfaceButNotByItsEdits)
{
    Form1->N9Click();
    QGroupBox* panel = Form1->GroupBox1;
    EXPECT_EQ(panel->geometry(), QRect(408, 128, 329, 393));
    const QPoint caption(20, 6);
    QTest::mousePress(panel, Qt::LeftButton, {}, caption);
    QTest::mouseMove(panel, caption + QPoint(30, 40));
    QTest::mouseRelease(panel, Qt::LeftButton, {}, caption + QPoint(30, 40));
    EXPECT_EQ(panel->pos(), QPoint(438, 168));
    // Far past the window's edge: it stays there.
    QTest::mousePress(panel, Qt::LeftButton, {}, caption);
    QTest::mouseMove(panel, caption + QPoint(2000, 0));
    QTest::mouseRelease(panel, Qt::LeftButton, {}, caption + QPoint(2000, 0));
    EXPECT_EQ(panel->pos(), QPoint(2438, 168));

    TDBEdit* edit = Form1->editFor("FIO");
    const QPoint before = panel->pos();
    QTest::mousePress(edit, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(edit, QPoint(60, 60));
    QTest::mouseRelease(edit, Qt::LeftButton, {}, QPoint(60, 60));
    EXPECT_EQ(panel->pos(), before);
}

TEST_F(MainWindow, PanelEditsSitWhereTheyBelongAndShowTheirFields)
{
    TDBEdit* rdw = Form1->editFor("RDV");
    ASSERT_TRUE(rdw);
    EXPECT_EQ(rdw->geometry(), QRect(248, 232, 49, 21));
    EXPECT_EQ(Form1->editFor("PDW")->geometry(), QRect(136, 272, 49, 21));
    QLabel* rdwLabel = nullptr;
    for (QLabel* l : Form1->GroupBox1->findChildren<QLabel*>())
        if (l->text() == "RDW")
            rdwLabel = l;
    ASSERT_TRUE(rdwLabel);
    EXPECT_EQ(rdwLabel->pos(), QPoint(256, 216));
    EXPECT_EQ(Form1->editFor("NUM")->text(), "000000005") << "the shown row is the last one";
    EXPECT_EQ(Form1->Label18->text(), "5");
}

TEST_F(MainWindow, PanelChangeThenNextIsStored)
{
    Form1->N9Click();
    Form1->Table1->First();
    TDBEdit* fio = Form1->editFor("FIO");
    fio->setFocus();
    apptest::typeText(fio, QStringLiteral("Иванов И.И."));
    EXPECT_EQ(Form1->Table1->State(), TDataSet::dsEdit) << "typing starts editing";
    QTest::mouseClick(Form1->DBNavigator1->button(TDBNavigator::nbNext), Qt::LeftButton);
    EXPECT_EQ(Form1->Table1->RecNo(), 2);
    EXPECT_EQ(stored(1, "FIO"), QStringLiteral("Иванов И.И."));
    EXPECT_EQ(Form1->Label18->text(), "2");
}

TEST_F(MainWindow, DeleteAsksAndCancelKeepsTheRowWhileOkRemovesIt)
{
    Form1->N9Click();
    {
        ModalAnswer cancel("Cancel");
        QTest::mouseClick(Form1->DBNavigator1->button(TDBNavigator::nbDelete), Qt::LeftButton);
        EXPECT_EQ(cancel.text(), "Delete record?");
        EXPECT_EQ(cancel.title(), "Confirm");
    }
    EXPECT_EQ(storedRows(), 5);
    Form1->DBGrid1->setFocus();
    {
        ModalAnswer ok("OK");
        QTest::keyClick(Form1->DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
        EXPECT_TRUE(ok.answered());
    }
    EXPECT_EQ(storedRows(), 4);
    EXPECT_TRUE(Form1->DBGrid1->isRowHidden(4)) << "the deleted row is no longer shown";
}

TEST_F(MainWindow, ImportWhileEditingPostsTheChangeAndKeepsTheSelection)
{
    Form1->N9Click();
    Form1->Table1->SetRecNo(2);
    TDBEdit* coe = Form1->editFor("COE");
    coe->setFocus();
    QTest::keyClicks(coe, "12");
    dropCaptureFile("000000777");
    Form1->Timer1Timer();
    EXPECT_EQ(storedRows(), 6);
    EXPECT_EQ(stored(2, "COE"), "12") << "the refresh after the import wrote the typed change";
    EXPECT_EQ(stored(6, "NUM"), "000000777");
    EXPECT_EQ(Form1->Table1->RecNo(), 2) << "the selected row stays selected";
    EXPECT_EQ(Form1->DBGrid1->model()->rowCount(), 6) << "the grid shows the new row";
    EXPECT_FALSE(QFile::exists(folder + "Temp/Temp.log"));
}

TEST_F(MainWindow, ShowingAfterHidingSelectsTheLastRow)
{
    Form1->N9Click();
    Form1->Table1->SetRecNo(2);
    EXPECT_EQ(Form1->Label18->text(), "2");
    Form1->hide();
    addRows(2, 6);
    Form1->Table1->Refresh();
    Form1->show();
    EXPECT_EQ(Form1->Table1->RecNo(), 7);
    EXPECT_EQ(Form1->Label18->text(), "7");
    EXPECT_EQ(Form1->DBGrid1->currentIndex().row(), 6);
}

TEST_F(MainWindow, TooLongValueShowsTheErrorAndKeepsTheEdit)
{
    Form1->N9Click();
    TDBEdit* num = Form1->editFor("NUM");
    num->setFocus();
    num->selectAll();
    const QString tooLong(300, u'9');
    QTest::keyClicks(num, tooLong);
    {
        ModalAnswer ok("OK");
        QTest::mouseClick(Form1->DBNavigator1->button(TDBNavigator::nbPrior), Qt::LeftButton);
        EXPECT_TRUE(ok.answered());
        EXPECT_TRUE(ok.text().contains("NUM")) << ok.text().toStdString();
    }
    EXPECT_EQ(num->text(), tooLong) << "what was typed is still there";
    EXPECT_EQ(Form1->Table1->State(), TDataSet::dsEdit);
    EXPECT_EQ(Form1->Table1->RecNo(), 5) << "the row did not move";
    EXPECT_EQ(stored(5, "NUM"), "000000005");
}

// A row another desk changed while this one typed into it: moving on in the grid names the change
// and stays on the row with the typed text; Esc in the panel shows the row as the other desk left it.
TEST_F(MainWindow, RowChangedAtAnotherDeskMeanwhileKeepsTheRowAndTheTypedText)
{
    QTableView* grid = Form1->DBGrid1;
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, gridCell(1, 3));
    apptest::typeText(grid, QStringLiteral("Петров"));
    QTest::keyClick(grid->focusWidget(), Qt::Key_Return);
    DbfFile other(folder + "DB/HEMATIX.dbf", DbfFile::Access::ReadWrite);
    QByteArray rec = other.readFresh(1);
    rec.replace(other.fields()[size_t(other.fieldIndex("FIO"))].offset, 5, QByteArray("Other"));
    other.write(1, rec);
    {
        ModalAnswer ok("OK");
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, gridCell(3, 3));
        EXPECT_TRUE(ok.text().startsWith(QStringLiteral("Запись 2 изменена на другом рабочем месте: FIO «Other»"))) << ok.text().toStdString();
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(grid->currentIndex().row(), 1) << "the grid stays on the row";
    EXPECT_EQ(grid->model()->index(1, 3).data().toString(), QStringLiteral("Петров"));
    QTest::keyClick(Form1->editFor("NUM"), Qt::Key_Escape);
    EXPECT_EQ(Form1->editFor("FIO")->text(), QStringLiteral("Other"));
}

TEST_F(MainWindow, GridEditsInPlaceAndInsertStartsAnEmptyRow)
{
    QTableView* grid = Form1->DBGrid1;
    EXPECT_EQ(grid->model()->columnCount(), 16);
    EXPECT_EQ(grid->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Номер"));
    EXPECT_EQ(grid->model()->headerData(11, Qt::Horizontal).toString(), "LY%");
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, gridCell(0, 3));
    EXPECT_EQ(Form1->Table1->RecNo(), 1);
    apptest::typeText(grid, QStringLiteral("Петров"));
    QTest::keyClick(grid->focusWidget(), Qt::Key_Return);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, gridCell(2, 3));
    EXPECT_EQ(stored(1, "FIO"), QStringLiteral("Петров"));

    Form1->N9Click();
    QTest::mouseClick(Form1->DBNavigator1->button(TDBNavigator::nbInsert), Qt::LeftButton);
    EXPECT_EQ(Form1->Table1->State(), TDataSet::dsInsert);
    EXPECT_TRUE(Form1->editFor("NUM")->text().isEmpty());
    EXPECT_EQ(grid->model()->rowCount(), 6);
    grid->setFocus();
    Form1->editFor("FIO")->setFocus();
    EXPECT_EQ(Form1->Table1->State(), TDataSet::dsBrowse) << "an unchanged new row is dropped when the grid loses the focus";
    EXPECT_EQ(storedRows(), 5);
}

TEST_F(MainWindow, RightClickTogglesThePanelOnlyAndTypingIntoACellStartsEditingAtOnce)
{
    QTableView* grid = Form1->DBGrid1;
    ASSERT_EQ(Form1->Table1->RecNo(), 5);
    QTest::mouseClick(grid->viewport(), Qt::RightButton, {}, gridCell(1, 3));
    EXPECT_TRUE(Form1->GroupBox1->isVisible());
    EXPECT_EQ(Form1->Table1->RecNo(), 5) << "the clicked row did not become current";
    EXPECT_EQ(grid->currentIndex().row(), 4);

    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, gridCell(1, 3));
    ASSERT_EQ(Form1->Table1->RecNo(), 2);
    EXPECT_EQ(grid->model()->headerData(1, Qt::Vertical).toString(), QStringLiteral("▶"));
    apptest::typeText(grid, QStringLiteral("П"));
    EXPECT_EQ(Form1->Table1->State(), TDataSet::dsEdit) << "the first key puts the row into edit mode";
    EXPECT_EQ(grid->model()->headerData(1, Qt::Vertical).toString(), "I");
    apptest::typeText(grid, QStringLiteral("етров"));
    QTest::keyClick(grid->focusWidget(), Qt::Key_Return);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, gridCell(3, 3));
    EXPECT_EQ(stored(2, "FIO"), QStringLiteral("Петров"));
    EXPECT_EQ(Form1->Table1->State(), TDataSet::dsBrowse);
}

TEST_F(MainWindow, MeasuredValuesFitA1280PixelScreenAndMenusTakeTheMenuBarFont)
{
    Form1->resize(1280, 1000);
    QCoreApplication::processEvents();
    QTableView* grid = Form1->DBGrid1;
    const int viewport = grid->viewport()->width();
    ASSERT_GT(viewport, 1180);
    for (int c = 0; c < grid->model()->columnCount(); ++c) {
        const QString title = grid->model()->headerData(c, Qt::Horizontal).toString();
        const int right = grid->columnViewportPosition(c) + grid->columnWidth(c);
        EXPECT_LE(right, viewport) << title.toStdString() << " is off the screen";
        // Wide enough for its title and for what the analyser sends.
        const QFontMetrics fm(grid->font());
        EXPECT_GE(grid->columnWidth(c), fm.horizontalAdvance(title)) << title.toStdString();
        EXPECT_GE(grid->columnWidth(c), fm.horizontalAdvance(QStringLiteral("999.9 |"))) << title.toStdString();
    }
    EXPECT_GE(grid->columnWidth(3), QFontMetrics(grid->font()).horizontalAdvance(QStringLiteral("Константинопольская Е.А."))) << "Пациент";
    for (QMenu* menu : {Form1->N1, Form1->N8})
        EXPECT_EQ(menu->font(), Form1->menuBar()->font()) << menu->title().toStdString();
}

TEST_F(MainWindow, RowsDeletedByAnotherProgramAreHiddenWhenShownAfterAnImport)
{
    {
        TTable other;
        other.SetName("Other");
        other.SetTableName(folder + "DB/HEMATIX.dbf");
        other.Open();
        other.SetRecNo(2);
        other.Delete();
    }
    dropCaptureFile("000000777");
    Form1->Timer1Timer();
    QTableView* grid = Form1->DBGrid1;
    EXPECT_EQ(grid->model()->rowCount(), 6) << "the appended row is shown";
    grid->viewport()->repaint();
    EXPECT_TRUE(apptest::waitUntil([grid] { return grid->isRowHidden(1); }, 2000)) << "the deleted row is hidden once shown";
    for (int r : {0, 2, 3, 4, 5})
        EXPECT_FALSE(grid->isRowHidden(r)) << r;
    EXPECT_EQ(grid->model()->index(5, 0).data().toString(), "000000777");
}

// Text typed into the panel is written before the window hides to the tray (and comes back on
// the last row) and before the program ends; a value the row refuses stops both, with the
// error shown and the text kept.
TEST_F(MainWindow, PanelTextSurvivesTheTrayAndTheExitAndARefusedValueStopsBoth)
{
    struct Way {
        const char* name;
        std::function<void()> leave;
        std::function<bool()> left;
    };
    const QList<Way> ways = {
        {"to the tray and back",
         [] {
             Form1->TrayMessage(TrayIcon::kRightButtonDown);
             if (!Form1->isVisible())
                 Form1->TrayMessage(TrayIcon::kLeftButtonDown);
         },
         [] { return Form1->Table1->RecNo() == 5; }},
        {"exit", [] { Form1->closeProgram(); }, [] { return !Form1->isVisible(); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        if (!Form1->GroupBox1->isVisible())
            Form1->N9Click();
        Form1->Table1->SetRecNo(2);
        // Refused: 300 characters do not fit NUM.
        TDBEdit* num = Form1->editFor("NUM");
        num->setFocus();
        num->selectAll();
        const QString tooLong(300, u'7');
        QTest::keyClicks(num, tooLong);
        {
            ModalAnswer ok("OK");
            way.leave();
            EXPECT_TRUE(ok.answered());
            EXPECT_TRUE(ok.text().contains("NUM")) << ok.text().toStdString();
        }
        EXPECT_TRUE(Form1->isVisible());
        EXPECT_EQ(num->text(), tooLong);
        EXPECT_EQ(Form1->Table1->RecNo(), 2);
        // Taken back and replaced by a name: it is stored on the way out.
        QTest::keyClick(num, Qt::Key_Escape);
        TDBEdit* fio = Form1->editFor("FIO");
        fio->setFocus();
        fio->selectAll();
        apptest::typeText(fio, QStringLiteral("Сидоренко А.А."));
        way.leave();
        EXPECT_TRUE(way.left());
        EXPECT_EQ(stored(2, "FIO"), QStringLiteral("Сидоренко А.А."));
        EXPECT_EQ(stored(2, "NUM"), "000000002");
    }
}

// A lab PC runs unattended: while the table is away the error is shown once, and the import
// goes on by itself when the table is back, with nobody answering the box.
TEST_F(MainWindow, ImportResumesAfterATableOutageWhileTheErrorBoxIsStillOpen)
{
    const QString table = folder + "DB/HEMATIX.dbf";
    ASSERT_TRUE(QFile::rename(table, table + ".away"));
    dropCaptureFile("000000901");
    // The box runs its own event loop; what happens while it waits is watched from inside it.
    QMessageBox* box = nullptr;
    QString shown;
    int boxesSeen = 0;
    bool storedWhileOpen = false;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* open = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!open)
            return;
        if (open != box) {
            ++boxesSeen;
            box = open;
            shown = open->text();
            QFile::rename(table + ".away", table);
        }
        if (storedRows() == 6) {
            storedWhileOpen = true;
            open->done(0);
        }
    });
    watch.start();
    Form1->Timer1->setInterval(20);
    Form1->Timer1->start();
    EXPECT_TRUE(apptest::waitUntil([&] { return storedWhileOpen; }, 2500));
    Form1->Timer1->stop();
    EXPECT_EQ(boxesSeen, 1);
    EXPECT_TRUE(shown.contains("HEMATIX.dbf")) << shown.toStdString();
    EXPECT_EQ(stored(6, "NUM"), "000000901");
}

// "История записи" after the items of "Вид" shows the current row's origin and changes; a
// deleted row, which the grid hides, is reached by its number and brought back by "Восстановить".
TEST_F(MainWindow, HistoryWindowShowsOriginAndChangesAndRestoresADeletedRow)
{
    QStringList items;
    for (QAction* a : Form1->N8->actions())
        items << a->text();
    EXPECT_EQ(items, QStringList({"Панель", "Запрос", "История записи", "Нормы", "История пациента", "Найти", "Обновить"}));
    dropCaptureFile("000000777");
    Form1->Timer1Timer();
    Form1->Table1->SetRecNo(6);
    Form1->Table1->Edit();
    Form1->Table1->FieldByName("FIO")->SetAsString(QStringLiteral("Петров"));
    Form1->Table1->Post();

    Form1->N12->trigger();
    TForm8* w = Form1->historyWindow();
    ASSERT_TRUE(w && w->isVisible());
    EXPECT_EQ(w->Record(), 6);
    EXPECT_TRUE(w->OriginLabel->text().contains(QStringLiteral("Сообщение анализатора"))) << w->OriginLabel->text().toStdString();
    EXPECT_TRUE(w->OriginLabel->text().contains("000000777"));
    EXPECT_GT(w->TraceGrid->rowCount(), 20) << "the archived frames, the log having none";
    ASSERT_GE(w->ChangesGrid->rowCount(), 1);
    EXPECT_EQ(w->ChangesGrid->item(0, 3)->text(), QStringLiteral("FIO: «» → «Петров»"));
    EXPECT_EQ(w->ChangesGrid->item(0, 4)->text(), QStringLiteral("применено"));
    EXPECT_FALSE(w->RestoreButton->isEnabled());

    Form1->Table1->SetRecNo(2);
    Form1->Table1->Delete();
    w->RecordEdit->setValue(2);
    QTest::mouseClick(w->ShowButton, Qt::LeftButton);
    EXPECT_EQ(w->Record(), 2);
    ASSERT_TRUE(w->RestoreButton->isEnabled());
    QTest::mouseClick(w->RestoreButton, Qt::LeftButton);
    EXPECT_EQ(storedRows(), 6);
    EXPECT_FALSE(Form1->Table1->RecordDeleted(2));
    EXPECT_FALSE(Form1->DBGrid1->isRowHidden(1)) << "the row is shown again";
    EXPECT_EQ(w->ChangesGrid->item(0, 3)->text(), QStringLiteral("восстановлена"));
    EXPECT_FALSE(w->RestoreButton->isEnabled());
}

// At start the trail's last days are checked against the rows beside the window: a row another
// program changed is marked "!" in the indicator column, and its next edit names the field.
TEST_F(MainWindow, RowChangedByAnotherProgramIsMarkedAndItsNextEditSaysWhatChanged)
{
    {
        DbfFile other(folder + "DB/HEMATIX.dbf", DbfFile::Access::ReadWrite);
        QByteArray rec = other.readFresh(2);
        const DbfField& fio = other.fields()[size_t(other.fieldIndex("FIO"))];
        rec.replace(fio.offset, 5, QByteArray("Other"));
        other.write(2, rec);
    }
    Form1->startTrailCheck();
    auto indicator = [&](int row) {
        return Form1->DBGrid1->model()->headerData(row, Qt::Vertical, Qt::DisplayRole).toString();
    };
    ASSERT_TRUE(apptest::waitUntil([&] { return indicator(2).contains('!'); }));
    EXPECT_FALSE(indicator(1).contains('!'));
    EXPECT_TRUE(Form1->statusBar()->currentMessage().contains(QStringLiteral("вне Hematix")));

    Form1->Table1->SetRecNo(3);
    Form1->Table1->Edit();
    Form1->Table1->FieldByName("DOC")->SetAsString(QStringLiteral("Сидоров"));
    Form1->Table1->Post();
    const audit::RecordStory story = audit::storyOf(folder, 3);
    ASSERT_GE(story.history.size(), 2);
    const QJsonObject outside = story.history[story.history.size() - 3];
    EXPECT_EQ(outside.value("kind").toString(), "outside");
    EXPECT_TRUE(QJsonDocument(outside).toJson().contains("Other"));
}

// A value past its limits shows red with "↑" or blue with "↓" in the grid and the panel, while
// what is edited and stored stays the text itself; limits changed in "Нормы" apply at once.
TEST_F(MainWindow, ValuesPastTheirLimitsAreFlaggedAndTheLimitsWindowAppliesAtOnce)
{
    auto set = [&](int recNo, const char* field, const QString& value) {
        Form1->Table1->SetRecNo(recNo);
        Form1->Table1->Edit();
        Form1->Table1->FieldByName(field)->SetAsString(value);
        Form1->Table1->Post();
    };
    set(2, "WBC", "12.3|");
    set(3, "WBC", "3|1");
    set(4, "DOC", QStringLiteral("5 лет"));
    QAbstractItemModel* m = Form1->DBGrid1->model();
    auto cell = [&](int row, int role) { return m->data(m->index(row, 5), role); }; // WBC
    EXPECT_EQ(cell(1, Qt::DisplayRole).toString(), QStringLiteral("12.3|↑"));
    EXPECT_EQ(cell(1, Qt::EditRole).toString(), "12.3|");
    EXPECT_EQ(cell(1, Qt::ForegroundRole).value<QColor>(), TDataSetGridModel::flagColor(reading::Flag::High));
    EXPECT_EQ(cell(2, Qt::DisplayRole).toString(), QStringLiteral("3|1↓"));
    EXPECT_EQ(cell(2, Qt::ForegroundRole).value<QColor>(), TDataSetGridModel::flagColor(reading::Flag::Low));
    EXPECT_EQ(cell(0, Qt::DisplayRole).toString(), "7.5");
    EXPECT_FALSE(cell(0, Qt::ForegroundRole).isValid());

    Form1->N9Click();
    Form1->Table1->SetRecNo(2);
    TDBEdit* wbc = Form1->editFor("WBC");
    auto* mark = wbc->findChild<QLabel*>("Mark_WBC");
    EXPECT_EQ(wbc->text(), "12.3|");
    ASSERT_TRUE(mark && mark->isVisible());
    EXPECT_EQ(mark->text(), QStringLiteral("↑"));
    wbc->setFocus();
    wbc->selectAll();
    apptest::typeText(wbc, "8");
    EXPECT_FALSE(mark->isVisible());
    ASSERT_TRUE(Form1->writePendingEdits());
    EXPECT_EQ(stored(2, "WBC"), "8");

    // Children under 10 get a high WBC limit of 7: the five-year-old's 7.5 is flagged at once.
    QTimer::singleShot(0, [] {
        auto* w = qobject_cast<TRangesForm*>(QApplication::activeModalWidget());
        ASSERT_TRUE(w);
        w->ChildAge->setValue(10);
        w->Grid->item(0, 3)->setText("7");
        w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    Form1->N13->trigger();
    EXPECT_EQ(cell(3, Qt::DisplayRole).toString(), QStringLiteral("7.5↑"));
    EXPECT_EQ(cell(0, Qt::DisplayRole).toString(), "7.5");
    QStringList problems;
    const reading::ReferenceRanges saved = reading::ReferenceRanges::load(folder + "ranges.ini", &problems);
    EXPECT_EQ(saved, Form1->ranges());
    EXPECT_EQ(saved.childUnderYears(), 10);
}

// Ctrl+F finds part of a number or a name from the current row, round the end, backward with
// Shift+Enter, saying so in the bar; Ctrl+H lists the current patient's rows; F5 shows rows
// another program stored; each writes what is typed first.
TEST_F(MainWindow, FindBarPatientHistoryAndRefreshByTheirShortcuts)
{
    EXPECT_EQ(Form1->N5->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
    for (int r : {2, 4}) {
        Form1->Table1->SetRecNo(r);
        Form1->Table1->Edit();
        Form1->Table1->FieldByName("FIO")->SetAsString(r == 2 ? QStringLiteral("Иванов Пётр") : QStringLiteral("ИВАНОВ петр"));
        Form1->Table1->Post();
    }
    Form1->Table1->SetRecNo(3);
    Form1->Table1->Edit();
    Form1->Table1->FieldByName("COMMENT")->SetAsString(QStringLiteral("typed"));
    QTest::keyClick(Form1->DBGrid1, Qt::Key_F, Qt::ControlModifier);
    TFindBar* bar = Form1->findBar();
    ASSERT_TRUE(bar->isVisible());
    const struct {
        const char* text;
        Qt::KeyboardModifiers keys;
        int record;
        const char* said;
    } steps[] = {
        {"иванов", {}, 4, ""},
        {"иванов", {}, 2, "продолжено сначала"},
        {"иванов", Qt::ShiftModifier, 4, "продолжено сначала"},
        {"0003", {}, 3, "продолжено сначала"},
        {"Сидоров", {}, 3, "не найдено"},
    };
    for (const auto& st : steps) {
        SCOPED_TRACE(st.text);
        bar->edit()->setText(QString::fromUtf8(st.text));
        QTest::keyClick(bar->edit(), Qt::Key_Return, st.keys);
        EXPECT_EQ(Form1->Table1->RecNo(), st.record);
        EXPECT_EQ(bar->message()->text(), QString::fromUtf8(st.said));
    }
    EXPECT_EQ(stored(3, "COMMENT"), "typed");

    Form1->Table1->SetRecNo(4);
    QTest::keyClick(Form1->DBGrid1, Qt::Key_H, Qt::ControlModifier);
    ASSERT_TRUE(Form1->patientWindow());
    EXPECT_EQ(Form1->patientWindow()->Grid->rowCount(), 2);

    addRows(1, 6);
    QTest::keyClick(Form1->DBGrid1, Qt::Key_F5);
    EXPECT_EQ(Form1->Table1->RecordCount(), 6);
}
