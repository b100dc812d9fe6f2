// Pictures of the windows for a person to look at: run with HEMATIX_SCREENSHOTS=<folder>, under
// Xvfb (1280x1024, with a window manager such as openbox) with QT_QPA_PLATFORM=xcb for the real
// window system. Skipped otherwise.
#include "AppFixture.h"

#include "app/Application.h"
#include "app/Unit2.h"
#include "app/Unit4.h"
#include "app/Unit5.h"
#include "app/Unit6.h"
#include "app/Unit8.h"
#include "app/FindBar.h"
#include <QLineEdit>
#include "app/Unit9.h"
#include "link/AstmFrame.h"
#include "link/FrameReceiver.h"
#include "link/LineLog.h"
#include "link/sim/AnalyserSimulator.h"
#include "link/MessageImport.h"

#include <QLineSeries>
#include <QScreen>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

using apptest::AppFixture;

namespace {
void save(QWidget* w, const QString& file, bool wholeScreen = false)
{
    QTest::qWait(300);
    QPixmap shot = wholeScreen && w->screen() ? w->screen()->grabWindow(0) : QPixmap();
    if (shot.isNull() || QGuiApplication::platformName() == "offscreen")
        shot = w->grab();
    ASSERT_TRUE(shot.save(qEnvironmentVariable("HEMATIX_SCREENSHOTS") + "/" + file));
}
} // namespace

TEST_F(AppFixture, Screenshots)
{
    if (qEnvironmentVariableIsEmpty("HEMATIX_SCREENSHOTS"))
        GTEST_SKIP() << "set HEMATIX_SCREENSHOTS to a folder to take pictures of the windows";
    hematix::setUpApplication();
    makeTable();
    start();
    // Fifty messages imported the way the program imports them.
    sim::MessageGenerator gen(3, QDateTime(QDate(2026, 12, 7), QTime(8, 30, 0)));
    for (int i = 0; i < 50; ++i) {
        QByteArray wire = sim::wireBytes(gen.next());
        wire.chop(1);
        testsupport::writeFile(folder + "Temp/Temp.log", wire);
        Form1->import()->tick();
    }
    Form1->showMaximized();
    Form1->N9Click();
    Form1->Table1->SetRecNo(47);
    save(Form1, "main-window.png", true);
    for (QDialog* d : std::initializer_list<QDialog*>{Form2, Form4, Form5, Form6}) {
        QTimer::singleShot(0, d, [d] {
            save(d, d->objectName() + ".png", true); // with the frame a window manager draws
            d->done(0);
        });
        d->exec();
    }

    // Values past their limits in the grid and the panel, and the limits window.
    auto set = [&](int recNo, const char* field, const QString& value) {
        Form1->Table1->SetRecNo(recNo);
        Form1->Table1->Edit();
        Form1->Table1->FieldByName(field)->SetAsString(value);
        Form1->Table1->Post();
    };
    set(44, "HGB", "98|");
    set(45, "WBC", "14.2|");
    set(45, "PLT", "512|");
    set(46, "DOC", QStringLiteral("45 лет"));
    set(46, "MCV", "104|");
    set(46, "HCT", "31.2|");
    Form1->Table1->SetRecNo(46);
    save(Form1, "main-window-flags.png", true);
    // The find bar: a match found round the end.
    Form1->N15Click();
    Form1->findBar()->edit()->setText(QStringLiteral("45"));
    Form1->findBar()->findNext(false);
    save(Form1, "main-window-find.png", true);
    Form1->findBar()->hide();
    QTimer::singleShot(0, Form1, [] {
        QWidget* w = QApplication::activeModalWidget();
        ASSERT_TRUE(w);
        save(w, "ranges.png", true);
        w->close();
    });
    Form1->N13Click();

    // A patient's history: a fall in HGB past its delta limit, values past their limits, one row
    // without an HGB, and the point under the mouse named.
    {
        TForm9 patient(Form1->ranges(), Form1);
        QList<reading::HistoryRow> rows;
        // Record, day of 2026, time, then WBC, HGB, PLT, MCV.
        for (const QStringList& r : {QStringList{"12", "275", "08:41:10", "6.2|", "138|", "251|", "88.4|"},
                                     {"19", "293", "09:05:44", "7.9|", "131|", "240|", "88.9|"},
                                     {"27", "313", "08:15:02", "11.8|", "126|", "198|", "87.6|"},
                                     {"33", "334", "10:22:31", "9.4|", "-----", "176|", "-----"},
                                     {"41", "337", "08:37:19", "12.6|", "118|", "142|", "86.9|"},
                                     {"48", "340", "08:52:07", "14.2|", "92|", "131|", "86.1|"}}) {
            reading::HistoryRow h{r[0].toInt(), QDate(2025, 12, 31).addDays(r[1].toInt()), r[2],
                                  QStringLiteral("%1").arg(r[0].toInt() + 1200, 9, 10, QLatin1Char('0')), QStringLiteral("67 лет"), {}};
            h.values = {r[3], {}, r[4], {}, r[5], {}, {}, {}, {}, {}, {}, r[6]};
            rows << h;
        }
        patient.show();
        patient.showRows(QStringLiteral("Петрова А.С."), rows);
        patient.setScanning(60);
        emit patient.ValueSeries->hovered(patient.ValueSeries->at(patient.ValueSeries->count() - 1), true);
        save(&patient, "Form9.png", true);
    }

    // A row received over the line as the program wires it (a frame split over reads, one damaged
    // and sent again, one repeated after a lost ACK), then edited, in the history window.
    {
        LineLog log(folder);
        FrameReceiver receiver(folder, [&] { log.record(LineLog::Direction::Out, "\x06", 1); });
        auto receive = [&](const QByteArray& bytes) {
            log.record(LineLog::Direction::In, bytes.constData(), int(bytes.size()));
            receiver.receive(bytes);
        };
        const QByteArray wire = sim::wireBytes(gen.next());
        receive(wire.left(1));
        for (qsizetype at = 1, next; at < wire.size() - 1; at = next) {
            next = wire.indexOf(astm::STX, at + 1);
            next = next < 0 ? wire.size() - 1 : next;
            const QByteArray frame = wire.mid(at, next - at);
            if (at == 1) {
                receive(frame.left(7));
                receive(frame.mid(7));
                continue;
            }
            if (frame.contains("^^^Hgb")) {
                QByteArray damaged = frame;
                damaged[10] = char(damaged[10] ^ 0x20);
                receive(damaged);
            }
            receive(frame);
            if (frame.contains("^^^Plt"))
                receive(frame);
        }
        receive(wire.right(1));
        Form1->import()->tick();
    }
    Form1->Table1->Last();
    Form1->Table1->Edit();
    Form1->Table1->FieldByName("FIO")->SetAsString(QStringLiteral("Петрова А.С."));
    Form1->Table1->Post();
    Form1->N12Click();
    TForm8* history = Form1->historyWindow();
    ASSERT_TRUE(history);
    QTest::qWait(300);
    history->TraceGrid->scrollToItem(history->TraceGrid->findItems(QStringLiteral("НЕВЕРНАЯ"), Qt::MatchContains).value(0),
                                     QAbstractItemView::PositionAtCenter);
    save(history, "Form8.png", true);
    history->Tabs->setCurrentIndex(1);
    save(history, "Form8-day.png", true);
    // A deleted row, reached by its number: its capture is older than the times, so the archived
    // frames stand in for the line log.
    Form1->Table1->SetRecNo(3);
    Form1->Table1->Delete();
    history->Tabs->setCurrentIndex(0);
    history->ShowRecord(3);
    save(history, "Form8-deleted.png", true);
}
