// Pictures of the windows for a person to look at: run with HEMATIX_SCREENSHOTS=<folder>, under
// Xvfb (1280x1024, with a window manager such as openbox) with QT_QPA_PLATFORM=xcb for the real
// window system. Skipped otherwise.
#include "AppFixture.h"

#include "app/Application.h"
#include "app/Unit2.h"
#include "app/Unit4.h"
#include "app/Unit5.h"
#include "app/Unit6.h"
#include "link/sim/AnalyserSimulator.h"
#include "link/MessageImport.h"

#include <QScreen>
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
}
