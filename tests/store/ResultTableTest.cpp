// The result table on disk: its 28 fields, how it is made, that the import's INSERT and the
// period query's SELECTs work on the real file as the rest of the program expects, and the dBase
// store's answers over it (stored once, refused, away, a period's rows).
#include "store/ResultTable.h"
#include "store/Statements.h"
#include "store/DbfResultStore.h"

#include "engine/DataSet.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <tuple>
#include <gtest/gtest.h>

namespace {

ImportedRow importedRow(const QString& date, const QString& num)
{
    ImportedRow r;
    r.date = date;
    r.time = QStringLiteral("14:03:07");
    r.num = num;
    // Texts as cut from the message: separators and dashes stay.
    const char* v[18] = {"7.5 |", "4.52", "138", "----", "245", "31.5", "6.2", "62.3", "2.0|",
                         "0.4", "4.0", "91.2", "30.5", "335", "13.1", "8.4", "0.21", "15.6"};
    for (size_t i = 0; i < 18; ++i)
        r.values[i] = QString::fromLatin1(v[i]);
    return r;
}

void insert(const QString& folder, const ImportedRow& row)
{
    TQuery q;
    q.SetName(QStringLiteral("Query1"));
    q.SQL = insertStatement(folder, row);
    q.ExecSQL();
    EXPECT_EQ(q.RowsAffected(), 1);
}

QStringList numsOf(const QString& sql)
{
    TQuery q;
    q.SQL << sql;
    q.Open();
    QStringList nums;
    for (; !q.Eof(); q.Next())
        nums << q.FieldByName(QStringLiteral("NUM"))->AsString();
    return nums;
}

} // namespace

TEST(ResultTable, HasThe28FieldsByName)
{
    QStringList names;
    for (const DbfFieldSpec& f : resulttable::fields())
        names << f.name;
    EXPECT_EQ(names, QStringList({"DAT", "TIM", "NUM", "FIO", "DOC", "RECEPTION", "WBC", "LY1", "MO1", "GR1",
                                  "LY2", "MO2", "GR2", "RBC", "HGB", "HCT", "MCV", "MCH", "MCHC", "RDV",
                                  "PLT", "MPV", "PCT", "PDW", "COE", "RETIC", "FORMULA", "COMMENT"}));
    EXPECT_EQ(resulttable::fields()[0].type, 'D');
    for (size_t i = 1; i < resulttable::fields().size(); ++i)
        EXPECT_EQ(resulttable::fields()[i].type, 'C') << resulttable::fields()[i].name.toStdString();
}

TEST(ResultTable, CreateMakesTheFoldersAndNeverReplacesATable)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("Программа")) + QLatin1Char('/');
    const QString file = resulttable::create(folder);
    EXPECT_EQ(file, folder + QStringLiteral("DB/HEMATIX.dbf"));
    EXPECT_EQ(file, resulttable::tableFile(folder));
    const QByteArray bytes = testsupport::readFile(file);
    ASSERT_GT(bytes.size(), 32);
    EXPECT_EQ(quint8(bytes[0]), 0x03);
    EXPECT_EQ(quint8(bytes[29]), 0xC9);
    EXPECT_EQ(testsupport::readFile(folder + QStringLiteral("DB/HEMATIX.cpg")), QByteArray("1251"));
    insert(folder, importedRow(QStringLiteral("06/05/2023"), QStringLiteral("000000001")));
    const QByteArray withRow = testsupport::readFile(file);
    EXPECT_THROW(resulttable::create(folder), EDatabaseError);
    EXPECT_EQ(testsupport::readFile(file), withRow);
}

TEST(ResultTable, ImportedRowHasEmptyTextsNoValuesAndIsTheLastRow)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    resulttable::create(folder);
    insert(folder, importedRow(QStringLiteral("01/02/2023"), QStringLiteral("000000001")));
    insert(folder, importedRow(QStringLiteral("06/05/2023"), QStringLiteral("000012345")));

    TTable t;
    t.SetName(QStringLiteral("Table1"));
    t.SetTableName(resulttable::tableFile(folder));
    t.Open();
    t.Last();
    EXPECT_EQ(t.RecNo(), 2);
    auto field = [&](const char* name) { return t.FieldByName(QString::fromLatin1(name)); };
    EXPECT_EQ(field("DAT")->AsDate(), QDate(2023, 6, 5));
    EXPECT_EQ(field("TIM")->AsString(), QStringLiteral("14:03:07"));
    EXPECT_EQ(field("NUM")->AsString(), QStringLiteral("000012345"));
    for (const char* empty : {"FIO", "COE", "RECEPTION"})
        EXPECT_EQ(field(empty)->AsString(), QString()) << empty;
    for (const char* none : {"DOC", "RETIC", "FORMULA", "COMMENT"})
        EXPECT_TRUE(field(none)->IsNull()) << none;
    EXPECT_EQ(field("WBC")->AsString(), QStringLiteral("7.5 |"));
    EXPECT_EQ(field("HCT")->AsString(), QStringLiteral("----"));
    EXPECT_EQ(field("RDV")->AsString(), QStringLiteral("13.1"));

    // Staff type in the patient's details, Cyrillic and generous.
    t.Edit();
    field("FIO")->SetAsString(QStringLiteral("Иванова-Петрова Анна-Мария Александровна"));
    field("DOC")->SetAsString(QStringLiteral("45 лет"));
    field("FORMULA")->SetAsString(QStringLiteral("п/я 2, с/я 60, э 3, б 0, м 5, л 30"));
    field("COMMENT")->SetAsString(QString(254, QChar(u'ж')));
    t.Post();
    TTable again;
    again.SetTableName(resulttable::tableFile(folder));
    again.Open();
    again.Last();
    EXPECT_EQ(again.FieldByName("FIO")->AsString(), QStringLiteral("Иванова-Петрова Анна-Мария Александровна"));
    EXPECT_EQ(again.FieldByName("COMMENT")->AsString().size(), 254);
}

