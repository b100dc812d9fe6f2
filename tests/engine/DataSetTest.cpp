// Data sets over table files: navigation over deleted rows, fields, the edit cycle, refresh,
// queries, and the texts of the errors.
#include "DbfTestSupport.h"

#include "engine/DataSet.h"
#include "engine/DateFormat.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace dbftest;

namespace {

QString errorOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const EDatabaseError& e) {
        return e.message();
    }
    return QStringLiteral("no error");
}

// A table of IDs "1".."n" with the given records deleted (record numbers from 1).
QString makeTable(const QTemporaryDir& dir, int n, std::initializer_list<int> deleted = {})
{
    const QString path = dir.filePath("t.dbf");
    DbfFile::create(path, simple());
    DbfFile f(path, DbfFile::Access::ReadWrite);
    for (int i = 1; i <= n; ++i)
        appendSimple(f, QString::number(i), QStringLiteral("строка %1").arg(i));
    for (int r : deleted)
        f.setDeleted(r - 1, true);
    return path;
}

struct Opened {
    explicit Opened(const QString& path)
    {
        table.SetName(QStringLiteral("Table1"));
        table.SetTableName(path);
        table.Open();
    }
    QString id() const { return table.FieldByName(QStringLiteral("id"))->AsString(); }
    TTable table;
};

} // namespace

TEST(DataSetErrors, ClosedDatasetNamesTheComponent)
{
    TTable table;
    table.SetName(QStringLiteral("Table1"));
    const QString closed = QStringLiteral("Table1: Cannot perform this operation on a closed dataset");
    EXPECT_EQ(errorOf([&] { table.Last(); }), closed);
    EXPECT_EQ(errorOf([&] { table.First(); }), closed);
    EXPECT_EQ(errorOf([&] { table.Next(); }), closed);
    EXPECT_EQ(errorOf([&] { table.Edit(); }), closed);
    EXPECT_EQ(errorOf([&] { table.Delete(); }), closed);
    EXPECT_EQ(errorOf([&] { table.Refresh(); }), closed);
    EXPECT_EQ(errorOf([&] { (void)table.RecNo(); }), closed);
    EXPECT_EQ(errorOf([&] { (void)table.RecordCount(); }), closed);
    EXPECT_EQ(errorOf([&] { table.Open(); }), QStringLiteral("Table1: Missing TableName property"));
}

TEST(DataSetErrors, MissingFileAndFieldNameTheComponent)
{
    QTemporaryDir dir;
    TTable table;
    table.SetName(QStringLiteral("Table1"));
    table.SetTableName(dir.filePath("DB/HEMATIX.dbf"));
    const QString missing = errorOf([&] { table.Open(); });
    EXPECT_TRUE(missing.startsWith(QStringLiteral("Table1: "))) << missing.toStdString();
    EXPECT_TRUE(missing.contains(QStringLiteral("HEMATIX.dbf"))) << missing.toStdString();
    EXPECT_FALSE(table.Active());

    Opened o(makeTable(dir, 1));
    EXPECT_EQ(errorOf([&] { o.table.FieldByName(QStringLiteral("NOPE")); }), QStringLiteral("Table1: Field 'NOPE' not found"));
    EXPECT_EQ(errorOf([&] { o.table.SetTableName(QStringLiteral("x.dbf")); }),
              QStringLiteral("Table1: Cannot perform this operation on an open dataset"));
    EXPECT_EQ(errorOf([&] { o.table.FieldByName(QStringLiteral("ID"))->SetAsString(QStringLiteral("x")); }),
              QStringLiteral("Table1: Dataset not in edit or insert mode"));
}

