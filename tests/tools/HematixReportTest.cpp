// The hematix-report program as a lab's script runs it: a program folder with a few imported
// rows, the result sheet of one of them and the period report of a day, as report files or PDF;
// and the same rows in a PostgreSQL database, read as from the folder.
#include "../store/pg/PgTestDatabase.h"
#include "engine/DataSet.h"
#include "report/pages/RpPageList.h"
#include "store/PeriodQuery.h"
#include "store/ResultTable.h"
#include "store/Statements.h"
#include "store/DbfResultStore.h"
#include "store/pg/PgResultStore.h"
#include "store/pg/PgSchema.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int exitCode = -1;
    QString err;
};

ToolRun runReport(const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(testsupport::binDir() + QStringLiteral("/hematix-report"), args);
    ToolRun r;
    if (!p.waitForFinished(120000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Texts are stored in the pages as UTF-16.
bool holdsText(const QByteArray& bytes, const QString& text)
{
    return bytes.contains(QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2));
}

// Rows 0 and 1 on 5 June 2023, row 2 the day after.
ImportedRow sampleRow(int i)
{
    ImportedRow row;
    row.date = i < 2 ? QStringLiteral("6/5/2023") : QStringLiteral("6/6/2023");
    row.time = QStringLiteral("10:1%1:00").arg(i);
    row.num = QStringLiteral("12345678%1").arg(i);
    for (auto& v : row.values)
        v = QStringLiteral("4.%1").arg(i);
    return row;
}

class HematixReport : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = dir.path() + QLatin1Char('/');
        resulttable::create(folder);
        for (int i = 0; i < 3; ++i) {
            TQuery insert;
            insert.SQL = insertStatement(folder, sampleRow(i));
            insert.ExecSQL();
        }
    }
    QByteArray output(const char* name) const { return testsupport::readFile(dir.filePath(QString::fromLatin1(name))); }
    QTemporaryDir dir;
    QString folder;
};

TEST_F(HematixReport, MakesTheSheetOfARowAndThePeriodReportOfADayOrARange)
{
    struct Case {
        QStringList args;
        const char* out;
        int pages;
        QStringList shown, notShown;
    };
    const Case cases[] = {
        {{"sheet", folder, "--record", "2", "sheet.hrp"}, "sheet.hrp", 1, {"123456781"}, {"123456780"}},
        {{"sheet", folder, "--sample", "123456782", "sample.hrp"}, "sample.hrp", 1, {"123456782"}, {"123456781"}},
        {{"period", folder, "2023-06-05", "day.hrp"}, "day.hrp", 1, {"123456780", "123456781"}, {"123456782"}},
        {{"period", folder, "2023-06-05", "2023-06-06", "range.hrp"}, "range.hrp", 1,
         {"123456780", "123456781", "123456782", " - "}, {}},
    };
    for (const Case& c : cases) {
        QStringList args = c.args;
        args.last() = dir.filePath(args.last());
        const ToolRun r = runReport(args);
        ASSERT_EQ(r.exitCode, 0) << c.out << ": " << r.err.toStdString();
        TRpPageList pages;
        pages.LoadFromFile(dir.filePath(QString::fromLatin1(c.out)));
        EXPECT_EQ(pages.PageCount(), c.pages) << c.out;
        const QByteArray bytes = output(c.out);
        for (const QString& s : c.shown)
            EXPECT_TRUE(holdsText(bytes, s)) << c.out << " lacks " << s.toStdString();
        for (const QString& s : c.notShown)
            EXPECT_FALSE(holdsText(bytes, s)) << c.out << " shows " << s.toStdString();
    }
}

TEST_F(HematixReport, WritesAPdf)
{
    const ToolRun r = runReport({"period", folder, "2023-06-05", dir.filePath("day.pdf"), "--pdf"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(output("day.pdf").startsWith("%PDF"));
}

TEST_F(HematixReport, RefusesWhatItCannotDo)
{
    struct Case {
        QStringList args;
        int exitCode;
        const char* says;
    };
    // A layout whose caption no page can hold: refused as the program's preview would refuse it,
    // rather than written.
    const QString hostile = dir.filePath(QStringLiteral("hostile"));
    ASSERT_TRUE(QDir().mkpath(hostile + QStringLiteral("/DB")));
    for (const QString& name : QDir(folder + QStringLiteral("DB")).entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(folder + QStringLiteral("DB/") + name, hostile + QStringLiteral("/DB/") + name));
    QString layout = QString::fromUtf8(testsupport::readFile(testsupport::sourceDir() + QStringLiteral("/report/layouts/Report.layout")));
    const QString caption = QStringLiteral("Caption = 'Заречная городская клиническая больница № 7'");
    ASSERT_TRUE(layout.contains(caption));
    layout.replace(caption, QStringLiteral("Caption = '%1'").arg(QString(2'000'000, QLatin1Char('W'))));
    ASSERT_TRUE(testsupport::writeFile(hostile + QStringLiteral("/Report.layout"), layout.toUtf8()));
    const Case cases[] = {
        {{"sheet", hostile, "--record", "1", "o.hrp"}, 1, "page 1 of the report could not be shown"},
        {{"sheet", folder}, 2, "too few arguments"},
        {{"sheet", folder, "--record", "x", "o.hrp"}, 2, "not a record number"},
        {{"sheet", folder, "--record", "9", "o.hrp"}, 1, "Record 9 not found"},
        {{"sheet", folder, "--sample", "1", "o.hrp"}, 1, "no row with sample number 1"},
        {{"period", folder, "yesterday", "o.hrp"}, 2, "not a date"},
        {{"period", folder, "2023-06-06", "2023-06-05", "o.hrp"}, 2, "ends before it starts"},
        {{"period", dir.filePath("nowhere"), "2023-06-05", "o.hrp"}, 1, "no result table"},
        {{"print", folder, "x", "o.hrp"}, 2, "unknown mode"},
        {{"export", folder, "2023-06-05", "o.txt"}, 2, "must end in .xlsx or .csv"},
        {{"period", "postgresql://lab:secret@/hematix", "2023-06-05", "o.hrp"}, 1, "holds a password"},
        {{"period", "postgresql:///hematix?host=" + dir.filePath("none"), "2023-06-05", "o.hrp"}, 1, "Connecting to postgresql:"},
        {{"period", folder, "2023-06-05", "o.hrp", "--layouts", dir.filePath("nowhere")}, 2, "--layouts: not a folder"},
    };
    for (const Case& c : cases) {
        const ToolRun r = runReport(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.says;
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.says))) << r.err.toStdString();
    }
}