TEST(ResultTable, PeriodSelectionsFindImportedDates)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    resulttable::create(folder);
    insert(folder, importedRow(QStringLiteral("06/04/2023"), QStringLiteral("1")));
    insert(folder, importedRow(QStringLiteral("06/05/2023"), QStringLiteral("2")));
    insert(folder, importedRow(QStringLiteral("06/05/2023"), QStringLiteral("3")));
    insert(folder, importedRow(QStringLiteral("07/01/2023"), QStringLiteral("4")));
    EXPECT_EQ(numsOf(singleDaySelect(folder, QDate(2023, 6, 5))), QStringList({"2", "3"}));
    EXPECT_EQ(numsOf(rangeSelect(folder, QDate(2023, 6, 5), QDate(2023, 7, 1))), QStringList({"2", "3", "4"}));
    EXPECT_EQ(numsOf(rangeSelect(folder, QDate(2023, 7, 1), QDate(2023, 6, 1))), QStringList());

    // The store picks the statement: one day's for a single day, the range's otherwise.
    DbfResultStore store(folder);
    TQuery q;
    for (const auto& [first, last, nums] : {std::tuple{QDate(2023, 6, 5), QDate(2023, 6, 5), QStringList({"2", "3"})},
                                            std::tuple{QDate(2023, 6, 4), QDate(2023, 7, 1), QStringList({"1", "2", "3", "4"})}}) {
        store.selectPeriod(q, first, last);
        QStringList found;
        for (; !q.Eof(); q.Next())
            found << q.FieldByName(QStringLiteral("NUM"))->AsString();
        EXPECT_EQ(found, nums);
    }
}

TEST(ResultTable, QuotesInAnalyserTextAreStoredExactly)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    resulttable::create(folder);
    ImportedRow r = importedRow(QStringLiteral("06/05/2023"), QStringLiteral("\", \"x"));
    r.values[0] = QStringLiteral("\"");
    insert(folder, r);
    TTable t;
    t.SetTableName(resulttable::tableFile(folder));
    t.Open();
    EXPECT_EQ(t.FieldByName("NUM")->AsString(), QStringLiteral("\", \"x"));
    EXPECT_EQ(t.FieldByName("WBC")->AsString(), QStringLiteral("\""));
    EXPECT_EQ(t.RecordCount(), 1);
}

// Each step inserts a row through the store, after an optional change to the file behind its
// back, and expects its answer and the table's row count.
TEST(ResultStore, StoresEachRowOnceWhateverHappensToTheFileBetween)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    const QString file = resulttable::tableFile(folder);
    DbfResultStore store(folder);
    // Nothing to write to yet: the message waits.
    EXPECT_THROW(store.insert(importedRow(QStringLiteral("06/05/2023"), QStringLiteral("1"))), EStoreAway);
    resulttable::create(folder);

    const auto row = [](const char* num) { return importedRow(QStringLiteral("06/05/2023"), QLatin1String(num)); };
    const auto rows = [&] {
        TTable t;
        t.SetTableName(file);
        t.Open();
        return t.RecordCount();
    };
    QByteArray copyWithTwo;
    struct Step {
        const char* what;
        std::function<void()> before;
        const char* num;
        ResultStore::Insert answer;
        int rowsAfter;
    };
    const Step steps[] = {
        {"first", {}, "1", ResultStore::Insert::Stored, 1},
        {"second", {}, "2", ResultStore::Insert::Stored, 2},
        {"sent again", [&] { copyWithTwo = testsupport::readFile(file); }, "1", ResultStore::Insert::AlreadyStored, 2},
        {"third", {}, "3", ResultStore::Insert::Stored, 3},
        {"staff deleted it", [&] {
             TTable t;
             t.SetTableName(file);
             t.Open();
             t.Last();
             t.Delete();
         }, "3", ResultStore::Insert::Stored, 3},
        {"staff typed into the last row", [&] {
             TTable t;
             t.SetTableName(file);
             t.Open();
             t.Last();
             t.Edit();
             t.FieldByName(QStringLiteral("FIO"))->SetAsString(QStringLiteral("Иванов"));
             t.Post();
         }, "3", ResultStore::Insert::AlreadyStored, 3},
        {"an older copy put back", [&] {
             QFile::remove(file);
             ASSERT_TRUE(testsupport::writeFile(file, copyWithTwo));
         }, "3", ResultStore::Insert::Stored, 3},
        {"still there in the copy", {}, "2", ResultStore::Insert::AlreadyStored, 3},
    };
    for (const Step& step : steps) {
        if (step.before)
            step.before();
        EXPECT_EQ(store.insert(row(step.num)), step.answer) << step.what;
        EXPECT_EQ(rows(), step.rowsAfter) << step.what;
    }

    // A value its field cannot hold is the message's fault, and nothing is written.
    ImportedRow tooLong = row("4");
    tooLong.num = QStringLiteral("12345678901");
    EXPECT_THROW(store.insert(tooLong), ERowRefused);
    EXPECT_EQ(rows(), 3);
}