TEST(DataSetNavigation, SkipsDeletedRowsAndKeepsFileRecordNumbers)
{
    QTemporaryDir dir;
    Opened o(makeTable(dir, 6, {1, 3, 4}));
    TTable& t = o.table;
    EXPECT_EQ(t.RecNo(), 2);
    EXPECT_TRUE(t.Bof());
    EXPECT_FALSE(t.Eof());
    EXPECT_EQ(t.RecordCount(), 3);
    t.Next();
    EXPECT_EQ(t.RecNo(), 5);
    EXPECT_EQ(o.id(), QStringLiteral("5"));
    t.Next();
    EXPECT_EQ(t.RecNo(), 6);
    EXPECT_FALSE(t.Eof());
    t.Next();
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.RecNo(), 6);
    t.Prior();
    EXPECT_EQ(t.RecNo(), 5);
    t.First();
    EXPECT_TRUE(t.Bof());
    t.Prior();
    EXPECT_TRUE(t.Bof());
    EXPECT_EQ(t.RecNo(), 2);
    t.MoveBy(5);
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.RecNo(), 6);
    t.Last();
    EXPECT_TRUE(t.Eof());
    EXPECT_FALSE(t.Bof());
    t.MoveBy(-1);
    EXPECT_EQ(t.RecNo(), 5);
    t.SetRecNo(2);
    EXPECT_EQ(o.id(), QStringLiteral("2"));
    EXPECT_EQ(errorOf([&] { t.SetRecNo(3); }), QStringLiteral("Table1: Record 3 not found"));
    EXPECT_EQ(errorOf([&] { t.SetRecNo(99); }), QStringLiteral("Table1: Record 99 not found"));
}

TEST(DataSetNavigation, EmptyAndAllDeletedTablesHaveNoRow)
{
    QTemporaryDir dir;
    Opened o(makeTable(dir, 2, {1, 2}));
    EXPECT_TRUE(o.table.IsEmpty());
    EXPECT_TRUE(o.table.Eof());
    EXPECT_TRUE(o.table.Bof());
    EXPECT_EQ(o.table.RecNo(), 0);
    EXPECT_EQ(o.table.RecordCount(), 0);
    o.table.Last();
    EXPECT_EQ(o.table.RecNo(), 0);
    EXPECT_TRUE(o.table.FieldByName("ID")->IsNull());
    EXPECT_EQ(errorOf([&] { o.table.Delete(); }), QStringLiteral("Table1: Cannot perform this operation on an empty dataset"));
}

TEST(DataSetNavigation, AfterScrollFollowsEveryMove)
{
    QTemporaryDir dir;
    TTable t;
    t.SetTableName(makeTable(dir, 3));
    QSignalSpy scroll(&t, &TDataSet::AfterScroll);
    t.Open();
    EXPECT_EQ(scroll.count(), 1);
    t.Last();
    t.Prior();
    t.First();
    EXPECT_EQ(scroll.count(), 4);
    t.Refresh();
    EXPECT_EQ(scroll.count(), 4) << "a refresh keeps the row: no scroll";
}

TEST(DataSetNavigation, RowPositionsMatchABruteForceCountAcrossChunks)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("t.dbf");
    DbfFile::create(path, {{"ID", 'C', 6, 0}});
    {
        DbfFile f(path, DbfFile::Access::ReadWrite);
        QByteArray all;
        for (int i = 1; i <= 10000; ++i) {
            QByteArray rec = QByteArray(i % 7 == 0 ? "*" : " ") + QByteArray::number(i).leftJustified(6, ' ');
            all += rec;
        }
        // Write in one go (the durable append is tested elsewhere), then fix the header count.
        QByteArray b = bytesOf(path);
        b.chop(1);
        setBytes(path, b + all + '\x1A');
        patch32(path, 4, 10000);
    }
    Opened o(path);
    std::vector<int> shown;
    for (int i = 1; i <= 10000; ++i)
        if (i % 7 != 0)
            shown.push_back(i);
    EXPECT_EQ(o.table.RecordCount(), int(shown.size()));
    for (size_t row : {size_t(0), size_t(1), size_t(3509), size_t(3510), size_t(7000), shown.size() - 1}) {
        EXPECT_EQ(o.table.RecNoOfRow(int(row)), shown[row]);
        EXPECT_EQ(o.table.RowOfRecNo(shown[row]), int(row));
    }
    EXPECT_EQ(o.table.RecNoOfRow(int(shown.size())), 0);
    EXPECT_EQ(o.table.RowOfRecNo(7), -1);
    TField* id = o.table.FieldByName("ID");
    EXPECT_EQ(o.table.DisplayTextAt(9999, id), QStringLiteral("9999"));
    o.table.SetRecNo(9999);
    o.table.Delete();
    EXPECT_EQ(o.table.RecordCount(), int(shown.size()) - 1);
    EXPECT_EQ(o.table.RecNo(), 10000);
}

