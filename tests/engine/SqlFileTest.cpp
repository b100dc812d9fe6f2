// Statements against real table files: the scan that reads record bytes, dates stored invalid,
// deleted and torn records, memo values, and results kept in memory or read back from the file.
#include "engine/DbfFile.h"
#include "engine/DbfSqlTable.h"
#include "engine/Sql.h"
#include "engine/SqlParser.h"
#include "engine/SqlScan.h"
#include "SqlMemoryTable.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <random>

namespace {

class SqlOnFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path;
    DbfTableOpener opener;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.path() + QStringLiteral("/T.dbf");
        DbfFile::create(path, {{QStringLiteral("DAT"), 'D', 8, 0},
                               {QStringLiteral("NUM"), 'C', 10, 0},
                               {QStringLiteral("AGE"), 'N', 3, 0},
                               {QStringLiteral("NOTE"), 'M', 10, 0}});
    }

    SqlResult exec(const QString& sql) { return executeSql(sql, opener); }

    void insert(const char* date, const char* num, const char* age = "", const char* note = "")
    {
        exec(QStringLiteral("INSERT INTO \"%1\" (DAT,NUM,AGE,NOTE) VALUES (\"%2\",\"%3\",\"%4\",\"%5\")")
                 .arg(path, QLatin1String(date), QLatin1String(num), QLatin1String(age), QString::fromUtf8(note)));
    }

    QStringList nums(const QString& where)
    {
        SqlResult r = exec(QStringLiteral("SELECT NUM FROM \"%1\" WHERE %2").arg(path, where));
        QStringList out;
        for (int i = 0; i < r.rows->rowCount(); ++i) {
            const SqlValue v = r.rows->value(i, 0);
            out << (std::holds_alternative<QString>(v) ? std::get<QString>(v) : QStringLiteral("-"));
        }
        return out;
    }

    // Overwrites bytes of a record's field in the file.
    void patchField(int row, const char* field, const QByteArray& bytes)
    {
        int offset = 0, headerLength = 0, recordLength = 0;
        {
            DbfFile f(path, DbfFile::Access::ReadOnly);
            offset = f.fields()[static_cast<size_t>(f.fieldIndex(QLatin1String(field)))].offset;
            headerLength = f.headerLength();
            recordLength = f.recordLength();
        }
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.seek(qint64(headerLength) + qint64(row) * recordLength + offset);
        file.write(bytes);
    }
};

} // namespace

TEST_F(SqlOnFile, ValuesOfEveryKindComeBackFromTheFile)
{
    insert("6/5/2023", "1", "42", "Первая строка\nвторая");
    insert("06/06/2023", "2");
    SqlResult r = exec(QStringLiteral("SELECT * FROM \"%1\" WHERE DAT BETWEEN \"6/5/2023\" AND \"6/6/2023\"").arg(path));
    ASSERT_EQ(r.rows->rowCount(), 2);
    EXPECT_EQ(std::get<QDate>(r.rows->value(0, 0)), QDate(2023, 6, 5));
    EXPECT_EQ(std::get<QString>(r.rows->value(0, 1)), QStringLiteral("1"));
    EXPECT_EQ(std::get<double>(r.rows->value(0, 2)), 42.0);
    EXPECT_EQ(std::get<QString>(r.rows->value(0, 3)), QStringLiteral("Первая строка\nвторая"));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(r.rows->value(1, 2)));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(r.rows->value(1, 3)));
    EXPECT_EQ(r.rows->recNo(1), 2);
}

TEST_F(SqlOnFile, DatesStoredInvalidNeverMatchAndDoNotHarmTheScan)
{
    insert("6/5/2023", "good");
    insert("6/5/2023", "month13");
    insert("6/5/2023", "junk");
    insert("6/5/2023", "blank");
    patchField(1, "DAT", "20231345");
    patchField(2, "DAT", "2023\x01\xff-5");
    patchField(3, "DAT", "        ");

    EXPECT_EQ(nums(QStringLiteral("DAT = \"6/5/2023\"")), QStringList{QStringLiteral("good")});
    EXPECT_EQ(nums(QStringLiteral("DAT <> \"1/1/2000\"")), QStringList{QStringLiteral("good")});
    EXPECT_EQ(nums(QStringLiteral("NOT DAT BETWEEN \"1/1/2000\" AND \"1/1/2001\"")), QStringList{QStringLiteral("good")});
    EXPECT_EQ(nums(QStringLiteral("DAT IS NULL")), QStringList{QStringLiteral("blank")});
    // The rows themselves are still there and read without harm.
    EXPECT_EQ(nums(QStringLiteral("NUM <> \"\"")).size(), 4);
}