TEST_F(HematixReport, ExportsTheRowsOfARange)
{
    QProcess p;
    p.start(testsupport::binDir() + QStringLiteral("/hematix-report"),
            {"export", folder, "2023-06-05", "2023-06-06", dir.filePath("range.csv")});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_TRUE(p.readAllStandardOutput().startsWith("3 rows written to "));
    EXPECT_EQ(output("range.csv").count("\r\n"), 4) << "the header and three rows";
}

TEST_F(HematixReport, BindsThePeriodFieldsAsThePeriodDialogDoes)
{
    // Every field the dialog binds shows its value in the tool's period report.
    const ToolRun r = runReport({"period", folder, "2023-06-06", dir.filePath("day.hrp")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QByteArray bytes = output("day.hrp");
    TTable table;
    table.SetTableName(resulttable::tableFile(folder));
    table.Open();
    table.Last();
    for (const auto& [item, field] : periodquery::fieldBindings()) {
        const QString value = table.FieldByName(field)->DisplayText();
        if (!value.isEmpty()) {
            EXPECT_TRUE(holdsText(bytes, value)) << item.toStdString() << " " << field.toStdString();
        }
    }
}

// The pages of a saved report, without its header and the time printed on the sheet ("2026
// 06:27:46", UTF-16), both of which two runs a second apart make differently.
QByteArray pageBytes(const QString& file)
{
    TRpPageList pages;
    pages.LoadFromFile(file);
    QByteArray bytes;
    for (int n = 1; n <= pages.PageCount(); ++n)
        bytes += pages.GetPage(n)->Bytes();
    static const QRegularExpression printed(QStringLiteral("(\\d\\x00){4} \\x00((\\d\\x00){2}:\\x00){2}(\\d\\x00){2}"));
    return QString::fromLatin1(bytes).replace(printed, QStringLiteral("(printed)")).toLatin1();
}

// The same rows in a folder and in a database: each output from the database is the folder's.
class HematixReportOnPg : public PgTestDatabase {
protected:
    void SetUp() override
    {
        if (!setUpWithSchema())
            return;
        folder = dir.path() + QLatin1Char('/');
        resulttable::create(folder);
        DbfResultStore dbf(folder);
        PgResultStore pg(folder, uri_);
        for (int i = 0; i < 3; ++i) {
            dbf.insert(sampleRow(i));
            pg.insert(sampleRow(i));
        }
    }
    QTemporaryDir dir;
    QString folder;
};

TEST_F(HematixReportOnPg, ReportsAndExportsTheRowsAsFromTheFolder)
{
    const QStringList cases[] = {
        {"export", "", "2023-06-05", "2023-06-06", "range.csv"},
        {"export", "", "2023-06-06", "day.csv"},
        {"period", "", "2023-06-05", "day.hrp"},
        {"sheet", "", "--sample", "123456781", "sample.hrp"},
        {"sheet", "", "--record", "3", "record.hrp"},
    };
    for (QStringList args : cases) {
        QByteArray made[2];
        for (int onPg = 0; onPg < 2; ++onPg) {
            const QString out = dir.filePath(QString::number(onPg) + args.last());
            args[1] = onPg ? uri_ : folder;
            QStringList run = args;
            run.last() = out;
            const ToolRun r = runReport(run);
            ASSERT_EQ(r.exitCode, 0) << args.join(' ').toStdString() << ": " << r.err.toStdString();
            made[onPg] = out.endsWith(QLatin1String(".hrp")) ? pageBytes(out) : testsupport::readFile(out);
        }
        EXPECT_FALSE(made[0].isEmpty());
        EXPECT_EQ(made[1], made[0]) << args.join(' ').toStdString();
    }
}

} // namespace