TEST(DataSetFields, TextsDatesAndNullsOfEveryType)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("t.dbf");
    DbfFile::create(path, everyType());
    TTable t;
    t.SetName("Table1");
    t.SetTableName(path);
    t.Open();
    t.Append();
    t.FieldByName("name")->SetAsString(QStringLiteral("Петров"));
    t.FieldByName("BORN")->SetAsString(QStringLiteral("6/25/2023"));
    t.FieldByName("AGE")->SetAsString(QStringLiteral("42"));
    t.FieldByName("RATE")->SetAsString(QStringLiteral("7,5"));
    t.FieldByName("OK")->SetAsString(QStringLiteral("T"));
    t.FieldByName("NOTE")->SetAsString(QStringLiteral("Примечание"));
    t.Post();
    t.Close();
    t.Open();
    EXPECT_EQ(t.Fields().size(), 7u);
    EXPECT_EQ(t.FieldByName("Name")->AsString(), QStringLiteral("Петров"));
    EXPECT_EQ(t.FieldByName("BORN")->AsDate(), QDate(2023, 6, 25));
    EXPECT_EQ(t.FieldByName("BORN")->DisplayText(), datefmt::formatShortDate(QDate(2023, 6, 25)));
    EXPECT_TRUE(t.FieldByName("BORN")->DisplayText().contains(QStringLiteral("2023")));
    EXPECT_EQ(t.FieldByName("AGE")->AsString(), QStringLiteral("42"));
    EXPECT_EQ(t.FieldByName("AGE")->DataType(), TFieldType::Integer);
    EXPECT_EQ(t.FieldByName("RATE")->AsString(), QStringLiteral("7.50"));
    EXPECT_DOUBLE_EQ(t.FieldByName("RATE")->AsFloat(), 7.5);
    EXPECT_EQ(t.FieldByName("OK")->AsString(), QStringLiteral("True"));
    EXPECT_EQ(t.FieldByName("NOTE")->AsString(), QStringLiteral("Примечание"));
    EXPECT_TRUE(t.FieldByName("RATIO")->IsNull());
    EXPECT_EQ(t.FieldByName("RATIO")->AsString(), QString());
    EXPECT_FALSE(t.FieldByName("AGE")->IsNull());
}

TEST(DataSetEditing, PostIsDurableAndARefusedValueKeepsEditState)
{
    QTemporaryDir dir;
    const QString path = makeTable(dir, 3);
    Opened o(path);
    o.table.SetRecNo(2);
    o.table.Edit();
    EXPECT_EQ(o.table.State(), TDataSet::dsEdit);
    TField* text = o.table.FieldByName("TEXT");
    const QString tooLong(31, QChar(u'ж'));
    const QString refused = errorOf([&] { text->SetAsString(tooLong); });
    EXPECT_TRUE(refused.startsWith(QStringLiteral("Table1: Value '"))) << refused.toStdString();
    EXPECT_TRUE(refused.contains(QStringLiteral("'TEXT'"))) << refused.toStdString();
    EXPECT_EQ(o.table.State(), TDataSet::dsEdit);
    text->SetAsString(QStringLiteral("исправлено"));
    EXPECT_TRUE(o.table.Modified());
    o.table.Post();
    EXPECT_EQ(o.table.State(), TDataSet::dsBrowse);
    Opened other(path);
    other.table.SetRecNo(2);
    EXPECT_EQ(other.table.FieldByName("TEXT")->AsString(), QStringLiteral("исправлено"));
}

