// Running statements against a table held in memory: selection by date, conditions, INSERT
// conversions, and refusals that leave the table as it was.
#include "engine/Sql.h"
#include "engine/SqlEval.h"
#include "engine/SqlParser.h"
#include "SqlMemoryTable.h"

#include <gtest/gtest.h>

namespace {

const QString kPath = QStringLiteral("/opt/lab/DB/HEMATIX.dbf");

class SqlExec : public ::testing::Test {
protected:
    SqlMemoryOpener opener;
    std::shared_ptr<SqlMemoryTable> table = std::make_shared<SqlMemoryTable>(resultColumnsForTest());

    void SetUp() override { opener.tables[kPath] = table; }

    int col(const char* name) const { return findSqlColumn(table->columns(), QString::fromLatin1(name)); }

    void addSample(const QDate& d, const QString& num, bool deleted = false)
    {
        std::vector<SqlValue> r(table->columns().size());
        r[static_cast<size_t>(col("DAT"))] = d;
        r[static_cast<size_t>(col("NUM"))] = num;
        r[static_cast<size_t>(col("FIO"))] = QStringLiteral("Иванов И.И.");
        table->add(r, deleted);
    }

    // NUM of every returned row, in order.
    QStringList nums(const QString& sql)
    {
        SqlResult res = executeSql(sql, opener);
        EXPECT_TRUE(res.hasRows);
        QStringList out;
        const int c = findSqlColumn(res.rows->columns(), QStringLiteral("NUM"));
        for (int i = 0; i < res.rows->rowCount(); ++i) {
            const SqlValue v = res.rows->value(i, c);
            out << (std::holds_alternative<QString>(v) ? std::get<QString>(v) : QStringLiteral("?"));
        }
        return out;
    }

    QString errorOf(const QString& sql)
    {
        try {
            executeSql(sql, opener);
        } catch (const EDatabaseError& e) {
            return e.message();
        }
        return QStringLiteral("(no error)");
    }

    QString select(const QString& where) { return QStringLiteral("SELECT * FROM \"%1\" WHERE %2").arg(kPath, where); }
};

} // namespace

TEST_F(SqlExec, DatesMatchWithAndWithoutLeadingZerosBothEndsIncluded)
{
    addSample(QDate(2023, 6, 4), QStringLiteral("1"));
    addSample(QDate(2023, 6, 5), QStringLiteral("2"));
    addSample(QDate(2023, 6, 5), QStringLiteral("3"), /*deleted*/ true);
    addSample(QDate(2023, 6, 6), QStringLiteral("4"));
    addSample(QDate(2023, 6, 5), QStringLiteral("5"));
    addSample(QDate(2023, 7, 1), QStringLiteral("6"));

    const QStringList day = {QStringLiteral("2"), QStringLiteral("5")};
    EXPECT_EQ(nums(select(QStringLiteral("DAT = \"6/5/2023\""))), day);
    EXPECT_EQ(nums(select(QStringLiteral("DAT = \"06/05/2023\""))), day);
    EXPECT_EQ(nums(select(QStringLiteral("DAT = \"06/5/2023\""))), day);

    // Both ends included, rows in file order, deleted rows never.
    EXPECT_EQ(nums(select(QStringLiteral("DAT BETWEEN \"6/5/2023\" AND \"6/6/2023\""))),
              (QStringList{QStringLiteral("2"), QStringLiteral("4"), QStringLiteral("5")}));
    EXPECT_EQ(nums(select(QStringLiteral("DAT\nBETWEEN\n\"06/04/2023\"   AND \"7/1/2023\""))).size(), 5);
    // Compared as dates, not as texts: "10/1/2022" sorts before "6/..." as text but not as a date.
    EXPECT_TRUE(nums(select(QStringLiteral("DAT BETWEEN \"10/1/2023\" AND \"12/31/2023\""))).isEmpty());
    EXPECT_EQ(nums(select(QStringLiteral("DAT BETWEEN \"10/1/2022\" AND \"6/4/2023\""))), QStringList{QStringLiteral("1")});

    // Start after end selects nothing.
    EXPECT_TRUE(nums(select(QStringLiteral("DAT BETWEEN \"6/6/2023\" AND \"6/5/2023\""))).isEmpty());
    EXPECT_TRUE(nums(select(QStringLiteral("DAT = \"6/7/2023\""))).isEmpty());
}

