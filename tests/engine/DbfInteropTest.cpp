// Tables we write, read by independent dBase readers from Debian: python3-dbfread and GDAL's
// ogr2ogr. Each must give exactly our rows, Cyrillic included. Skipped where a reader is missing.
#include "DbfTestSupport.h"

#include "engine/DbfSqlTable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace dbftest;

namespace {

struct Row {
    QString name;
    QDate born;
    std::optional<double> age;
    std::optional<double> rate;
    std::optional<double> ratio;
    std::optional<bool> ok;
    QString note;
};

const std::vector<Row>& rows()
{
    static const std::vector<Row> list = {
        {QStringLiteral("Иванов Иван Ёжикович"), QDate(2023, 6, 5), 42, 7.5, 0.125, true, QStringLiteral("Коментарий «в норме» №1")},
        {QStringLiteral("  leading blanks"), QDate(1999, 12, 31), 0, -3.25, 1234.5, false, QString()},
        {QString(), QDate(), std::nullopt, std::nullopt, std::nullopt, std::nullopt, QStringLiteral("только memo")},
        {QStringLiteral("Лодзь, «кавычки» №5"), QDate(2026, 1, 2), 999, 99.99, -0.001, true, QStringLiteral("a\nb")},
    };
    return list;
}

// Writes the rows; the deleted row between the first two must not show in any reader.
QString writeTable(const QTemporaryDir& dir, bool withMemo)
{
    std::vector<DbfFieldSpec> fields = everyType();
    if (!withMemo)
        fields.pop_back();
    const QString path = dir.filePath(withMemo ? "memo.dbf" : "plain.dbf");
    DbfFile::create(path, fields);
    DbfSqlTable table(path);
    auto value = [](auto opt) -> SqlValue { return opt ? SqlValue(double(*opt)) : SqlValue(); };
    bool first = true;
    for (const Row& r : rows()) {
        std::vector<SqlValue> v = {r.name, r.born.isValid() ? SqlValue(r.born) : SqlValue(), value(r.age), value(r.rate),
                                   value(r.ratio), r.ok ? SqlValue(*r.ok) : SqlValue()};
        if (withMemo)
            v.push_back(r.note.isEmpty() ? SqlValue() : SqlValue(r.note));
        table.append(v);
        if (first) {
            table.append(v);
            table.file().setDeleted(1, true);
            first = false;
        }
    }
    return path;
}

QString pythonWithDbfread()
{
    for (const QString& candidate : {QStandardPaths::findExecutable("python3"), QStringLiteral("/usr/bin/python3")}) {
        if (candidate.isEmpty())
            continue;
        QProcess p;
        p.start(candidate, {"-c", "import dbfread"});
        if (p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return candidate;
    }
    return {};
}

QByteArray run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(60000)) << program.toStdString();
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput();
}

// The fields of one CSV line ("" inside quotes is one quote).
QStringList csvFields(const QString& line)
{
    QStringList out;
    QString cur;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                cur += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                cur += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            out << cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    out << cur;
    return out;
}

} // namespace

TEST(DbfInterop, PythonDbfreadReadsOurRows)
{
    const QString python = pythonWithDbfread();
    if (python.isEmpty())
        GTEST_SKIP() << "python3 with dbfread (Debian package python3-dbfread) is not installed";
    QTemporaryDir dir;
    const QString path = writeTable(dir, true);
    const char* script = R"(
import sys, json, dbfread
t = dbfread.DBF(sys.argv[1], encoding='cp1251', char_decode_errors='strict')
out = []
for r in t:
    d = dict(r)
    d['BORN'] = d['BORN'].isoformat() if d['BORN'] else None
    out.append(d)
print(json.dumps({'numrecords': t.header.numrecords, 'deleted': len(list(t.deleted)), 'rows': out}, ensure_ascii=False))
)";
    const QJsonObject doc = QJsonDocument::fromJson(run(python, {"-c", script, path})).object();
    EXPECT_EQ(doc["numrecords"].toInt(), 5);
    EXPECT_EQ(doc["deleted"].toInt(), 1);
    const QJsonArray got = doc["rows"].toArray();
    ASSERT_EQ(got.size(), int(rows().size()));
    for (size_t i = 0; i < rows().size(); ++i) {
        const Row& r = rows()[i];
        const QJsonObject g = got[int(i)].toObject();
        SCOPED_TRACE(i);
        EXPECT_EQ(g["NAME"].toString(), r.name);
        EXPECT_EQ(g["BORN"].toString(), r.born.isValid() ? r.born.toString(Qt::ISODate) : QString());
        auto number = [&](const char* key, std::optional<double> want) {
            if (want)
                EXPECT_DOUBLE_EQ(g[key].toDouble(), *want) << key;
            else
                EXPECT_TRUE(g[key].isNull()) << key;
        };
        number("AGE", r.age);
        number("RATE", r.rate);
        number("RATIO", r.ratio);
        if (r.ok)
            EXPECT_EQ(g["OK"].toBool(), *r.ok);
        else
            EXPECT_TRUE(g["OK"].isNull());
        EXPECT_EQ(g["NOTE"].toString(), r.note);
    }
}

TEST(DbfInterop, GdalOgr2ogrReadsOurRows)
{
    const QString ogr = QStandardPaths::findExecutable("ogr2ogr");
    if (ogr.isEmpty())
        GTEST_SKIP() << "ogr2ogr (Debian package gdal-bin) is not installed";
    QTemporaryDir dir;
    const QString path = writeTable(dir, false);
    // No ENCODING option: GDAL must find the code page by itself (the .cpg beside the table).
    const QByteArray csv = run(ogr, {"-f", "CSV", "/vsistdout/", path});
    QStringList lines = QString::fromUtf8(csv).split(QStringLiteral("\n"), Qt::SkipEmptyParts);
    for (QString& l : lines)
        l.remove(QLatin1Char('\r'));
    ASSERT_EQ(lines.size(), 1 + int(rows().size())) << csv.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("NAME,BORN,AGE,RATE,RATIO,OK"));
    for (size_t i = 0; i < rows().size(); ++i) {
        const Row& r = rows()[i];
        const QStringList got = csvFields(lines[int(i) + 1]);
        SCOPED_TRACE(lines[int(i) + 1].toStdString());
        ASSERT_EQ(got.size(), 6);
        // GDAL drops leading blanks of texts (we keep them; dbfread shows them).
        EXPECT_EQ(got[0], QString(r.name).remove(QRegularExpression(QStringLiteral("^ +"))));
        EXPECT_EQ(got[1], r.born.isValid() ? r.born.toString(QStringLiteral("yyyy/MM/dd")) : QString());
        auto number = [&](const QString& text, std::optional<double> want) {
            if (want)
                EXPECT_DOUBLE_EQ(text.toDouble(), *want) << text.toStdString();
            else
                EXPECT_TRUE(text.isEmpty()) << text.toStdString();
        };
        number(got[2], r.age);
        number(got[3], r.rate);
        number(got[4], r.ratio);
        EXPECT_EQ(got[5], r.ok ? (*r.ok ? QStringLiteral("T") : QStringLiteral("F")) : QString());
    }
}
