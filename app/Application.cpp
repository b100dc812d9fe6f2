#include "app/Application.h"

#include "app/Forms.h"
#include "app/AppIcon.h"
#include "app/Startup.h"
#include "app/Unit1.h"
#include "app/ErrorBox.h"
#include "store/pg/StoreChoice.h"

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

    // A Database= the program cannot use stops it here, while someone is there to read why:
    // running on would store nothing, and falling back to the folder's table would split the
    // results between two stores.
    const QString database = storechoice::databaseSetting(startup::programFolderOf(startup::executablePath()));
    if (!database.isEmpty()) {
        try {
            storechoice::checkDatabaseUri(database);
        } catch (const EDatabaseError& e) {
            ui::showError(QStringLiteral("%1\nCorrect Database= under [MAIN] in set.ini; Hematix does not start until then.")
                              .arg(e.message()));
            return 1;
        }
    }

    forms::createAll();
    Form1->showMaximized();
    const int rc = QApplication::exec();
    forms::destroyAll();
    return rc;
}

} // namespace hematix
