#include "AppFixture.h"

#include "app/Unit2.h"
#include "app/Unit4.h"
#include "app/Unit5.h"
#include "app/Unit6.h"
#include "app/Unit9.h"
#include "app/DBGrid.h"
#include "platform/tray/TrayIcon.h"

#include <QAreaSeries>
#include <QButtonGroup>
#include <QLabel>
#include <QLineSeries>
#include <QSignalSpy>
#include <QTableWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using apptest::AppFixture;
using apptest::ModalAnswer;

namespace {

struct Dialogs : AppFixture {
    void SetUp() override
    {
        AppFixture::SetUp();
        makeTable();
    }
    // Runs dialog modally, calling during() once it is up, then closing it if still open.
    void runModal(QDialog* dialog, const std::function<void()>& during)
    {
        QTimer::singleShot(0, dialog, [dialog, during] {
            during();
            if (dialog->isVisible())
                dialog->reject();
        });
        dialog->exec();
    }
};

} // namespace

TEST_F(Dialogs, SettingsWithoutFileShowErrorAndSaveWritesFourKeysAsTyped)
{
    start();
    bool stillOpenAfterSave = false;
    runModal(Form2, [&] {
        EXPECT_EQ(Form2->windowTitle(), "Settings");
        // Sized again once the frame is known.
        apptest::waitUntil([] { return Form2->frameGeometry().size() == QSize(556, 220); }, 2000);
        EXPECT_EQ(Form2->frameGeometry().size(), QSize(556, 220)) << "the size includes the frame";
        EXPECT_EQ(Form2->ComboBox1->currentText(), "ERROR");
        EXPECT_EQ(Form2->ComboBox2->currentText(), "ERROR");
        EXPECT_EQ(Form2->Edit1->text(), "ERROR");
        EXPECT_EQ(Form2->Edit2->text(), folder);
        Form2->ComboBox1->setEditText("COM7");
        Form2->ComboBox2->setEditText("fast");
        QTest::mouseClick(Form2->Button1, Qt::LeftButton);
        stillOpenAfterSave = Form2->isVisible();
        QTest::mouseClick(Form2->Button2, Qt::LeftButton);
    });
    EXPECT_TRUE(stillOpenAfterSave);
    EXPECT_FALSE(Form2->isVisible());
    EXPECT_EQ(testsupport::readFile(folder + "set.ini"),
              "[MAIN]\nPort=COM7\nRate=fast\nPath1=ERROR\nPath2=" + folder.toUtf8() + "\n");
    EXPECT_EQ(Form1->PortName, "ERROR") << "Start keeps using the port read at start-up";
    runModal(Form2, [&] { EXPECT_EQ(Form2->ComboBox1->currentText(), "ERROR") << "reopening shows the start-up values"; });
}

TEST_F(Dialogs, SettingsCancelWritesNothingAndKeyboardOrderIsAsLaidOut)
{
    start();
    runModal(Form2, [&] {
        Form2->ComboBox1->setEditText("COM3");
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form2));
        EXPECT_EQ(apptest::focusOrderByTab(Form2->ComboBox1, 7),
                  (std::vector<QWidget*>{Form2->ComboBox1, Form2->ComboBox2, Form2->Edit1, Form2->Edit2, Form2->Button1,
                                         Form2->Button2, Form2->ComboBox1}));
        QTest::mouseClick(Form2->Button2, Qt::LeftButton);
    });
    EXPECT_FALSE(QFile::exists(folder + "set.ini"));
}

TEST_F(Dialogs, PeriodQueryTabGoesDateDateOkCloseWithoutStoppingAtDateSections)
{
    start();
    runModal(Form6, [&] {
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form6));
        EXPECT_EQ(apptest::focusOrderByTab(Form6->DateTimePicker1, 5),
                  (std::vector<QWidget*>{Form6->DateTimePicker1, Form6->DateTimePicker2, Form6->Button1, Form6->Button2,
                                         Form6->DateTimePicker1}));
    });
}

TEST_F(Dialogs, ExitDialogChoicesAreRememberedAndActed)
{
    start();
    Form1->show();
    TrayIcon::setTrayAvailableForTesting(1);
    EXPECT_EQ(Form4->ItemIndex(), TForm4::HideToTray);
    // Nothing: only the dialog closes.
    runModal(Form4, [&] {
        Form4->SetItemIndex(TForm4::Nothing);
        QTest::mouseClick(Form4->Button1, Qt::LeftButton);
    });
    EXPECT_TRUE(Form1->isVisible());
    // The choice survives to the next opening; hiding leaves the window gone, receiving goes on.
    runModal(Form4, [&] {
        EXPECT_EQ(Form4->ItemIndex(), TForm4::Nothing);
        Form4->SetItemIndex(TForm4::HideToTray);
        QTest::mouseClick(Form4->Button1, Qt::LeftButton);
    });
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_FALSE(Form4->isVisible());
    EXPECT_TRUE(Form1->tray()->added());
    TrayIcon::setTrayAvailableForTesting(-1);
}

