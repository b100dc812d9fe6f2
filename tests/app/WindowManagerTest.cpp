// The windows as a window manager shows them: captions read back from the window system, frame
// sizes from the frame the manager draws, keyboard order by keys the window system delivers.
// Each test starts its own display (Xvfb) with openbox managing it and runs itself again there.
#include "AppFixture.h"

#include "app/Application.h"
#include "app/DBEdit.h"
#include "app/DBNavigator.h"
#include "app/ErrorBox.h"
#include "app/Unit2.h"
#include "app/Unit4.h"
#include "app/Unit5.h"
#include "app/Unit6.h"

#include <QDateEdit>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <optional>

using apptest::AppFixture;

namespace {

bool insideWindowManager() { return !qEnvironmentVariableIsEmpty("HEMATIX_WM_CHILD"); }

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C.UTF-8");
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Starts a display of 1280 x 1024 with openbox on it and runs the named test there. Returns why
// it could not, or nothing when the child ran (its result is reported as this test's).
std::optional<QString> runUnderWindowManager(const char* test)
{
    for (const char* tool : {"Xvfb", "openbox", "xprop", "xwininfo", "xdotool"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return QStringLiteral("%1 is needed to run the windows under a window manager").arg(tool);
    // A display number of our own: one without a lock, on which our Xvfb stays up and answers.
    QProcess xvfb;
    QString display;
    // A number not used before by this process either: a display just ended may linger.
    static int used = 0;
    for (int n = 300 + int(QCoreApplication::applicationPid() % 600) + 20 * used++, tries = 0;
         display.isEmpty() && tries < 20; ++n, ++tries) {
        if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            continue;
        const QString candidate = QStringLiteral(":%1").arg(n);
        xvfb.start("Xvfb", {candidate, "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"});
        if (!xvfb.waitForStarted())
            return QStringLiteral("Xvfb did not start");
        const bool answers = apptest::waitUntil([&] {
            return xvfb.state() != QProcess::Running
                || QProcess::execute("xwininfo", {"-display", candidate, "-root"}) == 0;
        }, 10000);
        if (answers && xvfb.state() == QProcess::Running)
            display = candidate;
        else {
            xvfb.kill();
            xvfb.waitForFinished();
        }
    }
    if (display.isEmpty())
        return QStringLiteral("no display of our own could be started");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    qputenv("DISPLAY", display.toUtf8());
    QProcess wm;
    wm.setProcessEnvironment(env);
    wm.setProcessChannelMode(QProcess::MergedChannels);
    wm.start("openbox", {"--sm-disable"});
    const bool managed = wm.waitForStarted() && apptest::waitUntil([] {
        return run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id");
    }, 30000);
    QProcess child;
    QByteArray out;
    bool finished = false;
    if (managed) {
        env.insert("HEMATIX_WM_CHILD", "1");
        env.insert("QT_QPA_PLATFORM", "xcb");
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=%1").arg(test)});
        finished = child.waitForFinished(120000);
        out = child.readAll();
    }
    const QByteArray wmSaid = wm.state() == QProcess::Running ? QByteArray("still running") : wm.readAll();
    // Ended politely, so that the display's lock and socket go with it.
    wm.terminate();
    wm.waitForFinished(3000);
    xvfb.terminate();
    if (!xvfb.waitForFinished(3000))
        xvfb.kill();
    wm.kill();
    wm.waitForFinished();
    xvfb.waitForFinished();
    EXPECT_TRUE(managed) << "openbox did not take the display " << display.toStdString() << " (exit "
                         << wm.exitCode() << "): " << wmSaid.toStdString();
    EXPECT_TRUE(finished) << out.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_FALSE(out.contains("[  SKIPPED ]")) << out.toStdString();
    return std::nullopt;
}

// What the window system holds for a window: its caption, its frame, its client area.
QString caption(QWidget* w)
{
    const QString line = run("xprop", {"-id", QString::number(w->winId()), "-notype", "_NET_WM_NAME"});
    const qsizetype open = line.indexOf('"');
    return open < 0 ? line.trimmed() : line.mid(open + 1, line.lastIndexOf('"') - open - 1);
}

QMargins frameExtents(QWidget* w)
{
    const QString line = run("xprop", {"-id", QString::number(w->winId()), "-notype", "_NET_FRAME_EXTENTS"});
    const QStringList v = line.section('=', 1).split(',', Qt::SkipEmptyParts);
    if (v.size() != 4)
        return {};
    return QMargins(v[0].trimmed().toInt(), v[2].trimmed().toInt(), v[1].trimmed().toInt(), v[3].trimmed().toInt());
}

QRect clientArea(QWidget* w)
{
    const QString info = run("xwininfo", {"-id", QString::number(w->winId())});
    auto value = [&](const char* name) {
        const QRegularExpression re(QStringLiteral("%1:\\s*(-?\\d+)").arg(QLatin1String(name)));
        return re.match(info).captured(1).toInt();
    };
    return QRect(value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height"));
}

bool shownAndFramed(QWidget* w)
{
    return QTest::qWaitForWindowExposed(w)
        && apptest::waitUntil([w] { return !frameExtents(w).isNull(); }, 5000);
}

void key(const char* name)
{
    QProcess::execute("xdotool", {"key", "--clearmodifiers", name});
}

// Presses Tab count - 1 times from start and gives the controls that held the focus in turn.
std::vector<QWidget*> focusOrderByKeys(QWidget* start, int count)
{
    start->setFocus(Qt::TabFocusReason);
    std::vector<QWidget*> order;
    for (int i = 0; i < count; ++i) {
        QWidget* f = QApplication::focusWidget();
        // A combo box's or a date picker's inner line edit stands for its control.
        QWidget* owner = f;
        while (owner && owner->parentWidget() && owner->parentWidget() != start->window()
               && !owner->parentWidget()->inherits("QGroupBox"))
            owner = owner->parentWidget();
        order.push_back(owner);
        if (i + 1 < count) {
            key("Tab");
            apptest::waitUntil([f] { return QApplication::focusWidget() != f; }, 2000);
        }
    }
    return order;
}

struct WindowManager : AppFixture {
    void SetUp() override
    {
        AppFixture::SetUp();
        if (!insideWindowManager())
            return;
        hematix::setUpApplication();
        makeTable();
        addRows(50);
        start();
        Form1->showMaximized();
        ASSERT_TRUE(shownAndFramed(Form1));
    }
    void TearDown() override
    {
        if (insideWindowManager() && Form1)
            Form1->closeProgram();
        AppFixture::TearDown();
    }
};

#define RUN_UNDER_WINDOW_MANAGER(name)                                                                  \
    if (!insideWindowManager()) {                                                                       \
        if (const auto why = runUnderWindowManager("WindowManager." name))                              \
            GTEST_SKIP() << why->toStdString();                                                         \
        return;                                                                                         \
    }

} // namespace

TEST_F(WindowManager, CaptionsAreTheWindowsOwn)
{
    RUN_UNDER_WINDOW_MANAGER("CaptionsAreTheWindowsOwn");
    EXPECT_EQ(caption(Form1), "Hematix");
    const std::pair<QWidget*, QString> dialogs[] = {
        {Form2, "Settings"}, {Form4, QStringLiteral("Выход")}, {Form5, QStringLiteral("О программе")},
        {Form6, QStringLiteral("Запрос")}};
    for (const auto& [dialog, expected] : dialogs) {
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        EXPECT_EQ(caption(dialog), expected);
        dialog->hide();
    }
    // The standard boxes: the error box carries the application title, the question its caption.
    QStringList seen;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || !box->windowHandle() || !box->windowHandle()->isExposed())
            return;
        seen << caption(box);
        box->done(0);
    });
    poll.start();
    ui::showError(QStringLiteral("Ошибка"));
    ui::confirm(QStringLiteral("Delete record?"));
    EXPECT_EQ(seen, QStringList({"Hematix", "Confirm"}));
}

