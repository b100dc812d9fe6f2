// hematix-desktop PROGRAM_FOLDER [APPLICATIONS_FOLDER]: writes the program's icon (hematix.png)
// and its desktop entry (hematix.desktop) into a laid-out program folder, and puts a copy of the
// entry into APPLICATIONS_FOLDER (for example ~/.local/share/applications) when one is given, so
// that the desktop's applications menu offers Hematix.
#include "app/AppIcon.h"
#include "app/DesktopEntry.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <QTextStream>

namespace {

bool writeText(const QString& path, const QString& text, QTextStream& err)
{
    QSaveFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        err << "hematix-desktop: cannot write " << path << ": " << file.errorString() << '\n';
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Drawing the icon needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3 || args[1].startsWith(QLatin1Char('-'))) {
        err << "usage: hematix-desktop PROGRAM_FOLDER [APPLICATIONS_FOLDER]\n"
               "Writes hematix.png and hematix.desktop into PROGRAM_FOLDER and copies the entry into\n"
               "APPLICATIONS_FOLDER (e.g. ~/.local/share/applications) when given.\n";
        return 2;
    }
    const QString folder = QDir::cleanPath(QFileInfo(args[1]).absoluteFilePath()) + QLatin1Char('/');
    if (!QFileInfo(folder).isDir()) {
        err << "hematix-desktop: " << args[1] << " is no folder\n";
        return 1;
    }
    const QString icon = folder + QLatin1String(desktopentry::kIconFile);
    if (!drawApplicationIcon(desktopentry::kIconSize).save(icon, "PNG")) {
        err << "hematix-desktop: cannot write " << icon << '\n';
        return 1;
    }
    const QString entry = desktopentry::entryText(folder);
    if (!writeText(folder + QLatin1String(desktopentry::kEntryFile), entry, err))
        return 1;
    out << "Wrote " << icon << " and " << folder << desktopentry::kEntryFile << '\n';
    if (args.size() == 3) {
        if (!QDir().mkpath(args[2])) {
            err << "hematix-desktop: cannot make " << args[2] << '\n';
            return 1;
        }
        const QString installed = QDir(args[2]).filePath(QLatin1String(desktopentry::kEntryFile));
        if (!writeText(installed, entry, err))
            return 1;
        out << "Installed " << installed << '\n';
    }
    return 0;
}
