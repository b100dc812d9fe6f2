#include "app/Application.h"

#include "app/Forms.h"
#include "app/AppIcon.h"
#include "app/Startup.h"
#include "app/Unit1.h"

#include <QApplication>

namespace hematix {

void setUpApplication()
{
    // The title is the application's name only, not its display name: Qt would add a display
    // name to every window's caption ("Выход — Hematix"), and each window has its own caption.
    QApplication::setApplicationName(startup::applicationTitleOf(startup::executablePath()));
    QApplication::setWindowIcon(applicationIcon());
    // The main window ends the program; hiding it to the tray must not.
    QApplication::setQuitOnLastWindowClosed(false);
}

int run(int argc, char** argv)
{
    QApplication app(argc, argv);
    setUpApplication();

    forms::createAll();
    Form1->showMaximized();
    const int rc = QApplication::exec();
    forms::destroyAll();
    return rc;
}

} // namespace hematix