TEST_F(WindowManager, DialogSizesIncludeTheFrameTheManagerDraws)
{
    RUN_UNDER_WINDOW_MANAGER("DialogSizesIncludeTheFrameTheManagerDraws");
    struct Case {
        QWidget* dialog;
        QSize outer;
        std::optional<QPoint> at; // none: centred on the 1280 x 1024 screen
    };
    const Case cases[] = {{Form2, {556, 220}, {}}, {Form4, {276, 174}, {}}, {Form6, {424, 198}, QPoint(572, 303)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dialog->objectName().toStdString());
        c.dialog->show();
        ASSERT_TRUE(shownAndFramed(c.dialog));
        const QMargins frame = frameExtents(c.dialog);
        ASSERT_GT(frame.top(), 0) << "the manager drew no title bar";
        const QPoint expected = c.at ? *c.at : QPoint((1280 - c.outer.width()) / 2, (1024 - c.outer.height()) / 2);
        // The window system's view once the dialog has settled at its size and place.
        apptest::waitUntil([&] {
            const QRect client = clientArea(c.dialog);
            return client.size().grownBy(frame) == c.outer && client.topLeft() - QPoint(frame.left(), frame.top()) == expected;
        }, 5000);
        const QRect client = clientArea(c.dialog);
        EXPECT_EQ(client.size().grownBy(frame), c.outer) << "client " << client.width() << "x" << client.height();
        const QPoint corner = client.topLeft() - QPoint(frame.left(), frame.top());
        EXPECT_LE((corner - expected).manhattanLength(), 2) << corner.x() << "," << corner.y();
        c.dialog->hide();
    }
    // The about box is given by its client area.
    Form5->show();
    ASSERT_TRUE(shownAndFramed(Form5));
    EXPECT_EQ(clientArea(Form5).size(), QSize(307, 127));
    Form5->hide();
}

