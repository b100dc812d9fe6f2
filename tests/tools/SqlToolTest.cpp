// The hematix-sql program as people who look after the data run it: CSV out, errors to standard
// error with a non-zero status, the table untouched by a refused statement.
#include "engine/DataSet.h"
#include "store/ResultTable.h"
#include "store/Statements.h"

#include "support/TestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct SqlRun {
    int exitCode = -1;
    QString out, err;
};

SqlRun runSql(const QStringList& args, const QByteArray& input = {}, const QString& inputFile = {})
{
    QProcess p;
    if (!inputFile.isEmpty())
        p.setStandardInputFile(inputFile);
    p.start(testsupport::binDir() + QStringLiteral("/hematix-sql"), args);
    SqlRun r;
    if (!p.waitForStarted(30000))
        return r;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

class HematixSql : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString folder, table;

    void SetUp() override
    {
        if (!QFileInfo::exists(testsupport::binDir() + QStringLiteral("/hematix-sql")))
            GTEST_SKIP() << "hematix-sql is not built in " << testsupport::binDir().toStdString();
        ASSERT_TRUE(dir.isValid());
        folder = dir.path() + QLatin1Char('/');
        table = resulttable::create(folder);
    }

    QByteArray tableBytes() const { return testsupport::readFile(table); }
};

} // namespace

TEST_F(HematixSql, InsertThenSelectAsCsv)
{
    ImportedRow row;
    row.date = QStringLiteral("06/05/2023");
    row.time = QStringLiteral("14:03:07");
    row.num = QStringLiteral("000012345");
    for (auto& v : row.values)
        v = QStringLiteral("1.5");
    // The statement read from standard input, lines as the import writes them.
    SqlRun r = runSql({}, insertStatement(folder, row).join(QLatin1Char('\n')).toUtf8());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("1 rows affected\n"));

    // A value with a comma and quotes, given on the command line in pieces.
    r = runSql({QStringLiteral("INSERT INTO ") + quoted(table), QStringLiteral("(DAT, NUM, FIO) VALUES"),
                QStringLiteral("(\"6/6/2023\", \"2\", \"Иванов \"\"Ваня\"\", 5 лет\")")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    r = runSql({QStringLiteral("SELECT DAT, NUM, FIO, WBC FROM %1 WHERE DAT BETWEEN \"6/5/2023\" AND \"6/6/2023\"").arg(quoted(table))});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("DAT,NUM,FIO,WBC\r\n"
                                    "2023-06-05,000012345,,1.5\r\n"
                                    "2023-06-06,2,\"Иванов \"\"Ваня\"\", 5 лет\",\r\n"));
    EXPECT_TRUE(r.err.isEmpty());

    // No rows: the header alone.
    r = runSql({QStringLiteral("select num from %1 where dat = \"1/1/2020\"").arg(quoted(table))});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, QStringLiteral("NUM\r\n"));
}

TEST_F(HematixSql, ErrorsGoToStandardErrorWithFailureStatus)
{
    const QByteArray before = tableBytes();

    SqlRun r = runSql({QStringLiteral("INSERT INTO %1 (DAT) VALUES (\"13/45/2023\")").arg(quoted(table))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains(QStringLiteral("'13/45/2023'")) && r.err.contains(QStringLiteral("DAT"))) << r.err.toStdString();
    EXPECT_EQ(tableBytes(), before);

    r = runSql({QStringLiteral("SELECT * FROM %1 WHERE").arg(quoted(table))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("line 1, column"))) << r.err.toStdString();

    r = runSql({QStringLiteral("SELECT * FROM \"%1/none.dbf\"").arg(dir.path())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("none.dbf"))) << r.err.toStdString();

    r = runSql({QStringLiteral("--frobnicate")});
    EXPECT_EQ(r.exitCode, 2);
    r = runSql({}, QByteArray("   \n"));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("no statement")));

    // A statement of the longest length is run; an endless input stops the reading past it.
    QByteArray longest = QStringLiteral("SELECT NUM FROM %1").arg(quoted(table)).toUtf8();
    longest += QByteArray(1024 * 1024 - longest.size(), ' ');
    r = runSql({}, longest);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = runSql({}, {}, QStringLiteral("/dev/zero"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("longer than 1048576 bytes"))) << r.err.toStdString();

    r = runSql({QStringLiteral("--help")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: hematix-sql")));
    EXPECT_EQ(tableBytes(), before);
}