TEST_F(Dialogs, HidingWithoutATrayMinimisesSoTheWindowCanComeBack)
{
    start();
    Form1->show();
    TrayIcon::setTrayAvailableForTesting(0);
    runModal(Form4, [&] {
        Form4->SetItemIndex(TForm4::HideToTray);
        QTest::mouseClick(Form4->Button1, Qt::LeftButton);
    });
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_TRUE(Form1->isMinimized());
    TrayIcon::setTrayAvailableForTesting(-1);
}

TEST_F(Dialogs, ExitDialogCloseEndsTheProgramAndRemovesTheIcon)
{
    start();
    Form1->show();
    runModal(Form4, [&] {
        Form4->SetItemIndex(TForm4::Close);
        QTest::mouseClick(Form4->Button1, Qt::LeftButton);
    });
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_FALSE(Form1->tray()->added());
    EXPECT_FALSE(Form1->Timer1->isActive());
}

TEST_F(Dialogs, TrayMessagesShowHideOrDoNothing)
{
    start();
    Form1->show();
    Form1->Table1->First();
    TrayIcon* tray = Form1->tray();
    ASSERT_TRUE(tray);
    EXPECT_EQ(tray->callbackMessage(), 1025);
    EXPECT_EQ(tray->tip(), "Hematix");
    emit tray->message(TrayIcon::kRightButtonDown);
    EXPECT_FALSE(Form1->isVisible());
    emit tray->message(TrayIcon::kRightButtonDown);
    EXPECT_FALSE(Form1->isVisible()) << "a right press on a hidden window changes nothing";
    emit tray->message(TrayIcon::kMiddleButtonDown);
    emit tray->message(512);
    EXPECT_FALSE(Form1->isVisible());
    addRows(2);
    Form1->Table1->Refresh();
    emit tray->message(TrayIcon::kLeftButtonDown);
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_EQ(Form1->Table1->RecNo(), 2) << "coming back from the tray selects the last row";
    Form1->Table1->First();
    emit tray->message(TrayIcon::kLeftButtonDown);
    EXPECT_EQ(Form1->Table1->RecNo(), 1) << "a visible window is only brought to the front";
    emit tray->message(TrayIcon::kLeftButtonDoubleClick);
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_EQ(TrayIcon::mouseMessageFor(QSystemTrayIcon::Trigger), 513);
    EXPECT_EQ(TrayIcon::mouseMessageFor(QSystemTrayIcon::Context), 516);
    EXPECT_EQ(TrayIcon::mouseMessageFor(QSystemTrayIcon::DoubleClick), 515);
}

TEST(TrayIconRecord, TipIsTheTitleCutTo63Characters)
{
    QWidget w;
    const QString title(100, u'x');
    TrayIcon icon(&w, QIcon(), title);
    EXPECT_EQ(icon.tip(), QString(63, u'x'));
    EXPECT_EQ(TrayIcon::kRecordSize, 88);
    EXPECT_EQ(TrayIcon::kFlags, 7);
}

TEST_F(Dialogs, AboutBoxShowsNineCentredLinesAndForgetsTyping)
{
    start();
    runModal(Form5, [&] {
        EXPECT_EQ(Form5->windowTitle(), QStringLiteral("О программе"));
        EXPECT_EQ(Form5->Memo1->toPlainText().split('\n').size(), 9);
        EXPECT_EQ(Form5->Memo1->toPlainText().split('\n').count(QString()), 1);
        apptest::typeText(Form5->Memo1, "typed");
    });
    runModal(Form5, [&] { EXPECT_FALSE(Form5->Memo1->toPlainText().contains("typed")); });
}

TEST_F(Dialogs, PeriodQueryBuildsTheStatementsAndHeadings)
{
    addRows(2);
    start();
    apptest::PreviewCloser previews; // "OK" returns when its preview closes
    EXPECT_EQ(Form6->windowTitle(), QStringLiteral("Запрос"));
    Form6->DateTimePicker1->setDate(QDate(2016, 3, 1));
    Form6->DateTimePicker2->setDate(QDate(2016, 3, 1));
    Form6->Button1Click();
    EXPECT_EQ(Form6->Query1->SQL.join('\n'), "SELECT * FROM \"" + folder + "DB/HEMATIX.dbf\" WHERE DAT = \"3/1/2016\"");
    EXPECT_TRUE(Form6->RpLabel3.isEmpty());
    EXPECT_TRUE(Form6->RpLabel4.isEmpty());
    EXPECT_TRUE(Form6->Query1->Active());
    EXPECT_EQ(Form6->Query1->RecordCount(), 0);

    Form6->DateTimePicker1->setDate(QDate(2016, 2, 5));
    Form6->DateTimePicker2->setDate(QDate(2016, 3, 12));
    Form6->Button1Click();
    EXPECT_EQ(Form6->Query1->SQL.join('\n'),
              "SELECT * FROM \"" + folder + "DB/HEMATIX.dbf\" WHERE DAT BETWEEN \"2/5/2016\" AND \"3/12/2016\"");
    EXPECT_EQ(Form6->RpLabel3, " - ");
    EXPECT_FALSE(Form6->RpLabel4.isEmpty());

    // The imported rows are of 5 June 2023; a range the wrong way round finds nothing.
    Form6->DateTimePicker1->setDate(QDate(2023, 6, 5));
    Form6->DateTimePicker2->setDate(QDate(2023, 6, 5));
    Form6->Button1Click();
    EXPECT_EQ(Form6->Query1->RecordCount(), 2);
    Form6->DateTimePicker1->setDate(QDate(2023, 6, 6));
    Form6->DateTimePicker2->setDate(QDate(2023, 6, 1));
    Form6->Button1Click();
    EXPECT_EQ(Form6->Query1->RecordCount(), 0);

    runModal(Form6, [&] { EXPECT_EQ(Form6->DateTimePicker1->date(), QDate(2023, 6, 6)) << "dates kept on reopening"; });
}

