// Tokenizer and parser: what is accepted, and that every refusal says what and where.
#include "engine/DataSet.h"
#include "engine/SqlLexer.h"
#include "engine/SqlParser.h"
#include "SqlMemoryTable.h"

#include <gtest/gtest.h>

namespace {

QString errorOf(const QString& sql)
{
    try {
        parseSql(sql);
    } catch (const EDatabaseError& e) {
        return e.message();
    }
    return QStringLiteral("(no error)");
}

} // namespace

TEST(SqlLexer, PositionsCountLinesAndColumns)
{
    const auto t = tokenizeSql(QStringLiteral("SELECT *\n  FROM \"/a b/t.dbf\"\r\n WHERE DAT>=\"1/2/2020\""));
    ASSERT_EQ(t.size(), 9u);
    EXPECT_EQ(t[2].text, QStringLiteral("FROM"));
    EXPECT_EQ(t[2].line, 2);
    EXPECT_EQ(t[2].column, 3);
    EXPECT_EQ(t[3].kind, SqlTokenKind::Text);
    EXPECT_EQ(t[3].text, QStringLiteral("/a b/t.dbf"));
    EXPECT_EQ(t[5].line, 3);
    EXPECT_EQ(t[5].column, 8);
    EXPECT_TRUE(t[6].isSymbol(">="));
    EXPECT_EQ(t[7].text, QStringLiteral("1/2/2020"));
    EXPECT_EQ(t[8].kind, SqlTokenKind::End);
}

TEST(SqlLexer, DoubledQuoteIsOneQuoteCharacter)
{
    const auto t = tokenizeSql(QStringLiteral("\"a\"\"b\" \"\"\", \"\"x\" 'it''s'"));
    EXPECT_EQ(t[0].text, QStringLiteral("a\"b"));
    EXPECT_EQ(t[1].text, QStringLiteral("\", \"x"));
    EXPECT_EQ(t[2].text, QStringLiteral("it's"));
    EXPECT_EQ(t[2].quote, QLatin1Char('\''));
}

TEST(SqlLexer, LineBreaksInsideTextsKeepLaterPositionsRight)
{
    const auto t = tokenizeSql(QStringLiteral("\"a\nb\"\n  X"));
    EXPECT_EQ(t[0].text, QStringLiteral("a\nb"));
    EXPECT_EQ(t[1].line, 3);
    EXPECT_EQ(t[1].column, 3);
}

TEST(SqlLexer, RefusesWithPosition)
{
    EXPECT_EQ(errorOf(QStringLiteral("SELECT * FROM \"/t.dbf\"\nWHERE NUM = \"12")),
              QStringLiteral("SQL error at line 2, column 13: text opened with \" is not closed"));
    EXPECT_EQ(errorOf(QStringLiteral("SELECT * FROM \"/t.dbf\" WHERE NUM = #1")),
              QStringLiteral("SQL error at line 1, column 36: unexpected character '#' (U+0023)"));
    EXPECT_TRUE(errorOf(QStringLiteral("SELECT \x01")).contains(QStringLiteral("U+0001")));
    // A character beyond the first 65,536 is named whole, not by the first of its two halves.
    EXPECT_TRUE(errorOf(QStringLiteral("SELECT 😀")).endsWith(QStringLiteral("'😀' (U+1F600)")));
    EXPECT_TRUE(errorOf(QStringLiteral("SELECT ") + QChar(0xD83D)).endsWith(QStringLiteral("character U+D83D")));
    // The longest statement is taken; one character more is refused before any token.
    const QString longest = QStringLiteral("SELECT") + QString(kSqlMaxStatementLength - 6, u' ');
    EXPECT_EQ(tokenizeSql(longest).size(), 2u);
    EXPECT_EQ(errorOf(longest + u' '),
              QStringLiteral("SQL error: the statement is 1048577 characters long; at most 1048576 are taken"));
}

