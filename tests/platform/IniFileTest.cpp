#include "platform/IniFile.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {
struct IniFileTest : ::testing::Test {
    QTemporaryDir dir;
    QString path() const { return dir.filePath("set.ini"); }
    QString read(const QString& key) const { return IniFile(path()).readString("MAIN", key, "ERROR"); }
};
} // namespace

TEST_F(IniFileTest, MissingFileAndMissingKeysReadAsDefault)
{
    EXPECT_EQ(read("Port"), "ERROR");
    ASSERT_TRUE(writeFile(path(), "[MAIN]\nPort=/dev/ttyUSB0\n"));
    EXPECT_EQ(read("Port"), "/dev/ttyUSB0");
    EXPECT_EQ(read("Rate"), "ERROR");
    EXPECT_EQ(read("Path1"), "ERROR");
}

TEST_F(IniFileTest, WhatIsNoSettingsFileReadsAsMissingWithoutWaitingAndIsLeftAsItIs)
{
    const QByteArray settings = "[MAIN]\nPort=A\n";
    auto padded = [&](qint64 size) { return settings + QByteArray(size - settings.size(), ';'); };
    const QString other = dir.filePath("other.ini");
    const struct Case {
        const char* name;
        std::function<bool()> make;
        const char* port;
    } cases[] = {
        {"folder", [&] { return QDir(dir.path()).mkdir("set.ini"); }, "ERROR"},
        {"link to /dev/zero", [&] { return QFile::link("/dev/zero", path()); }, "ERROR"},
        {"named pipe", [&] { return ::mkfifo(QFile::encodeName(path()).constData(), 0600) == 0; }, "ERROR"},
        {"one byte past the bound", [&] { return writeFile(path(), padded(IniFile::kMaxFileSize + 1)); }, "ERROR"},
        {"on the bound", [&] { return writeFile(path(), padded(IniFile::kMaxFileSize)); }, "A"},
        {"link to a settings file", [&] { return writeFile(other, settings) && QFile::link(other, path()); }, "A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(path()).removeRecursively();
        QFile::remove(path());
        ASSERT_TRUE(c.make());
        QString port;
        ASSERT_TRUE(testsupport::returnsWithoutAWriter(path(), [&] { port = read("Port"); }));
        EXPECT_EQ(port, QLatin1String(c.port));
        if (port == QLatin1String("ERROR")) {
            const QFileInfo before(path());
            EXPECT_THROW(IniFile(path()).writeString("MAIN", "Port", "B"), EIniFileException);
            EXPECT_EQ(QFileInfo(path()).isSymLink(), before.isSymLink());
            EXPECT_EQ(QFileInfo(path()).size(), before.size());
        }
    }
}

TEST_F(IniFileTest, SectionsKeysAndValuesFollowProfileRules)
{
    ASSERT_TRUE(writeFile(path(),
                          "; lab settings\r\n"
                          "[OTHER]\r\nPort=wrong\r\n"
                          "[ main ]\r\n"
                          ";Port=commented\r\n"
                          "  pOrT =  COM7  \r\n"
                          "Rate=\"9600\"\r\n"
                          "Path1='/opt/lab'\r\n"
                          "Port=second\r\n"
                          "noequals\r\n"
                          "Path2=Ǆ\"x\r\n"));
    EXPECT_EQ(read("Port"), "COM7");      // case-insensitive, blanks trimmed, first wins
    EXPECT_EQ(read("Rate"), "9600");      // one pair of enclosing quotes removed
    EXPECT_EQ(read("Path1"), "/opt/lab");
    EXPECT_EQ(read("noequals"), "ERROR");
    EXPECT_EQ(read("Path2"), QString::fromUtf8("Ǆ\"x"));
    EXPECT_EQ(IniFile(path()).readString("OTHER", "PORT", "ERROR"), "wrong");
}

TEST_F(IniFileTest, OverlongValueIsCutTo2047Characters)
{
    const QByteArray longValue(5000, 'x');
    ASSERT_TRUE(writeFile(path(), "[MAIN]\nPath1=" + longValue + "\n"));
    EXPECT_EQ(read("Path1"), QString(2047, u'x'));
}

TEST_F(IniFileTest, SaveSequenceCreatesFileWithFourKeys)
{
    IniFile ini(path());
    ini.writeString("MAIN", "Port", "COM7");
    ini.writeString("MAIN", "Rate", "abc");
    ini.writeString("MAIN", "Path1", "/opt/lab/DB/");
    ini.writeString("MAIN", "Path2", "/opt/lab/");
    EXPECT_EQ(readFile(path()), "[MAIN]\nPort=COM7\nRate=abc\nPath1=/opt/lab/DB/\nPath2=/opt/lab/\n");
    ini.writeString("MAIN", "port", "COM8");
    EXPECT_EQ(read("PORT"), "COM8");
    EXPECT_EQ(readFile(path()), "[MAIN]\nPort=COM8\nRate=abc\nPath1=/opt/lab/DB/\nPath2=/opt/lab/\n")
        << "an existing key is replaced in place under its own spelling of the key";
}

TEST_F(IniFileTest, WriteKeepsEveryOtherLineByteForByte)
{
    const QByteArray before = "; keep me\r\n[Other]\r\nA = 1 \r\n\r\n[MAIN]\r\nRate=9600\r\n\r\n[Tail]\r\nB=2";
    ASSERT_TRUE(writeFile(path(), before));
    IniFile(path()).writeString("MAIN", "Port", "/dev/ttyS0");
    EXPECT_EQ(readFile(path()),
              "; keep me\r\n[Other]\r\nA = 1 \r\n\r\n[MAIN]\r\nRate=9600\r\nPort=/dev/ttyS0\r\n\r\n[Tail]\r\nB=2");
    IniFile(path()).writeString("NEW", "K", "v");
    EXPECT_EQ(readFile(path()).right(17), "B=2\r\n[NEW]\r\nK=v\r\n");
}

TEST_F(IniFileTest, CyrillicInOldCodePageIsReadAndKeptInThatCodePage)
{
    // "Путь" in the Windows Cyrillic code page.
    const QByteArray cp1251Value("\xcf\xf3\xf2\xfc");
    ASSERT_TRUE(writeFile(path(), "[MAIN]\r\nPath1=" + cp1251Value + "\r\n"));
    EXPECT_EQ(read("Path1"), QString::fromUtf8("Путь"));
    IniFile(path()).writeString("MAIN", "Path2", QString::fromUtf8("Путь"));
    EXPECT_EQ(readFile(path()), "[MAIN]\r\nPath1=" + cp1251Value + "\r\nPath2=" + cp1251Value + "\r\n");
}

TEST_F(IniFileTest, OldCodePageLetterAsTheLastByteIsRead)
{
    // The last byte of these files starts a UTF-8 sequence that never ends: they are in the old
    // code page, and the letter is read, and kept when another key is written.
    struct Case {
        QByteArray file;
        QString path1;
    };
    const Case cases[] = {
        {"[MAIN]\nPath1=\xf3", QStringLiteral("у")},
        {"[MAIN]\r\nPath1=D:\\\xc4", QStringLiteral("D:\\Д")},
        {"[MAIN]\nPath1=\xe0\xe1", QStringLiteral("аб")},
        {"[MAIN]\nPath1=\xd0", QStringLiteral("Р")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        ASSERT_TRUE(writeFile(path(), c.file));
        EXPECT_EQ(read("Path1"), c.path1);
        IniFile(path()).writeString("MAIN", "Port", "/dev/ttyS0");
        EXPECT_EQ(read("Path1"), c.path1);
        EXPECT_EQ(read("Port"), "/dev/ttyS0");
        EXPECT_TRUE(readFile(path()).startsWith(c.file));
    }
}

TEST_F(IniFileTest, WriteNeverChangesHowTheOtherLinesRead)
{
    // Old code page files whose only bytes invalid in UTF-8 are in the line that the write
    // replaces: what is left would read as UTF-8 ("\xd0\xb0" is "а" there, "Р°" here).
    struct Case {
        QByteArray file;
        QString path1;
    };
    const Case cases[] = {
        {"[MAIN]\r\nPort=\xff\r\nPath1=\xd0\xb0\r\n", QStringLiteral("Р°")},
        {"[MAIN]\nPath1=\xc3\xa9x\nPort=COM1\xc0\n", QStringLiteral("Г©x")},
        {"[MAIN]\nPath1=\xcf\xf3\xf2\xfc\nPort=\xff\n", QStringLiteral("Путь")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        ASSERT_TRUE(writeFile(path(), c.file));
        ASSERT_EQ(read("Path1"), c.path1);
        IniFile(path()).writeString("MAIN", "Port", "/dev/ttyS0");
        EXPECT_EQ(read("Port"), "/dev/ttyS0");
        EXPECT_EQ(read("Path1"), c.path1);
    }
}

TEST_F(IniFileTest, RefusedWriteRaisesWithFullPathAndKeepsFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root ignores directory permissions; the refusal cannot be staged";
    ASSERT_TRUE(writeFile(path(), "[MAIN]\nPort=A\n"));
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile::setPermissions(path(), QFileDevice::ReadOwner);
    try {
        IniFile(path()).writeString("MAIN", "Port", "B");
        FAIL() << "write into a read-only folder succeeded";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.message(), "Unable to write to " + path());
    }
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(read("Port"), "A");
}

TEST_F(IniFileTest, WriteIntoMissingFolderOrWithLineBreakIsRefused)
{
    const QString missing = dir.filePath("nowhere/set.ini");
    try {
        IniFile(missing).writeString("MAIN", "Port", "x");
        FAIL() << "write into a missing folder succeeded";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.message(), "Unable to write to " + missing);
    }
    // A name taken by a folder cannot be written, whoever we are.
    ASSERT_TRUE(QDir(dir.path()).mkdir("taken.ini"));
    EXPECT_THROW(IniFile(dir.filePath("taken.ini")).writeString("MAIN", "Port", "x"), EIniFileException);
    ASSERT_TRUE(writeFile(path(), "[MAIN]\nPort=A\n"));
    EXPECT_THROW(IniFile(path()).writeString("MAIN", "Port", "B\nRate=1"), EIniFileException);
    EXPECT_EQ(readFile(path()), "[MAIN]\nPort=A\n");
}

TEST_F(IniFileTest, KeyWrittenToASectionOnTheFirstLineStaysInThatSection)
{
    // The section on line one, another after it: a new key goes after the section's last line, an
    // existing one is replaced where it is, and the next section is left as it was.
    struct Case {
        const char* before;
        const char* key;
        const char* after;
    };
    const Case cases[] = {
        {"[MAIN]\nPort=COM1\n[Other]\nRate=1\n", "Rate", "[MAIN]\nPort=COM1\nRate=v\n[Other]\nRate=1\n"},
        {"[MAIN]\nPort=COM1\n[Other]\nRate=1\n", "Port", "[MAIN]\nPort=v\n[Other]\nRate=1\n"},
        {"[MAIN]\n[Other]\nPort=COM1\n", "Port", "[MAIN]\nPort=v\n[Other]\nPort=COM1\n"},
        {"[MAIN]\r\nRate=2\r\n\r\n[Other]\r\nPort=x\r\n", "Port", "[MAIN]\r\nRate=2\r\nPort=v\r\n\r\n[Other]\r\nPort=x\r\n"},
        {"[Other]\nPort=x\n[MAIN]\n[Last]\n", "Port", "[Other]\nPort=x\n[MAIN]\nPort=v\n[Last]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        ASSERT_TRUE(writeFile(path(), c.before));
        IniFile(path()).writeString("MAIN", c.key, "v");
        EXPECT_EQ(readFile(path()), QByteArray(c.after));
        EXPECT_EQ(read(c.key), "v");
        EXPECT_NE(IniFile(path()).readString("Other", c.key, "ERROR"), "v");
    }
}