// The scan tests a date condition on the stored digits; read value by value, the same table must
// give the same rows for every comparison, at the edges of each range and for bytes that are no
// day.
TEST_F(SqlOnFile, DatesTestedOnStoredDigitsMatchAsValueByValue)
{
    const QByteArray stored[] = {"20230604", "20230605", "20230606", "20230630", "20230701", "20221231",
                                 "20230231", "20231345", "00000000", "        ", QByteArray(8, '\0'),
                                 "2023 605", "2023060\x01", "2023060:", "202306/5", "99991231", "00010101", "20230605"};
    const int count = int(std::size(stored));
    for (int i = 0; i < count; ++i) {
        insert("1/1/2000", QByteArray::number(i).constData());
        patchField(i, "DAT", stored[i]);
    }
    {
        DbfFile f(path, DbfFile::Access::ReadWrite);
        f.setDeleted(count - 1, true);
    }
    // The same table seen only through SqlTable, so that the scan reads it value by value.
    struct ValueByValue final : SqlTable {
        SqlTable& t;
        explicit ValueByValue(SqlTable& table) : t(table) {}
        const std::vector<SqlColumn>& columns() const override { return t.columns(); }
        int rowCount() override { return t.rowCount(); }
        bool isDeleted(int row) override { return t.isDeleted(row); }
        SqlValue value(int row, int column) override { return t.value(row, column); }
        void append(const std::vector<SqlValue>& row) override { t.append(row); }
    };
    auto table = opener.open(path);
    ValueByValue slow(*table);

    const char* const conditions[] = {
        "DAT = \"6/5/2023\"", "DAT <> \"06/05/2023\"", "DAT < \"6/5/2023\"", "DAT <= \"6/5/2023\"",
        "DAT > \"6/5/2023\"", "DAT >= \"6/5/2023\"", "\"6/5/2023\" < DAT", "\"6/5/2023\" >= DAT",
        "DAT BETWEEN \"6/5/2023\" AND \"06/30/2023\"", "DAT NOT BETWEEN \"2/1/2023\" AND \"6/5/2023\"",
        "NOT DAT BETWEEN \"1/1/2023\" AND \"12/31/2023\"", "NOT NOT DAT = \"6/5/2023\"",
        "DAT BETWEEN \"6/30/2023\" AND \"6/5/2023\"", "DAT >= \"12/31/9999\"", "DAT <= \"1/1/0001\"",
        "DAT < \"3/1/2023\" AND DAT > \"2/27/2023\"",
    };
    for (const char* c : conditions) {
        const SqlStatement st = parseSql(QStringLiteral("SELECT * FROM \"%1\" WHERE %2").arg(path, QLatin1String(c)));
        const SqlCondition cond(*st.where, table->columns(), path);
        EXPECT_EQ(selectSqlRows(*table, &cond).rows, selectSqlRows(slow, &cond).rows) << c;
    }
    EXPECT_EQ(nums(QStringLiteral("DAT BETWEEN \"6/5/2023\" AND \"6/30/2023\"")),
              (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
}

TEST_F(SqlOnFile, DeletedAndTornRecordsAreNotReturned)
{
    insert("6/5/2023", "1");
    insert("6/5/2023", "2");
    insert("6/5/2023", "3");
    {
        DbfFile f(path, DbfFile::Access::ReadWrite);
        f.setDeleted(1, true);
    }
    // Half a record after the last one, as a crash in the middle of a write leaves it.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    if (bytes.endsWith('\x1A'))
        bytes.chop(1);
    bytes += QByteArray(" 20230605", 9);
    file.seek(0);
    file.write(bytes);
    file.resize(bytes.size());
    file.close();

    EXPECT_EQ(nums(QStringLiteral("DAT = \"6/5/2023\"")), (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
}

TEST_F(SqlOnFile, KeptAndReReadResultsAgree)
{
    for (int i = 0; i < 300; ++i)
        insert(i % 3 ? "6/5/2023" : "6/6/2023", QByteArray::number(i).constData(), QByteArray::number(i % 100).constData(),
               i % 7 ? "" : "заметка");
    auto table = opener.open(path);
    SqlExpr where;
    where.kind = SqlExpr::Kind::Compare;
    auto col = std::make_unique<SqlExpr>();
    col->kind = SqlExpr::Kind::Column;
    col->text = QStringLiteral("DAT");
    auto lit = std::make_unique<SqlExpr>();
    lit->kind = SqlExpr::Kind::Text;
    lit->text = QStringLiteral("6/5/2023");
    where.children.push_back(std::move(col));
    where.children.push_back(std::move(lit));
    const SqlCondition cond(where, table->columns(), path);

    SqlSelection kept = selectSqlRows(*table, &cond);
    SqlSelection reread = selectSqlRows(*table, &cond, /*keepLimit*/ 1000);
    ASSERT_TRUE(kept.kept);
    EXPECT_FALSE(reread.kept);   // 1000 bytes hold too few records: the result reads the file
    ASSERT_EQ(kept.rows, reread.rows);
    ASSERT_EQ(kept.rows.size(), 200u);

    std::shared_ptr<SqlTable> shared = std::move(table);
    std::vector<int> all = {0, 1, 2, 3};
    SqlRowSet a(shared, shared->columns(), all, kept.rows, std::move(kept.kept));
    SqlRowSet b(shared, shared->columns(), all, reread.rows, nullptr);
    for (int i = 0; i < a.rowCount(); ++i) {
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(a.value(i, c), b.value(i, c)) << i << "," << c;
        QString fromCopy, fromFile;
        a.text(i, 1, fromCopy);
        b.text(i, 1, fromFile);
        EXPECT_EQ(fromCopy, std::get<QString>(b.value(i, 1))) << i;
        EXPECT_EQ(fromFile, fromCopy) << i;
    }
}

TEST_F(SqlOnFile, MutatedStatementsNeverHarmTheFile)
{
    insert("6/5/2023", "1", "7", "note");
    const QString seeds[] = {
        QStringLiteral("INSERT INTO \"%1\" (DAT,NUM,AGE,NOTE) VALUES (\"6/5/2023\",\"a\"\"b\",\"12\",\"x\")").arg(path),
        QStringLiteral("SELECT NUM, NOTE FROM \"%1\" WHERE DAT BETWEEN \"6/1/2023\" AND \"6/30/2023\" OR NOT AGE < 5").arg(path),
    };
    std::mt19937 rng(11);
    for (int round = 0; round < 400; ++round) {
        QString sql = seeds[rng() % 2];
        for (int e = 0, n = 1 + int(rng() % 4); e < n; ++e) {
            const qsizetype at = static_cast<qsizetype>(rng() % static_cast<unsigned>(sql.size() + 1));
            if (rng() % 2)
                sql.remove(at, 1 + static_cast<qsizetype>(rng() % 4));
            else
                sql.insert(at, QChar(QLatin1String("\"(),=9X/ -")[static_cast<qsizetype>(rng() % 10)]));
        }
        const QByteArray before = QFile::exists(path) ? [&] { QFile f(path); f.open(QIODevice::ReadOnly); return f.readAll(); }() : QByteArray();
        try {
            SqlResult r = exec(sql);
            if (r.hasRows)
                for (int i = 0; i < r.rows->rowCount(); ++i)
                    for (int c = 0; c < static_cast<int>(r.rows->columns().size()); ++c)
                        (void)r.rows->value(i, c);
        } catch (const EDatabaseError& e) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), before) << "refused but written: " << sql.toStdString() << " / " << e.message().toStdString();
        }
    }
}