TEST(DataSetEditing, MovingPostsAChangeAndDropsAnUnchangedNewRow)
{
    QTemporaryDir dir;
    const QString path = makeTable(dir, 3);
    Opened o(path);
    o.table.Edit();
    o.table.FieldByName("TEXT")->SetAsString(QStringLiteral("изменено"));
    o.table.Next(); // writes the change
    EXPECT_EQ(o.table.RecNo(), 2);
    o.table.Insert();
    EXPECT_EQ(o.table.RecNo(), 0);
    o.table.Next(); // an unchanged new row is dropped
    EXPECT_EQ(o.table.State(), TDataSet::dsBrowse);
    Opened other(path);
    EXPECT_EQ(other.table.FieldByName("TEXT")->AsString(), QStringLiteral("изменено"));
    EXPECT_EQ(other.table.RecordCount(), 3);
}

TEST(DataSetEditing, InsertStoresAtTheEndAndCancelReturns)
{
    QTemporaryDir dir;
    const QString path = makeTable(dir, 3);
    Opened o(path);
    o.table.SetRecNo(2);
    o.table.Insert();
    o.table.FieldByName("ID")->SetAsString("new");
    o.table.Cancel();
    EXPECT_EQ(o.table.RecNo(), 2);
    EXPECT_EQ(o.table.RecordCount(), 3);
    o.table.Edit();
    o.table.FieldByName("ID")->SetAsString("x");
    EXPECT_EQ(o.id(), QStringLiteral("x"));
    o.table.Cancel();
    EXPECT_EQ(o.id(), QStringLiteral("2"));
    o.table.Insert();
    o.table.FieldByName("ID")->SetAsString("new");
    QSignalSpy posted(&o.table, &TDataSet::AfterPost);
    o.table.Post();
    EXPECT_EQ(posted.count(), 1);
    EXPECT_EQ(o.table.RecNo(), 4);
    EXPECT_EQ(o.id(), QStringLiteral("new"));
    EXPECT_EQ(o.table.RecordCount(), 4);
}

TEST(DataSetEditing, DeleteHidesTheRowDurablyAndMovesOn)
{
    QTemporaryDir dir;
    const QString path = makeTable(dir, 3);
    Opened o(path);
    o.table.SetRecNo(2);
    o.table.Delete();
    EXPECT_EQ(o.table.RecNo(), 3);
    o.table.Delete();
    EXPECT_EQ(o.table.RecNo(), 1) << "no next row: the prior one";
    EXPECT_EQ(o.table.RecordCount(), 1);
    Opened other(path);
    EXPECT_EQ(other.table.RecordCount(), 1);
    other.table.Last();
    EXPECT_EQ(other.table.RecNo(), 1);
}

TEST(DataSetRefresh, ShowsRowsOthersAddedKeepsTheRowAndPostsPendingChanges)
{
    QTemporaryDir dir;
    const QString path = makeTable(dir, 3);
    Opened o(path);
    o.table.SetRecNo(2);
    EXPECT_EQ(o.table.RecordCount(), 3);
    o.table.Edit();
    o.table.FieldByName("TEXT")->SetAsString(QStringLiteral("набрано"));
    {
        DbfFile other(path, DbfFile::Access::ReadWrite);
        appendSimple(other, "4", "d");
    }
    o.table.Refresh();
    EXPECT_EQ(o.table.State(), TDataSet::dsBrowse);
    EXPECT_EQ(o.table.RecNo(), 2);
    EXPECT_EQ(o.table.RecordCount(), 4);
    o.table.Last();
    EXPECT_EQ(o.id(), QStringLiteral("4"));
    Opened again(path);
    again.table.SetRecNo(2);
    EXPECT_EQ(again.table.FieldByName("TEXT")->AsString(), QStringLiteral("набрано"));
}

TEST(DataSetRefresh, CurrentRowDeletedElsewhereMovesToTheNext)
{
    QTemporaryDir dir;
    const QString path = makeTable(dir, 3);
    Opened o(path);
    o.table.SetRecNo(2);
    {
        DbfFile other(path, DbfFile::Access::ReadWrite);
        other.setDeleted(1, true);
    }
    o.table.Refresh();
    EXPECT_EQ(o.table.RecNo(), 3);
    EXPECT_EQ(o.table.RecordCount(), 2);
}