TEST(SqlParser, AcceptsTheProgramsStatementsAndMore)
{
    SqlStatement s = parseSql(QStringLiteral("select * from \"/opt/lab/DB/HEMATIX.dbf\" where dat between \"2/5/2016\" and \"3/12/2016\";"));
    EXPECT_EQ(s.kind, SqlStatement::Kind::Select);
    EXPECT_EQ(s.table, QStringLiteral("/opt/lab/DB/HEMATIX.dbf"));
    EXPECT_TRUE(s.columns.empty());
    ASSERT_TRUE(s.where);
    EXPECT_EQ(s.where->kind, SqlExpr::Kind::Between);

    s = parseSql(QStringLiteral("SELECT NUM, fio FROM \"t\" WHERE NOT (DAT = \"1/1/2020\" OR DAT <> \"1/2/2020\") AND WBC IS NOT NULL AND HGB NOT BETWEEN -1 AND 2.5"));
    ASSERT_EQ(s.columns.size(), 2u);
    EXPECT_EQ(s.columns[1].name, QStringLiteral("fio"));
    EXPECT_EQ(s.where->kind, SqlExpr::Kind::And);
    ASSERT_EQ(s.where->children.size(), 3u);
    EXPECT_EQ(s.where->children[0]->kind, SqlExpr::Kind::Not);
    EXPECT_EQ(s.where->children[0]->children[0]->kind, SqlExpr::Kind::Or);
    EXPECT_TRUE(s.where->children[1]->negated);
    EXPECT_TRUE(s.where->children[2]->negated);
    EXPECT_EQ(s.where->children[2]->children[1]->text, QStringLiteral("-1"));

    s = parseSql(QStringLiteral("INSERT INTO \"t\" VALUES (\"a\", 1, NULL)"));
    EXPECT_EQ(s.kind, SqlStatement::Kind::Insert);
    EXPECT_TRUE(s.columns.empty());
    ASSERT_EQ(s.values.size(), 3u);
    EXPECT_EQ(s.values[2]->kind, SqlExpr::Kind::Null);
}

TEST(SqlParser, MalformedStatementsNameProblemAndPlace)
{
    const struct { const char* sql; const char* message; } cases[] = {
        {"", "SQL error at line 1, column 1: the statement is empty"},
        {"UPDATE \"t\" SET A = 1", "SQL error at line 1, column 1: statement 'UPDATE' is not supported (only SELECT and INSERT are)"},
        {"SELECT * \"t\"", "SQL error at line 1, column 10: expected FROM but found \"t\""},
        {"SELECT * FROM HEMATIX", "SQL error at line 1, column 15: expected the table's file name in double quotes but found 'HEMATIX'"},
        {"SELECT * FROM 't'", "SQL error at line 1, column 15: expected the table's file name in double quotes but found 't'"},
        {"SELECT * FROM \"t\" WHERE", "SQL error at line 1, column 24: expected a column or a value but found end of statement"},
        {"SELECT * FROM \"t\" WHERE DAT", "SQL error at line 1, column 28: expected a comparison (=, <>, <, <=, >, >=, BETWEEN or IS NULL) but found end of statement"},
        {"SELECT * FROM \"t\" WHERE DAT BETWEEN \"1/1/2020\"", "SQL error at line 1, column 47: expected AND but found end of statement"},
        {"SELECT * FROM \"t\" WHERE (DAT = \"1/1/2020\"", "SQL error at line 1, column 42: expected ')' but found end of statement"},
        {"SELECT * FROM \"t\" ORDER BY DAT", "SQL error at line 1, column 19: unexpected 'ORDER' after the end of the statement"},
        {"SELECT FROM \"t\"", "SQL error at line 1, column 8: expected a column name but found 'FROM'"},
        {"INSERT INTO \"t\" (A,) VALUES (\"1\")", "SQL error at line 1, column 20: expected a column name but found ')'"},
        {"INSERT INTO \"t\" (A)\n VALUES (\"1\" \"2\")", "SQL error at line 2, column 14: expected ')' but found \"2\""},
        {"INSERT INTO \"t\" (A) VALUES (B)", "SQL error at line 1, column 29: expected a value (a quoted text, a number or NULL) but found 'B'"},
        {"INSERT \"t\" (A) VALUES (1)", "SQL error at line 1, column 8: expected INTO but found \"t\""},
        {"INSERT INTO \"\" (A) VALUES (1)", "SQL error at line 1, column 13: the table's file name is empty"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorOf(QString::fromUtf8(c.sql)), QString::fromUtf8(c.message)) << c.sql;
}

TEST(SqlParser, DeepNestingIsRefusedNotRecursedInto)
{
    const QString deep = QStringLiteral("SELECT * FROM \"t\" WHERE ") + QString(100000, QLatin1Char('(')) + QStringLiteral("A = 1");
    EXPECT_TRUE(errorOf(deep).contains(QStringLiteral("nested more than 64 levels")));
    QString nots = QStringLiteral("SELECT * FROM \"t\" WHERE ");
    for (int i = 0; i < 100000; ++i)
        nots += QStringLiteral("NOT ");
    EXPECT_TRUE(errorOf(nots + QStringLiteral("A = 1")).contains(QStringLiteral("nested more than 64 levels")));

    // Nesting within the limit works, and long flat chains cost no depth.
    QString ok = QStringLiteral("SELECT * FROM \"t\" WHERE ") + QString(64, QLatin1Char('(')) + QStringLiteral("A = 1") + QString(64, QLatin1Char(')'));
    EXPECT_NO_THROW(parseSql(ok));
    QString chain = QStringLiteral("SELECT * FROM \"t\" WHERE A = 1");
    for (int i = 0; i < 50000; ++i)
        chain += QStringLiteral(" OR A = 1 AND B = 2");
    EXPECT_NO_THROW(parseSql(chain));
}
