// The desktop entry and icon that hematix-desktop lays into a program folder: valid for the
// desktop's own checker, starting the program of that folder whatever its name holds.
#include "app/DesktopEntry.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A string value as a reader of the format takes it: its escapes undone.
QString unescaped(const QString& value)
{
    QString v;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const QChar n = value[++i];
            v += n == 's' ? QChar(' ') : n == 'n' ? QChar('\n') : n == 't' ? QChar('\t') : n;
        } else {
            v += value[i];
        }
    }
    return v;
}

// The Exec key's single argument as a launcher reads it: value escapes first, then the quoting.
QString execArgument(const QString& value)
{
    const QString v = unescaped(value);
    QString arg;
    if (v.startsWith('"') && v.endsWith('"')) {
        for (qsizetype i = 1; i + 1 < v.size(); ++i) {
            if (v[i] == '\\')
                ++i;
            arg += v[i];
        }
    } else {
        arg = v;
    }
    return arg.replace("%%", "%");
}

QString keyOf(const QString& entry, const QString& key)
{
    for (const QString& line : entry.split('\n'))
        if (line.startsWith(key + '='))
            return line.mid(key.size() + 1);
    return {};
}

} // namespace

TEST(DesktopEntry, EntryForAnyProgramFolderIsValidAndStartsThatFoldersProgram)
{
    const QString tool = testsupport::binDir() + "/hematix-desktop";
    if (!QFile::exists(tool))
        GTEST_SKIP() << "hematix-desktop is not built";
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    QTemporaryDir dir;
    for (const QString& name : {QStringLiteral("run"), QStringLiteral("lab user"), QStringLiteral("лаборатория 2"),
                               QStringLiteral("a$b\"c`d\\e%f;g'h")}) {
        SCOPED_TRACE(name.toStdString());
        const QString folder = dir.path() + "/" + name + "/";
        const QString apps = dir.path() + "/apps " + name;
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_EQ(QProcess::execute(tool, {folder, apps}), 0);
        const QString entryFile = folder + desktopentry::kEntryFile;
        const QString entry = QString::fromUtf8(testsupport::readFile(entryFile));
        EXPECT_EQ(testsupport::readFile(apps + "/" + desktopentry::kEntryFile), entry.toUtf8()) << "installed as written";
        EXPECT_EQ(execArgument(keyOf(entry, "Exec")), folder + "hematix");
        EXPECT_EQ(unescaped(keyOf(entry, "Icon")), folder + desktopentry::kIconFile);
        EXPECT_EQ(keyOf(entry, "Name"), "Hematix");
        if (!validator.isEmpty()) {
            QProcess check;
            check.setProcessChannelMode(QProcess::MergedChannels);
            check.start(validator, {entryFile});
            ASSERT_TRUE(check.waitForFinished(20000));
            EXPECT_EQ(check.exitCode(), 0) << check.readAll().toStdString();
        }
        const QImage icon(folder + desktopentry::kIconFile);
        ASSERT_EQ(icon.size(), QSize(desktopentry::kIconSize, desktopentry::kIconSize));
        EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << "the tile's rounded corner is transparent";
        const QRgb drop = icon.pixel(128, 180);
        EXPECT_GT(qRed(drop), 150);
        EXPECT_LT(qGreen(drop), 60);
    }
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) is needed to check the entries";
}