TEST(DataSource, AutoEditPutsTheDataSetIntoEditState)
{
    QTemporaryDir dir;
    Opened o(makeTable(dir, 1));
    TDataSource source;
    source.DataSet = &o.table;
    source.AutoEdit = false;
    EXPECT_FALSE(source.Edit());
    EXPECT_EQ(o.table.State(), TDataSet::dsBrowse);
    source.AutoEdit = true;
    EXPECT_TRUE(source.Edit());
    EXPECT_EQ(o.table.State(), TDataSet::dsEdit);
}

TEST(Query, ExecSqlInsertsAndOpenSelectsInFileOrder)
{
    QTemporaryDir dir;
    const QString path = makeTable(dir, 2);
    TQuery q;
    q.SetName(QStringLiteral("Query1"));
    q.SQL << QStringLiteral("INSERT INTO \"%1\" (ID,TEXT)").arg(path) << QStringLiteral(" VALUES (\"3\", \"третья\")");
    q.ExecSQL();
    EXPECT_EQ(q.RowsAffected(), 1);
    q.SQL.clear();
    q.SQL << QStringLiteral("SELECT * FROM \"%1\"").arg(path);
    q.Open();
    EXPECT_EQ(q.RecordCount(), 3);
    const QString first = q.FieldByName("text")->AsString();
    EXPECT_EQ(first, QStringLiteral("строка 1"));
    q.Next();
    EXPECT_EQ(q.FieldByName("text")->AsString(), QStringLiteral("строка 2"));
    EXPECT_EQ(first, QStringLiteral("строка 1")) << "a text kept by the caller stays as it was read";
    q.Last();
    EXPECT_EQ(q.FieldByName("TEXT")->AsString(), QStringLiteral("третья"));
    EXPECT_EQ(q.RecNo(), 3);
    EXPECT_TRUE(errorOf([&] { q.Edit(); }).startsWith(QStringLiteral("Query1: ")));
    q.Close();
    q.SQL.clear();
    q.SQL << QStringLiteral("SELECT * FROM \"%1\" WHERE ID = \"9\"").arg(path);
    q.Open();
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_TRUE(q.Eof());
}

TEST(Query, ErrorsCarryTheQuerysName)
{
    QTemporaryDir dir;
    const QString path = makeTable(dir, 1);
    TQuery q;
    q.SetName(QStringLiteral("Query1"));
    q.SQL << QStringLiteral("INSERT INTO \"%1\" (ID) VALUES (\"far too long an id\")").arg(path);
    const QString e = errorOf([&] { q.ExecSQL(); });
    EXPECT_TRUE(e.startsWith(QStringLiteral("Query1: "))) << e.toStdString();
    EXPECT_TRUE(e.contains(QStringLiteral("ID"))) << e.toStdString();
    EXPECT_TRUE(errorOf([&] { q.Open(); }).startsWith(QStringLiteral("Query1: ")));
    q.SQL.clear();
    q.SQL << QStringLiteral("INSERT INTO \"%1\" (ID) VALUES (\"2\")").arg(path);
    EXPECT_TRUE(errorOf([&] { q.Open(); }).contains(QStringLiteral("ExecSQL")));
    EXPECT_FALSE(q.Active());
}

