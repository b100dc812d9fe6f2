#include "app/Startup.h"

#include <QCoreApplication>

namespace startup {

namespace {
QString& testPath()
{
    static QString path;
    return path;
}
} // namespace

QString programFolderOf(const QString& executablePath)
{
    const qsizetype slash = executablePath.lastIndexOf(u'/');
    return slash < 0 ? QStringLiteral("./") : executablePath.left(slash + 1);
}

QString applicationTitleOf(const QString& executablePath)
{
    QString name = executablePath.mid(executablePath.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    // The first character is shown as a capital too, so that the lower-case names executables
    // have here give the same title as the capitals they had elsewhere.
    if (!name.isEmpty())
        name = name.left(1).toUpper() + name.mid(1).toLower();
    return name;
}

QString executablePath()
{
    if (!testPath().isEmpty())
        return testPath();
    return QCoreApplication::applicationFilePath();
}

void setExecutablePathForTesting(const QString& path) { testPath() = path; }

} // namespace startup