TEST_F(Dialogs, PeriodQueryEngineErrorIsShownAndHeadingsStay)
{
    start();
    QFile::remove(folder + "DB/HEMATIX.dbf");
    Form6->DateTimePicker1->setDate(QDate(2016, 3, 1));
    Form6->DateTimePicker2->setDate(QDate(2016, 3, 1));
    ModalAnswer ok("OK");
    runModal(Form6, [&] { QTest::mouseClick(Form6->Button1, Qt::LeftButton); });
    EXPECT_TRUE(ok.answered());
    EXPECT_FALSE(ok.text().isEmpty());
    EXPECT_FALSE(Form6->RpLabel2.isEmpty());
}

TEST_F(Dialogs, PatientHistoryListsNewestFirstFlagsMarksChartsAndSaysWhenTheRowHasNoName)
{
    // The default limits: HGB 120–170, a change by more than 20% within 7 days marked.
    auto row = [](int record, QDate date, const char* hgb) {
        return reading::HistoryRow{record, date, "09:30:00", QString::number(record + 100), QStringLiteral("45 лет"), {QString(), QString(), hgb}};
    };
    const QList<reading::HistoryRow> rows = {row(1, QDate(2024, 3, 1), "150|"), row(3, QDate(2024, 3, 5), "-----"),
                                             row(2, QDate(2024, 3, 4), "110|")};
    auto w = std::make_unique<TForm9>(reading::ReferenceRanges::defaults(), nullptr);
    w->show();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("История пациента"));
    w->showRows(QStringLiteral("Иванов И.И."), rows);
    ASSERT_EQ(w->Grid->rowCount(), 3);
    auto text = [&](int r, int c) { return w->Grid->item(r, c)->text(); };
    EXPECT_EQ(QStringList({text(0, 0), text(0, 1), text(0, 2), text(0, 3), text(0, 6)}),
              QStringList({"05.03.2024", "09:30:00", "103", QStringLiteral("45 лет"), "-----"}));
    EXPECT_EQ(text(1, 6), QStringLiteral("110|↓ Δ"));
    EXPECT_EQ(w->Grid->item(1, 6)->foreground().color(), TDataSetGridModel::flagColor(reading::Flag::Low));
    EXPECT_TRUE(w->Grid->item(1, 6)->font().bold());
    EXPECT_TRUE(w->Grid->item(1, 6)->toolTip().contains(QStringLiteral("−27% за 3 дн."))) << w->Grid->item(1, 6)->toolTip().toStdString();
    EXPECT_EQ(text(2, 6), "150|");
    EXPECT_FALSE(w->Grid->item(2, 6)->font().bold());

    // The chart: the two numbers of HGB over its band; a point under the mouse is named.
    EXPECT_EQ(w->ValueBox->currentText(), "HGB");
    EXPECT_EQ(w->ValueSeries->count(), 2);
    EXPECT_TRUE(w->Band->isVisible());
    emit w->ValueSeries->hovered(w->ValueSeries->at(1), true);
    EXPECT_TRUE(w->PointLabel->text().startsWith(QStringLiteral("04.03.2024 09:30, проба 102"))) << w->PointLabel->text().toStdString();
    QSignalSpy chosen(w.get(), &TForm9::recordChosen);
    emit w->Grid->cellDoubleClicked(1, 3);
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen[0][0].toInt(), 2);

    // One row: one point. The value chosen stays when the window is closed and opened again.
    w->ValueBox->setCurrentIndex(0);
    w->showRows(QStringLiteral("Иванов И.И."), {row(4, QDate(2024, 3, 6), "150")});
    w->ValueBox->setCurrentIndex(2);
    EXPECT_EQ(w->ValueSeries->count(), 1);
    w->ValueBox->setCurrentIndex(0);
    w = std::make_unique<TForm9>(reading::ReferenceRanges::defaults(), nullptr);
    EXPECT_EQ(w->ValueBox->currentText(), "WBC");
    w->ValueBox->setCurrentIndex(2);

    w->showRows("  ", rows);
    EXPECT_EQ(w->NameLabel->text(), QStringLiteral("У записи нет ФИО пациента"));
    EXPECT_EQ(w->Grid->rowCount(), 0);
    EXPECT_EQ(w->ValueSeries->count(), 0);
}
