// A period's rows exported from a real table and read back by readers of their own: openpyxl and
// LibreOffice for the workbook, the bytes themselves for the CSV file; and a write that fails
// leaving the chosen name as it was.
#include "engine/DataSet.h"
#include "export/ExportError.h"
#include "export/RowExport.h"
#include "platform/durable/DurableIo.h"
#include "store/DbfResultStore.h"
#include "store/ResultTable.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// Readers the set-up installs: missing, the test says so and skips, except in CI where it fails.
#define NEED(found, what)                                                                          \
    if (!(found)) {                                                                                \
        if (qgetenv("CI") == "true")                                                               \
            FAIL() << what << " is missing (scripts/setup.sh test installs it)";                   \
        GTEST_SKIP() << what << " is missing";                                                     \
    }

// Debian's python3 first: another one on PATH may lack Debian's openpyxl.
QString pythonWithOpenpyxl()
{
    for (const QString& py : {QStringLiteral("/usr/bin/python3"), QStandardPaths::findExecutable("python3")})
        if (!py.isEmpty() && QProcess::execute(py, {"-c", "import openpyxl"}) == 0)
            return py;
    return {};
}

QString run(const QString& program, const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(120000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

class Export : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = dir.path() + QLatin1Char('/');
        resulttable::create(folder);
        store = std::make_unique<DbfResultStore>(folder);
        for (const char* date : {"06/05/2023", "06/06/2023", "06/07/2023"}) {
            ImportedRow r{QString::fromLatin1(date), QStringLiteral("10:00:00"), QStringLiteral("000000101"), {}};
            r.values.fill(QStringLiteral("4.0|"));
            r.values[0] = QStringLiteral("7.5");    // WBC
            r.values[1] = QStringLiteral("7.5|1");  // RBC
            r.values[2] = QStringLiteral("142|");   // HGB
            r.values[3] = QStringLiteral("-----");  // HCT
            store->insert(r);
        }
        TTable table;
        store->attachRows(table);
        table.Open();
        table.Edit();
        for (const auto& [field, text] : {std::pair{"FIO", "Иванова Анна"}, {"DOC", "45 лет"},
                                          {"FORMULA", "с \"кавычкой\"; и точкой"}, {"COMMENT", "=1+1"}})
            table.FieldByName(QString::fromLatin1(field))->SetAsString(QString::fromUtf8(text));
        table.Post();
    }
    QString exportTo(const char* name)
    {
        TQuery query;
        const QString file = dir.filePath(QString::fromLatin1(name));
        EXPECT_EQ(rowexport::exportPeriod(*store, query, {2023, 6, 5}, {2023, 6, 6}, file), 2);
        return file;
    }
    QTemporaryDir dir;
    QString folder;
    std::unique_ptr<DbfResultStore> store;
};

TEST_F(Export, WorkbookReadsBackAsNumbersTextsAndDates)
{
    const QString python = pythonWithOpenpyxl();
    NEED(!python.isEmpty(), "python3 with openpyxl");
    const QString book = exportTo("period.xlsx");
    const char* script = R"(import sys, json, openpyxl
ws = openpyxl.load_workbook(sys.argv[1]).active
cell = lambda c: [c.data_type, c.value.isoformat() if c.is_date else c.value]
print(json.dumps({"freeze": ws.freeze_panes, "rows": [[cell(c) for c in r] for r in ws.iter_rows()]}))
)";
    const QJsonObject out = QJsonDocument::fromJson(run(python, {"-c", script, book}).toUtf8()).object();
    EXPECT_EQ(out["freeze"].toString(), "A2");
    const QJsonArray rows = out["rows"].toArray();
    ASSERT_EQ(rows.size(), 3);
    QStringList header;
    for (const auto& c : rows[0].toArray())
        header << c.toArray()[1].toString();
    QStringList names;
    for (const DbfFieldSpec& f : resulttable::fields())
        names << f.name;
    EXPECT_EQ(header, names);
    const struct {
        const char* field;
        const char* type; // openpyxl's: n number, s string, d date, f formula
        QJsonValue value;
    } cases[] = {
        {"WBC", "n", 7.5},         {"RBC", "n", 7.5},          {"HGB", "n", 142},
        {"HCT", "s", "-----"},     {"COMMENT", "s", "=1+1"},   {"DAT", "d", "2023-06-05T00:00:00"},
        {"FIO", "s", "Иванова Анна"}, {"NUM", "s", "000000101"}, {"DOC", "s", "45 лет"},
    };
    for (const auto& c : cases) {
        const QJsonArray cell = rows[1].toArray()[names.indexOf(c.field)].toArray();
        EXPECT_EQ(cell[0].toString().toStdString(), c.type) << c.field;
        EXPECT_EQ(cell[1], c.value) << c.field << ": " << QJsonDocument(cell).toJson().toStdString();
    }

    // LibreOffice under a Russian locale: its CSV of the same workbook keeps values and names.
    const QString soffice = QStandardPaths::findExecutable("soffice");
    NEED(!soffice.isEmpty(), "LibreOffice (soffice)");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "ru_RU.UTF-8");
    run(soffice, {"-env:UserInstallation=file://" + dir.filePath("lo"), "--headless", "--convert-to",
                  "csv:Text - txt - csv (StarCalc):9,34,76,1", "--outdir", dir.filePath("lo-out"), book}, env);
    const QStringList lines = QString::fromUtf8(testsupport::readFile(dir.filePath("lo-out/period.csv"))).split('\n');
    ASSERT_GE(lines.size(), 3) << "LibreOffice wrote no CSV";
    QStringList row = lines[1].trimmed().split('\t');
    for (QString& t : row)
        t.remove('"');
    for (const auto& [field, text] : {std::pair{"WBC", "7,5"}, {"HGB", "142"}, {"HCT", "-----"}, {"FIO", "Иванова Анна"},
                                      {"DAT", "05.06.2023"}, {"COMMENT", "=1+1"}})
        EXPECT_EQ(row.value(names.indexOf(field)).toStdString(), text) << field;
}

