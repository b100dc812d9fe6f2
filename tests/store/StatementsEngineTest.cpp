// The import's INSERT and the period query's SELECTs through the query object on a real result
// table file, as the program runs them.
#include "engine/DataSet.h"
#include "store/ResultTable.h"
#include "store/Statements.h"

#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class StatementsOnFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString folder;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        folder = dir.path() + QLatin1Char('/');
        resulttable::create(folder);
    }

    ImportedRow rowOf(const QString& date, const QString& num) const
    {
        ImportedRow r;
        r.date = date;
        r.time = QStringLiteral("14:03:07");
        r.num = num;
        for (size_t i = 0; i < r.values.size(); ++i)
            r.values[i] = QString::number(i + 1) + QStringLiteral(".5");
        return r;
    }

    void import(const ImportedRow& r)
    {
        TQuery q;
        q.SetName(QStringLiteral("Query1"));
        q.SQL = insertStatement(folder, r);
        q.ExecSQL();
        EXPECT_EQ(q.RowsAffected(), 1);
    }

    QStringList selected(const QString& sql)
    {
        TQuery q;
        q.SetName(QStringLiteral("Query1"));
        q.SQL = QStringList{sql};
        q.Open();
        QStringList nums;
        for (q.First(); !q.Eof(); q.Next())
            nums << q.FieldByName(QStringLiteral("NUM"))->AsString();
        return nums;
    }
};

} // namespace

TEST_F(StatementsOnFile, ImportedRowHasEmptyTextsAndNoValuesWhereNothingWasGiven)
{
    import(rowOf(QStringLiteral("06/05/2023"), QStringLiteral("000012345")));

    TTable t;
    t.SetName(QStringLiteral("Table1"));
    t.SetTableName(resulttable::tableFile(folder));
    t.Open();
    t.Last();
    EXPECT_EQ(t.RecNo(), 1);
    EXPECT_EQ(t.FieldByName(QStringLiteral("DAT"))->AsDate(), QDate(2023, 6, 5));
    EXPECT_EQ(t.FieldByName(QStringLiteral("TIM"))->AsString(), QStringLiteral("14:03:07"));
    EXPECT_EQ(t.FieldByName(QStringLiteral("NUM"))->AsString(), QStringLiteral("000012345"));
    EXPECT_EQ(t.FieldByName(QStringLiteral("WBC"))->AsString(), QStringLiteral("1.5"));
    EXPECT_EQ(t.FieldByName(QStringLiteral("RDV"))->AsString(), QStringLiteral("15.5"));
    EXPECT_EQ(t.FieldByName(QStringLiteral("PDW"))->AsString(), QStringLiteral("18.5"));
    for (const char* empty : {"FIO", "COE", "RECEPTION"})
        EXPECT_EQ(t.FieldByName(QString::fromLatin1(empty))->AsString(), QString()) << empty;
    for (const char* none : {"DOC", "RETIC", "FORMULA", "COMMENT"})
        EXPECT_TRUE(t.FieldByName(QString::fromLatin1(none))->IsNull()) << none;
}

TEST_F(StatementsOnFile, PeriodQueryFindsImportedRowsByDate)
{
    import(rowOf(QStringLiteral("06/04/2023"), QStringLiteral("1")));
    import(rowOf(QStringLiteral("06/05/2023"), QStringLiteral("2")));
    import(rowOf(QStringLiteral("06/05/2023"), QStringLiteral("3")));
    import(rowOf(QStringLiteral("12/31/2023"), QStringLiteral("4")));

    EXPECT_EQ(selected(singleDaySelect(folder, QDate(2023, 6, 5))), (QStringList{QStringLiteral("2"), QStringLiteral("3")}));
    EXPECT_EQ(selected(rangeSelect(folder, QDate(2023, 6, 1), QDate(2023, 6, 5))),
              (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    EXPECT_EQ(selected(rangeSelect(folder, QDate(2023, 6, 5), QDate(2023, 12, 31))),
              (QStringList{QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4")}));
    EXPECT_TRUE(selected(rangeSelect(folder, QDate(2023, 6, 6), QDate(2023, 6, 4))).isEmpty());
    EXPECT_TRUE(selected(singleDaySelect(folder, QDate(2023, 5, 6))).isEmpty());

    // A deleted row is not found.
    TTable t;
    t.SetTableName(resulttable::tableFile(folder));
    t.Open();
    t.SetRecNo(2);
    t.Delete();
    EXPECT_EQ(selected(singleDaySelect(folder, QDate(2023, 6, 5))), QStringList{QStringLiteral("3")});
}

TEST_F(StatementsOnFile, RefusedStatementsLeaveTheFileAsItWas)
{
    import(rowOf(QStringLiteral("06/05/2023"), QStringLiteral("1")));
    const QByteArray before = testsupport::readFile(resulttable::tableFile(folder));

    const QStringList bad = {
        insertStatement(folder, rowOf(QStringLiteral("13/45/2023"), QStringLiteral("2"))).join(QLatin1Char('\n')),
        insertStatement(folder, rowOf(QStringLiteral("06/05/2023"), QStringLiteral("123456789012"))).join(QLatin1Char('\n')),
        QStringLiteral("INSERT INTO %1 (NUM) VALUES (\"中\")").arg(quoted(resulttable::tableFile(folder))),
        QStringLiteral("INSERT INTO %1 (NUM VALUES (\"1\")").arg(quoted(resulttable::tableFile(folder))),
    };
    for (const QString& sql : bad) {
        TQuery q;
        q.SetName(QStringLiteral("Query1"));
        q.SQL = QStringList{sql};
        try {
            q.ExecSQL();
            ADD_FAILURE() << "accepted: " << sql.toStdString();
        } catch (const EDatabaseError& e) {
            EXPECT_TRUE(e.message().startsWith(QStringLiteral("Query1: "))) << e.message().toStdString();
        }
        EXPECT_EQ(testsupport::readFile(resulttable::tableFile(folder)), before) << sql.toStdString();
    }

    // A quote inside analyser text is stored as received.
    ImportedRow q = rowOf(QStringLiteral("06/05/2023"), QStringLiteral("\", \"x"));
    q.values[0] = QStringLiteral("\"");
    import(q);
    TTable t;
    t.SetTableName(resulttable::tableFile(folder));
    t.Open();
    t.Last();
    EXPECT_EQ(t.FieldByName(QStringLiteral("NUM"))->AsString(), QStringLiteral("\", \"x"));
    EXPECT_EQ(t.FieldByName(QStringLiteral("WBC"))->AsString(), QStringLiteral("\""));
}