TEST_F(WindowManager, TabStopsOfThePanelAndThePeriodQueryByRealKeys)
{
    RUN_UNDER_WINDOW_MANAGER("TabStopsOfThePanelAndThePeriodQueryByRealKeys");
    Form1->N9Click();
    Form1->activateWindow();
    ASSERT_TRUE(apptest::waitUntil([] { return QApplication::activeWindow() == Form1; }));
    std::vector<QWidget*> expected{Form1->DBNavigator1};
    for (const char* f : {"NUM", "DAT", "TIM", "FIO", "RECEPTION", "WBC", "LY2", "MO2", "GR2", "LY1", "MO1", "GR1", "HGB",
                          "RBC", "PLT", "FORMULA", "HCT", "MCV", "MCH", "MCHC", "RDV", "MPV", "PCT", "PDW", "COE",
                          "RETIC", "DOC", "COMMENT"})
        expected.push_back(Form1->editFor(f));
    expected.push_back(Form1->Button1);
    const std::vector<QWidget*> order = focusOrderByKeys(Form1->DBNavigator1, int(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(order[i], expected[i]) << "stop " << i << ": " << (order[i] ? order[i]->objectName().toStdString() : "none");

    // The navigator's buttons are reached by the arrow keys, not by Tab.
    Form1->Table1->First();
    Form1->DBNavigator1->setFocus(Qt::TabFocusReason);
    key("Right");
    key("Right");
    key("space");
    EXPECT_TRUE(apptest::waitUntil([] { return Form1->Table1->RecNo() == 2; }, 2000))
        << "the third button (next) was pressed; now on " << Form1->Table1->RecNo();

    Form6->show();
    Form6->activateWindow();
    ASSERT_TRUE(apptest::waitUntil([] { return QApplication::activeWindow() == Form6; }));
    EXPECT_EQ(focusOrderByKeys(Form6->DateTimePicker1, 5),
              (std::vector<QWidget*>{Form6->DateTimePicker1, Form6->DateTimePicker2, Form6->Button1, Form6->Button2,
                                     Form6->DateTimePicker1}));
    Form6->hide();
}
