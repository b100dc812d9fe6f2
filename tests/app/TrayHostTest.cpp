// The tray icon on a real desktop tray: Xvfb with trayer as the tray host, clicks by xdotool.
// The test starts the display and the tray, then runs itself again inside them.
#include "AppFixture.h"

#include "app/Unit4.h"
#include "platform/tray/TrayIcon.h"

#include <QProcess>
#include <QThread>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>

using apptest::AppFixture;

namespace {

bool haveTool(const char* name) { return !QStandardPaths::findExecutable(name).isEmpty(); }

void click(const QPoint& at, int button)
{
    QProcess::execute("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click",
                                  QString::number(button)});
}

} // namespace

TEST_F(AppFixture, TrayHostHideAndShowThroughTheIcon)
{
    if (qEnvironmentVariableIsEmpty("HEMATIX_TRAY_CHILD")) {
        // The parent: a display with a tray host, and this test again inside it.
        if (!haveTool("Xvfb") || !haveTool("trayer") || !haveTool("xdotool"))
            GTEST_SKIP() << "Xvfb, trayer and xdotool are needed to run a tray host";
        const QString display = QStringLiteral(":%1").arg(90 + (QCoreApplication::applicationPid() % 50));
        QProcess xvfb;
        xvfb.start("Xvfb", {display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        ASSERT_TRUE(xvfb.waitForStarted());
        QThread::msleep(500);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        QProcess tray;
        tray.setProcessEnvironment(env);
        tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "200",
                              "--heighttype", "pixel", "--height", "32", "--transparent", "false", "--SetDockType",
                              "true", "--expand", "false"});
        ASSERT_TRUE(tray.waitForStarted());
        QThread::msleep(500);
        QProcess child;
        env.insert("HEMATIX_TRAY_CHILD", "1");
        env.insert("QT_QPA_PLATFORM", "xcb");
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=AppFixture.TrayHostHideAndShowThroughTheIcon"});
        const bool finished = child.waitForFinished(60000);
        const QByteArray out = child.readAll();
        tray.kill();
        xvfb.kill();
        tray.waitForFinished();
        xvfb.waitForFinished();
        ASSERT_TRUE(finished) << out.toStdString();
        EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
        return;
    }

    // The child, on the display with the tray.
    ASSERT_TRUE(apptest::waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000));
    makeTable();
    addRows(3);
    start();
    Form1->show();
    ASSERT_TRUE(Form1->tray());
    QSystemTrayIcon* icon = Form1->tray()->systemIcon();
    ASSERT_TRUE(apptest::waitUntil([&] { return icon->geometry().width() > 0; }, 10000)) << "the icon did not dock";
    QTest::qWait(1000); // the tray places the icon after it has taken it in
    if (!qEnvironmentVariableIsEmpty("HEMATIX_SCREENSHOTS"))
        QProcess::execute("/usr/bin/import", {"-window", "root", qEnvironmentVariable("HEMATIX_SCREENSHOTS") + "/tray.png"});
    const QPoint centre = icon->geometry().center();
    int activations = 0;
    QObject::connect(icon, &QSystemTrayIcon::activated, [&] { ++activations; });

    Form1->Table1->First();
    Form4->SetItemIndex(TForm4::HideToTray);
    Form4->Button1Click();
    ASSERT_TRUE(apptest::waitUntil([] { return !Form1->isVisible(); }));
    click(centre, 1);
    ASSERT_TRUE(apptest::waitUntil([] { return Form1->isVisible(); }))
        << "a left click shows the window; clicked at " << centre.x() << "," << centre.y() << ", activations " << activations;
    EXPECT_EQ(Form1->Table1->RecNo(), 3) << "with the last row selected";
    click(centre, 3);
    EXPECT_TRUE(apptest::waitUntil([] { return !Form1->isVisible(); })) << "a right click hides it";
    Form1->closeProgram();
}
