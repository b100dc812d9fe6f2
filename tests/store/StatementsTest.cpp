// The import's INSERT and the period query's SELECTs: their exact text, and that the engine reads
// them back to the same values and rows.
#include "store/ResultTable.h"
#include "store/Statements.h"
#include "engine/Sql.h"
#include "engine/SqlEval.h"
#include "engine/SqlMemoryTable.h"

#include <gtest/gtest.h>

namespace {

ImportedRow sampleOf5June2023()
{
    ImportedRow r;
    r.date = QStringLiteral("06/05/2023");
    r.time = QStringLiteral("14:03:07");
    r.num = QStringLiteral("000012345");
    const char* v[18] = {"6.4", "4.52", "138", "41.2", "245", "31.5", "6.2", "62.3", "2.0",
                         "0.4", "4.0", "91.2", "30.5", "335", "13.1", "8.4", "0.21", "15.6"};
    for (size_t i = 0; i < 18; ++i)
        r.values[i] = QString::fromLatin1(v[i]);
    return r;
}

} // namespace

TEST(Statements, InsertIsTheImportsEightLines)
{
    const QStringList lines = insertStatement(QStringLiteral("/opt/lab/"), sampleOf5June2023());
    const QStringList expected = {
        QStringLiteral("INSERT INTO \"/opt/lab/DB/HEMATIX.dbf\" (DAT,TIM,NUM,FIO,COE,RECEPTION,WBC,RBC,"),
        QStringLiteral("HGB,HCT,PLT,LY1,MO1,GR1,LY2,MO2,GR2,MCV,MCH,MCHC,RDV,MPV,PCT,PDW)"),
        QStringLiteral(" VALUES (\"06/05/2023\",\"14:03:07\",\"000012345\",\"\",\"\",\"\","),
        QStringLiteral("\"6.4\",\"4.52\",\"138\",\"41.2\","),
        QStringLiteral("\"245\",\"31.5\",\"6.2\",\"62.3\","),
        QStringLiteral("\"2.0\",\"0.4\",\"4.0\",\"91.2\","),
        QStringLiteral("\"30.5\",\"335\",\"13.1\",\"8.4\","),
        QStringLiteral("\"0.21\",\"15.6\")"),
    };
    EXPECT_EQ(lines, expected);
}

TEST(Statements, SelectsWriteDatesWithoutLeadingZerosAndTheYearInFull)
{
    const QString folder = QStringLiteral("/opt/lab/");
    EXPECT_EQ(singleDaySelect(folder, QDate(2016, 3, 1)),
              QStringLiteral("SELECT * FROM \"/opt/lab/DB/HEMATIX.dbf\" WHERE DAT = \"3/1/2016\""));
    EXPECT_EQ(rangeSelect(folder, QDate(2016, 2, 5), QDate(2016, 3, 12)),
              QStringLiteral("SELECT * FROM \"/opt/lab/DB/HEMATIX.dbf\" WHERE DAT BETWEEN \"2/5/2016\" AND \"3/12/2016\""));
    // Bounds stay as picked, even when the start is after the end.
    EXPECT_EQ(rangeSelect(folder, QDate(2023, 12, 31), QDate(2023, 1, 10)),
              QStringLiteral("SELECT * FROM \"/opt/lab/DB/HEMATIX.dbf\" WHERE DAT BETWEEN \"12/31/2023\" AND \"1/10/2023\""));
    EXPECT_EQ(resulttable::tableFile(folder), QStringLiteral("/opt/lab/DB/HEMATIX.dbf"));
}

TEST(Statements, QuotesInValuesAndFolderAreDoubled)
{
    EXPECT_EQ(quoted(QString()), QStringLiteral("\"\""));
    EXPECT_EQ(quoted(QStringLiteral("a\"b")), QStringLiteral("\"a\"\"b\""));
    EXPECT_EQ(quoted(QStringLiteral("\", \"x")), QStringLiteral("\"\"\", \"\"x\""));
    EXPECT_EQ(singleDaySelect(QStringLiteral("/opt/my \"lab\"/"), QDate(2020, 1, 2)),
              QStringLiteral("SELECT * FROM \"/opt/my \"\"lab\"\"/DB/HEMATIX.dbf\" WHERE DAT = \"1/2/2020\""));
}

TEST(Statements, TheEngineReadsThemBackExactly)
{
    // Analyser texts holding quotes, and a folder holding one, arrive in the table as they were.
    const QString folder = QStringLiteral("/opt/\"odd\" lab/");
    SqlMemoryOpener opener;
    auto table = std::make_shared<SqlMemoryTable>(resultColumnsForTest());
    opener.tables[resulttable::tableFile(folder)] = table;
    auto col = [&](const char* n) { return static_cast<size_t>(findSqlColumn(table->columns(), QString::fromLatin1(n))); };

    ImportedRow row = sampleOf5June2023();
    row.num = QStringLiteral("\", \"x");
    row.values[0] = QStringLiteral("\"");
    row.values[17] = QStringLiteral("1\"),(");
    SqlResult r = executeSql(insertStatement(folder, row).join(QLatin1Char('\n')), opener);
    EXPECT_EQ(r.rowsAffected, 1);
    ASSERT_EQ(table->rows.size(), 1u);
    const auto& stored = table->rows[0];
    EXPECT_EQ(std::get<QDate>(stored[col("DAT")]), QDate(2023, 6, 5));
    EXPECT_EQ(std::get<QString>(stored[col("TIM")]), QStringLiteral("14:03:07"));
    EXPECT_EQ(std::get<QString>(stored[col("NUM")]), QStringLiteral("\", \"x"));
    EXPECT_EQ(std::get<QString>(stored[col("WBC")]), QStringLiteral("\""));
    EXPECT_EQ(std::get<QString>(stored[col("PDW")]), QStringLiteral("1\"),("));
    EXPECT_EQ(std::get<QString>(stored[col("RDV")]), QStringLiteral("13.1"));
    for (const char* empty : {"FIO", "COE", "RECEPTION"})
        EXPECT_EQ(std::get<QString>(stored[col(empty)]), QString()) << empty;
    for (const char* none : {"DOC", "RETIC", "FORMULA", "COMMENT"})
        EXPECT_TRUE(std::holds_alternative<std::monostate>(stored[col(none)])) << none;

    // The row of 5 June 2023 is found by its single day and by a range around it, not outside.
    EXPECT_EQ(executeSql(singleDaySelect(folder, QDate(2023, 6, 5)), opener).rows->rowCount(), 1);
    EXPECT_EQ(executeSql(rangeSelect(folder, QDate(2023, 6, 1), QDate(2023, 6, 5)), opener).rows->rowCount(), 1);
    EXPECT_EQ(executeSql(rangeSelect(folder, QDate(2023, 6, 5), QDate(2024, 1, 1)), opener).rows->rowCount(), 1);
    EXPECT_EQ(executeSql(rangeSelect(folder, QDate(2023, 6, 6), QDate(2023, 6, 1)), opener).rows->rowCount(), 0);
    EXPECT_EQ(executeSql(singleDaySelect(folder, QDate(2023, 5, 6)), opener).rows->rowCount(), 0);
}