TEST(DataSetEditing, MemoEditsAndClearsAreWrittenOnPost)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("t.dbf");
    DbfFile::create(path, everyType());
    TTable t;
    t.SetTableName(path);
    t.Open();
    t.Append();
    t.FieldByName("NOTE")->SetAsString(QStringLiteral("первая заметка"));
    EXPECT_EQ(t.FieldByName("NOTE")->AsString(), QStringLiteral("первая заметка"));
    t.Post();
    t.Edit();
    t.FieldByName("NOTE")->SetAsString(QStringLiteral("вторая, длиннее первой: ") + QString(1000, QChar(u'я')));
    t.Post();
    t.Close();
    t.Open();
    EXPECT_EQ(t.FieldByName("NOTE")->AsString().size(), 24 + 1000);
    EXPECT_TRUE(t.FieldByName("NOTE")->AsString().startsWith(QStringLiteral("вторая")));
    t.Edit();
    t.FieldByName("NOTE")->Clear();
    t.Post();
    t.Close();
    t.Open();
    EXPECT_TRUE(t.FieldByName("NOTE")->IsNull());
}

// A table's records need not be a file's: a source that keeps them in memory (as another store
// presents its rows) is navigated, edited, appended to and deleted from through the same calls,
// each change between beginWrite and endWrite; a change the source cannot make final raises and
// keeps what was typed.
TEST(DataSetRecordSource, RecordsFromAnotherSourceAreEditedThroughTheSameCalls)
{
    QTemporaryDir dir;
    const QString path = makeTable(dir, 3, {2});
    struct Memory : TRecordSource {
        explicit Memory(const QString& path) : file(path, DbfFile::Access::ReadOnly)
        {
            file.forEach(0, file.recordCount(), [&](int, const char* r) { records.append(QByteArray(r, file.recordLength())); });
        }
        const std::vector<DbfField>& fields() const override { return file.fields(); }
        int recordCount() const override { return int(records.size()); }
        std::uint64_t generation() const override { return 0; }
        const char* record(int i) override { return records[i].constData(); }
        QByteArray readFresh(int i) override { return records.value(i); }
        void forEach(int from, int to, const std::function<void(int, const char*)>& visit) override
        {
            for (int i = std::max(from, 0); i < std::min(to, recordCount()); ++i)
                visit(i, records[i].constData());
        }
        void refresh() override {}
        QByteArray blankRecord() const override { return file.blankRecord(); }
        bool writable() const override { return true; }
        QStringList warnings() const override { return {}; }
        int append(const QByteArray& r) override { return int((records.append(r), records.size() - 1)); }
        void write(int i, const QByteArray& r) override { records[i] = r; }
        void setDeleted(int i, bool d) override { records[i][0] = d ? '*' : ' '; }
        void beginWrite() override { log << "begin"; }
        void endWrite() override
        {
            if (refuseEnd)
                throw EDatabaseError(QStringLiteral("the change could not be made final"));
            log << "end";
        }
        void abortWrite() noexcept override { log << "abort"; }
        DbfFile file;
        QList<QByteArray> records;
        QStringList log;
        bool refuseEnd = false;
    };
    Memory* memory = nullptr;
    TTable t;
    t.SetRecordSource(QStringLiteral("memory"), [&] {
        auto m = std::make_unique<Memory>(path);
        memory = m.get();
        return m;
    });
    t.Open();
    EXPECT_EQ(t.TableName(), "memory");
    EXPECT_EQ(t.RecordCount(), 2);
    t.Next();
    EXPECT_EQ(t.RecNo(), 3);  // the deleted record is passed over
    t.Edit();
    t.FieldByName("ID")->SetAsString("30");
    t.Post();
    t.Append();
    t.FieldByName("ID")->SetAsString("4");
    t.Post();
    EXPECT_EQ(t.RecNo(), 4);
    t.Delete();
    EXPECT_EQ(memory->log, QStringList({"begin", "end", "begin", "end", "begin", "end"}));
    EXPECT_TRUE(memory->records[3].startsWith('*'));
    EXPECT_TRUE(memory->records[2].contains("30"));

    memory->refuseEnd = true;
    t.First();
    t.Edit();
    t.FieldByName("ID")->SetAsString("10");
    EXPECT_EQ(errorOf([&] { t.Post(); }), "the change could not be made final");
    EXPECT_EQ(t.State(), TDataSet::dsEdit);
    EXPECT_EQ(t.FieldByName("ID")->AsString(), "10");
    EXPECT_EQ(memory->log.last(), "abort");
    t.Cancel();
}
