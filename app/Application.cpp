#include "app/Application.h"

#include "app/Forms.h"
#include "app/AppIcon.h"
#include "app/Startup.h"
#include "app/Unit1.h"

#include <QApplication>


namespace hematix {

int run(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(startup::applicationTitleOf(startup::executablePath()));
    QApplication::setApplicationName(QApplication::applicationDisplayName());
    QApplication::setWindowIcon(applicationIcon());
    // The main window ends the program; hiding it to the tray must not.
    QApplication::setQuitOnLastWindowClosed(false);

    forms::createAll();
    Form1->showMaximized();
    const int rc = QApplication::exec();
    forms::destroyAll();
    return rc;
}

} // namespace hematix