TEST_F(SqlExec, RecordNumbersArePlacesInTheFile)
{
    addSample(QDate(2023, 6, 4), QStringLiteral("1"));
    addSample(QDate(2023, 6, 5), QStringLiteral("2"), true);
    addSample(QDate(2023, 6, 5), QStringLiteral("3"));
    SqlResult r = executeSql(select(QStringLiteral("DAT = \"6/5/2023\"")), opener);
    ASSERT_EQ(r.rows->rowCount(), 1);
    EXPECT_EQ(r.rows->recNo(0), 3);
}

TEST_F(SqlExec, DatesStoredInvalidOrMissingNeverMatch)
{
    addSample(QDate(2023, 6, 5), QStringLiteral("good"));
    addSample(QDate(), QStringLiteral("invalid"));   // e.g. 20231345 in the file
    table->add({});                                  // no date at all
    table->rows.back()[static_cast<size_t>(col("NUM"))] = QStringLiteral("blank");

    EXPECT_EQ(nums(select(QStringLiteral("DAT <> \"6/5/2023\""))), QStringList{});
    EXPECT_EQ(nums(select(QStringLiteral("NOT DAT = \"6/5/2023\""))), QStringList{});
    EXPECT_EQ(nums(select(QStringLiteral("NOT (DAT BETWEEN \"1/1/1900\" AND \"1/1/1901\")"))), QStringList{QStringLiteral("good")});
    EXPECT_EQ(nums(select(QStringLiteral("DAT IS NULL"))), QStringList{QStringLiteral("blank")});
    EXPECT_EQ(nums(select(QStringLiteral("DAT IS NOT NULL"))), QStringList{QStringLiteral("good")});
    EXPECT_EQ(nums(select(QStringLiteral("NOT (DAT = \"6/5/2023\" OR DAT = \"6/6/2023\")"))), QStringList{});
    EXPECT_EQ(nums(select(QStringLiteral("DAT = \"6/6/2023\" OR DAT = \"6/5/2023\""))), QStringList{QStringLiteral("good")});
    // Unknown OR true is true.
    EXPECT_EQ(nums(select(QStringLiteral("DAT = \"6/5/2023\" OR NUM = \"invalid\""))),
              (QStringList{QStringLiteral("good"), QStringLiteral("invalid")}));
}