TEST_F(Export, CsvIsQuotedUtf8WithAByteOrderMark)
{
    const QByteArray csv = testsupport::readFile(exportTo("period.csv"));
    EXPECT_TRUE(csv.startsWith("\xEF\xBB\xBF\"DAT\";\"TIM\";\"NUM\";\"FIO\";\"DOC\";"));
    const QList<QByteArray> lines = csv.split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[1].startsWith(
        QString::fromUtf8("\"05.06.2023\";\"10:00:00\";\"000000101\";\"Иванова Анна\";\"45 лет\";\"\";\"7.5\";").toUtf8()));
    EXPECT_TRUE(lines[1].endsWith(QString::fromUtf8(";\"с \"\"кавычкой\"\"; и точкой\";\"=1+1\"\r").toUtf8())) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("\"06.06.2023\";")) << lines[2].toStdString();
    EXPECT_TRUE(lines[2].contains(";\"7.5|1\";\"142|\";\"-----\";")) << "values as stored";
    EXPECT_TRUE(lines[3].isEmpty());
}

TEST_F(Export, AFailedWriteLeavesTheChosenNameAsItWas)
{
    const struct {
        durable::Op op;
        int err;
    } cases[] = {{durable::Op::Create, EACCES}, {durable::Op::Write, ENOSPC}, {durable::Op::Sync, EIO}, {durable::Op::Rename, EACCES}};
    const QString kept = dir.filePath("kept.csv"), fresh = dir.filePath("fresh.xlsx");
    ASSERT_TRUE(testsupport::writeFile(kept, "earlier export"));
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const auto& c : cases) {
        durable::ScopedObserver fail([&](durable::Call& call) { return call.op == c.op ? c.err : 0; });
        for (const QString& file : {kept, fresh}) {
            TQuery query;
            try {
                rowexport::exportPeriod(*store, query, {2023, 6, 5}, {2023, 6, 6}, file);
                ADD_FAILURE() << durable::name(c.op) << " failed unnoticed";
            } catch (const EExportError& e) {
                EXPECT_TRUE(e.message().contains(file) && e.message().contains(QString::fromLocal8Bit(std::strerror(c.err))))
                    << e.message().toStdString();
            }
        }
        EXPECT_EQ(testsupport::readFile(kept), "earlier export") << durable::name(c.op);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before) << durable::name(c.op);
    }
    // A folder that is truly not writable, where permissions bind (not for root).
    if (::geteuid() != 0) {
        const QString locked = dir.filePath("locked");
        ASSERT_TRUE(QDir().mkdir(locked));
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        TQuery query;
        EXPECT_THROW(rowexport::exportPeriod(*store, query, {2023, 6, 5}, {2023, 6, 5}, locked + "/x.csv"), EExportError);
        EXPECT_TRUE(QDir(locked).isEmpty());
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

} // namespace
