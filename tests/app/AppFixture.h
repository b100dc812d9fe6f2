#pragma once
// A program folder of its own for each test, the seven windows created on it, and helpers that
// answer the modal boxes the windows open.
#include "app/Forms.h"
#include "app/Startup.h"
#include "app/Unit1.h"
#include "report/pages/RpPrinter.h"
#include "report/preview/RpStandardPreview.h"
#include "engine/DataSet.h"
#include "store/ResultTable.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <functional>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace apptest {

// Runs the event loop until cond holds or ms have passed.
inline bool waitUntil(const std::function<bool()>& cond, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Types text into w as key presses carrying the characters (Cyrillic included).
inline void typeText(QWidget* w, const QString& text)
{
    for (QChar c : text) {
        // After the first key a grid has opened its cell editor, which then has the focus.
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : w;
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &release);
    }
}

// Gives start the focus, then presses Tab count - 1 times: the widgets that held the focus, in
// turn. A focus held inside a compound control (a combo box's line edit) counts as that control.
inline std::vector<QWidget*> focusOrderByTab(QWidget* start, int count)
{
    start->setFocus(Qt::TabFocusReason);
    std::vector<QWidget*> order;
    auto owner = [start](QWidget* w) {
        QWidget* top = start->window();
        while (w && w->parentWidget() && w->parentWidget() != top && !w->parentWidget()->inherits("QGroupBox"))
            w = w->parentWidget();
        return w;
    };
    for (int i = 0; i < count; ++i) {
        QCoreApplication::processEvents();
        QWidget* f = QApplication::focusWidget();
        order.push_back(owner(f));
        if (i + 1 < count && f)
            QTest::keyClick(f, Qt::Key_Tab);
    }
    return order;
}

// Answers the next modal box by pressing the button with that text; remembers its text.
class ModalAnswer {
public:
    explicit ModalAnswer(QString button) : button_(std::move(button))
    {
        poll_.setInterval(10);
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            QWidget* w = QApplication::activeModalWidget();
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box)
                return;
            text_ = box->text();
            title_ = box->windowTitle();
            for (QAbstractButton* b : box->buttons())
                if (b->text() == button_) {
                    poll_.stop();
                    b->click();
                    return;
                }
        });
        poll_.start();
    }
    const QString& text() const { return text_; }
    const QString& title() const { return title_; }
    bool answered() const { return !poll_.isActive(); }

private:
    QString button_;
    QString text_;
    QString title_;
    QTimer poll_;
};

struct AppFixture : ::testing::Test {
    QTemporaryDir dir;
    QString folder;
    // A box that nobody answers would hang the test: it is closed and counted as a failure.
    QTimer watchdog;
    QString lastBox;
    int boxSeenTicks = 0;

    void SetUp() override
    {
        watchdog.setInterval(100);
        QObject::connect(&watchdog, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                boxSeenTicks = 0;
                return;
            }
            if (++boxSeenTicks < 30)
                return;
            ADD_FAILURE() << "unanswered box: " << box->text().toStdString();
            boxSeenTicks = 0;
            box->done(0);
        });
        watchdog.start();
        folder = dir.path() + "/";
        QDir(folder).mkpath("Temp");
        startup::setExecutablePathForTesting(folder + "hematix");
    }
    void TearDown() override
    {
        forms::destroyAll();
        startup::setExecutablePathForTesting({});
    }
    void makeTable() { resulttable::create(folder); }
    // Appends rows through the engine as the import would, numbered 1, 2, ...
    void addRows(int n, int first = 1)
    {
        TQuery q;
        q.SetName("Q");
        for (int i = first; i < first + n; ++i) {
            q.SQL.clear();
            q.SQL << QStringLiteral("INSERT INTO \"%1DB/HEMATIX.dbf\" (DAT,TIM,NUM,FIO,WBC) VALUES (\"06/05/2023\",\"14:03:07\",\"%2\",\"\",\"7.5\")")
                         .arg(folder)
                         .arg(i, 9, 10, QLatin1Char('0'));
            q.ExecSQL();
        }
    }
    void writeIni(const QByteArray& text) { testsupport::writeFile(folder + "set.ini", text); }
    void start() { forms::createAll(); }
};

} // namespace apptest

namespace apptest {

// Closes every preview window as soon as it has finished its run, noting its page count, so that
// a command that waits for its preview to close returns.
class PreviewCloser {
public:
    PreviewCloser()
    {
        poll_.setInterval(10);
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* preview = qobject_cast<TRpStandardPreview*>(w);
                if (!preview || !preview->isVisible() || !preview->Recorder()
                    || preview->Recorder()->Status() != TRpPrinterStatus::Finished)
                    continue;
                pages.push_back(preview->Recorder()->PageCount());
                preview->close();
            }
        });
        poll_.start();
    }
    std::vector<int> pages;

private:
    QTimer poll_;
};

} // namespace apptest