TEST_F(SqlExec, ColumnListsComparisonsAndLogic)
{
    for (int d = 1; d <= 6; ++d)
        addSample(QDate(2023, 1, d), QString::number(d));

    SqlResult r = executeSql(QStringLiteral("select num, Dat from \"%1\" where dat > \"1/4/2023\"").arg(kPath), opener);
    ASSERT_EQ(r.rows->columns().size(), 2u);
    EXPECT_EQ(r.rows->columns()[0].name, QStringLiteral("NUM"));
    EXPECT_EQ(r.rows->columns()[1].type, TFieldType::Date);
    ASSERT_EQ(r.rows->rowCount(), 2);
    EXPECT_EQ(std::get<QDate>(r.rows->value(1, 1)), QDate(2023, 1, 6));

    EXPECT_EQ(nums(select(QStringLiteral("DAT <= \"1/2/2023\" OR DAT >= \"1/6/2023\""))),
              (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("6")}));
    EXPECT_EQ(nums(select(QStringLiteral("DAT < \"1/3/2023\" AND NOT NUM = \"1\""))), QStringList{QStringLiteral("2")});
    EXPECT_EQ(nums(select(QStringLiteral("(NUM = \"1\" OR NUM = \"5\") AND DAT NOT BETWEEN \"1/4/2023\" AND \"1/9/2023\""))),
              QStringList{QStringLiteral("1")});
    EXPECT_EQ(nums(select(QStringLiteral("FIO = \"Иванов И.И.\" AND NUM <> \"3\""))).size(), 5);
    // Equalities on one column are looked up; the rest of the OR stays as written.
    EXPECT_EQ(nums(select(QStringLiteral("NUM = \"5\" OR \"1\" = NUM OR NUM = \"3\" OR NUM = \"9\""))),
              (QStringList{QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("5")}));
    EXPECT_EQ(nums(select(QStringLiteral("NOT (NUM = \"1\" OR NUM = \"2\" OR NUM = \"3\" OR NUM = \"4\")"))),
              (QStringList{QStringLiteral("5"), QStringLiteral("6")}));
    EXPECT_EQ(nums(select(QStringLiteral("NUM = \"1\" OR DAT > \"1/5/2023\" OR NUM = \"2\" OR DAT = \"1/3/2023\""))),
              (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("6")}));
    // A NULL term is unknown for every row: NOT of the OR is then never true.
    EXPECT_EQ(nums(select(QStringLiteral("NUM = \"1\" OR NUM = NULL OR NUM = \"2\""))),
              (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
    EXPECT_EQ(nums(select(QStringLiteral("NOT (NUM = \"1\" OR NUM = NULL OR NUM = \"2\")"))), QStringList{});
    EXPECT_EQ(nums(QStringLiteral("SELECT * FROM \"%1\"").arg(kPath)).size(), 6);
}

TEST_F(SqlExec, LongOrOfEqualitiesOnOneColumnReadsTheRowOnce)
{
    struct CountingRow final : SqlRowSource {
        QString num;
        int reads = 0;
        SqlValue value(int) override
        {
            ++reads;
            return num;
        }
    };
    QStringList terms;
    for (int i = 0; i < 10000; ++i)
        terms << QStringLiteral("NUM = \"%1\"").arg(i * 2);
    const SqlStatement st = parseSql(select(terms.join(QStringLiteral(" OR "))));
    const SqlCondition where(*st.where, table->columns(), kPath);
    for (const char* num : {"0", "19998", "9999", "10000", ""}) {
        CountingRow row;
        row.num = QString::fromLatin1(num);
        EXPECT_EQ(where.matches(row), row.num.size() > 0 && row.num.toInt() % 2 == 0) << num;
        EXPECT_EQ(row.reads, 1) << num;
    }
}

TEST_F(SqlExec, BlankTextFieldsCompareAsEmptyText)
{
    // A character field of blanks reads as no value; a condition on the empty text finds it.
    addSample(QDate(2023, 6, 5), QStringLiteral("1"));
    table->add({QDate(2023, 6, 5), std::monostate{}, QStringLiteral("2")});
    EXPECT_EQ(nums(select(QStringLiteral("FIO = \"\""))), QStringList{QStringLiteral("2")});
    EXPECT_EQ(nums(select(QStringLiteral("FIO <> \"\""))), QStringList{QStringLiteral("1")});
    EXPECT_EQ(nums(select(QStringLiteral("FIO IS NULL"))), QStringList{QStringLiteral("2")});
    EXPECT_EQ(nums(select(QStringLiteral("FIO < \"А\""))), QStringList{QStringLiteral("2")});
}

TEST_F(SqlExec, NumbersAndLogicalColumnsCompareByValue)
{
    std::vector<SqlColumn> cols = {{QStringLiteral("NUM"), TFieldType::String, 9, 0},
                                   {QStringLiteral("AGE"), TFieldType::Integer, 3, 0},
                                   {QStringLiteral("HB"), TFieldType::Float, 6, 1},
                                   {QStringLiteral("OK"), TFieldType::Boolean, 1, 0}};
    auto t = std::make_shared<SqlMemoryTable>(cols);
    opener.tables[QStringLiteral("/n.dbf")] = t;
    t->add({QStringLiteral("a"), 9.0, 120.5, true});
    t->add({QStringLiteral("b"), 10.0, -3.0, false});
    t->add({QStringLiteral("c"), std::monostate{}, 80.0, std::monostate{}});

    auto count = [&](const char* where) {
        return executeSql(QStringLiteral("SELECT * FROM \"/n.dbf\" WHERE %1").arg(QLatin1String(where)), opener).rows->rowCount();
    };
    EXPECT_EQ(count("AGE < 10"), 1);          // 9 < 10 as numbers, not as texts
    EXPECT_EQ(count("AGE >= \"9\""), 2);
    EXPECT_EQ(count("HB > -3.5 AND HB < 100"), 2);
    EXPECT_EQ(count("HB = -3"), 1);
    EXPECT_EQ(count("OK = \"T\""), 1);
    EXPECT_EQ(count("OK = \"f\""), 1);
    EXPECT_EQ(count("AGE = 9 OR AGE = 10.0 OR AGE = 11"), 2);
    EXPECT_EQ(count("NOT (AGE = 9 OR AGE = 11)"), 1);   // no age: unknown, not false
    EXPECT_EQ(count("HB = -3 OR HB = 120.5"), 2);
    EXPECT_EQ(count("OK = \"T\" OR OK = \"F\""), 2);
    EXPECT_EQ(count("AGE IS NULL"), 1);
    EXPECT_EQ(count("AGE = NULL"), 0);       // a comparison with no value is never true
    EXPECT_EQ(count("1 = 1"), 3);
    EXPECT_EQ(count("\"a\" = \"b\""), 0);
}

TEST_F(SqlExec, ConditionsThatCannotMeanAnythingAreRefusedWithPlace)
{
    addSample(QDate(2023, 6, 5), QStringLiteral("1"));
    const struct { const char* where; const char* message; } cases[] = {
        {"DAT = \"13/45/2023\"", "SQL error at line 1, column 53: '13/45/2023' is not a date (month/day/year) to compare with column DAT"},
        {"DAT = \"2023-06-05\"", "SQL error at line 1, column 53: '2023-06-05' is not a date (month/day/year) to compare with column DAT"},
        {"DAT BETWEEN \"6/5/2023\" AND \"6/31/2023\"", "SQL error at line 1, column 74: '6/31/2023' is not a date (month/day/year) to compare with column DAT"},
        {"DAT = 5", "SQL error at line 1, column 53: the number 5 is not a date to compare with column DAT; write month/day/year in quotes"},
        {"NUM = 5", "SQL error at line 1, column 53: the number 5 cannot be compared with column NUM (text); write it in quotes"},
        {"XYZ = \"1\"", "SQL error at line 1, column 47: column 'XYZ' not found in table /opt/lab/DB/HEMATIX.dbf"},
        {"DAT = NUM", "SQL error at line 1, column 53: column NUM (text) cannot be compared with DAT (date)"},
        {"\"a\" = 1", "SQL error at line 1, column 53: a number cannot be compared with a text"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorOf(select(QString::fromUtf8(c.where))), QString::fromUtf8(c.message)) << c.where;
    EXPECT_EQ(errorOf(QStringLiteral("SELECT NUM, NOPE FROM \"%1\"").arg(kPath)),
              QStringLiteral("SQL error at line 1, column 13: column 'NOPE' not found in table /opt/lab/DB/HEMATIX.dbf"));
    EXPECT_EQ(errorOf(QStringLiteral("SELECT * FROM \"/missing.dbf\"")), QStringLiteral("Table does not exist: /missing.dbf"));
}

TEST_F(SqlExec, InsertConvertsEachTextToItsColumnsType)
{
    std::vector<SqlColumn> cols = {{QStringLiteral("DAT"), TFieldType::Date, 8, 0},
                                   {QStringLiteral("NUM"), TFieldType::String, 9, 0},
                                   {QStringLiteral("AGE"), TFieldType::Integer, 3, 0},
                                   {QStringLiteral("HB"), TFieldType::Float, 6, 1},
                                   {QStringLiteral("OK"), TFieldType::Boolean, 1, 0},
                                   {QStringLiteral("NOTE"), TFieldType::Memo, 10, 0}};
    auto t = std::make_shared<SqlMemoryTable>(cols);
    opener.tables[QStringLiteral("/n.dbf")] = t;

    SqlResult r = executeSql(QStringLiteral("insert into \"/n.dbf\" (ok, hb, age, num, dat, note)\n values (\"Y\", \" 12.5\", 42, \"000123\", \"6/5/2023\", \"заметка\")"), opener);
    EXPECT_FALSE(r.hasRows);
    EXPECT_EQ(r.rowsAffected, 1);
    ASSERT_EQ(t->rows.size(), 1u);
    const auto& row = t->rows[0];
    EXPECT_EQ(std::get<QDate>(row[0]), QDate(2023, 6, 5));
    EXPECT_EQ(std::get<QString>(row[1]), QStringLiteral("000123"));
    EXPECT_EQ(std::get<double>(row[2]), 42.0);
    EXPECT_EQ(std::get<double>(row[3]), 12.5);
    EXPECT_EQ(std::get<bool>(row[4]), true);
    EXPECT_EQ(std::get<QString>(row[5]), QStringLiteral("заметка"));

    // Empty texts: an empty text in a character column, no value in any other; columns not named
    // get no value.
    executeSql(QStringLiteral("INSERT INTO \"/n.dbf\" (DAT,NUM,AGE,HB,OK) VALUES (\"\",\"\",\"\",\"\",\"\")"), opener);
    const auto& e = t->rows[1];
    EXPECT_TRUE(std::holds_alternative<std::monostate>(e[0]));
    EXPECT_EQ(std::get<QString>(e[1]), QString());
    for (size_t i = 2; i < 6; ++i)
        EXPECT_TRUE(std::holds_alternative<std::monostate>(e[i])) << i;

    // Without a column list the values go to the columns in table order.
    executeSql(QStringLiteral("INSERT INTO \"/n.dbf\" VALUES (\"01/02/2024\", \"x\", -7, 0.5, \"F\", NULL)"), opener);
    EXPECT_EQ(std::get<QDate>(t->rows[2][0]), QDate(2024, 1, 2));
    EXPECT_EQ(std::get<double>(t->rows[2][2]), -7.0);
}

TEST_F(SqlExec, BadValuesAreRefusedAndNothingIsWritten)
{
    addSample(QDate(2023, 6, 5), QStringLiteral("1"));
    const auto before = table->rows;
    const QString head = QStringLiteral("INSERT INTO \"%1\" (DAT,TIM,NUM) VALUES (").arg(kPath);
    const struct { const char* values; const char* message; } cases[] = {
        {"\"13/45/2023\",\"\",\"\")", "Value '13/45/2023' for column DAT is not a date (month/day/year) (line 1, column 61)"},
        {"\"6/5/23\",\"\",\"\")", "Value '6/5/23' for column DAT is not a date (month/day/year) (line 1, column 61)"},
        {"\"2/29/2023\",\"\",\"\")", "Value '2/29/2023' for column DAT is not a date (month/day/year) (line 1, column 61)"},
        {"\"6/5/2023\",\"\",\"1234567890\")", "Value '1234567890' for column NUM is too long: 10 characters, the field holds 9 (line 1, column 75)"},
        {"\"6/5/2023\",\"\")", "SQL error at line 1, column 72: 3 columns but 2 values"},
        {"\"6/5/2023\",\"\",\"\",\"\")", "SQL error at line 1, column 78: 3 columns but 4 values"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errorOf(head + QString::fromUtf8(c.values)), QString::fromUtf8(c.message)) << c.values;
        EXPECT_EQ(table->rows, before);
    }
    EXPECT_EQ(errorOf(QStringLiteral("INSERT INTO \"%1\" (NUM,num) VALUES (\"1\",\"2\")").arg(kPath)),
              QStringLiteral("SQL error at line 1, column 44: column NUM is named twice"));
    EXPECT_EQ(table->rows, before);
}

TEST_F(SqlExec, QuotesInsideValuesAreStoredExactly)
{
    executeSql(QStringLiteral("INSERT INTO \"%1\" (NUM,FIO,RECEPTION) VALUES (\"a\"\"b\",\"\"\", \"\"x\",\"\"\"\")").arg(kPath), opener);
    ASSERT_EQ(table->rows.size(), 1u);
    EXPECT_EQ(std::get<QString>(table->rows[0][static_cast<size_t>(col("NUM"))]), QStringLiteral("a\"b"));
    EXPECT_EQ(std::get<QString>(table->rows[0][static_cast<size_t>(col("FIO"))]), QStringLiteral("\", \"x"));
    EXPECT_EQ(std::get<QString>(table->rows[0][static_cast<size_t>(col("RECEPTION"))]), QStringLiteral("\""));
}

TEST(SqlDate, MonthDayYearOnly)
{
    EXPECT_EQ(parseSqlDate(QStringLiteral("6/5/2023")), QDate(2023, 6, 5));
    EXPECT_EQ(parseSqlDate(QStringLiteral("06/05/2023")), QDate(2023, 6, 5));
    EXPECT_EQ(parseSqlDate(QStringLiteral("12/31/1999")), QDate(1999, 12, 31));
    EXPECT_EQ(parseSqlDate(QStringLiteral("2/29/2024")), QDate(2024, 2, 29));
    for (const char* bad : {"", "/", "//", "6/5", "6/5/", "6/5/2023/1", "006/5/2023", "6/5/20233", "6/5/23",
                            "0/5/2023", "6/0/2023", "a/5/2023", " 6/5/2023", "6/5/2023 ", "2/30/2024", "-6/5/2023"})
        EXPECT_FALSE(parseSqlDate(QString::fromLatin1(bad)).has_value()) << bad;
}
