// The name and number index beside the dBase table: finds by part of a number or a name (folded),
// round the end, backward; a patient's rows; right after rows are stored, edited, deleted or
// appended by another program; and right whatever the cache file beside the table holds.
#include "FindCases.h"
#include "store/DbfNameIndex.h"
#include "store/DbfResultStore.h"
#include "store/ResultTable.h"

#include "engine/DataSet.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class NameIndex : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        folder = tmp.path() + QLatin1Char('/');
        resulttable::create(folder);
        open();
        for (const findcases::Row& r : findcases::rows)
            put(QString::fromUtf8(r.num), QString::fromUtf8(r.name));
    }
    void open()
    {
        table.Close();
        store = std::make_unique<DbfResultStore>(folder);
        store->attachRows(table);
        table.Open();
    }
    // Stores a row and, when given, types the patient's name into it as staff do.
    void put(const QString& num, const QString& name)
    {
        ImportedRow r;
        r.date = QStringLiteral("12/07/2026");
        r.time = QStringLiteral("09:15:02");
        r.num = num;
        const int record = store->store(r, {}).record;
        ASSERT_GT(record, 0);
        if (!name.isEmpty())
            edit(record, name);
    }
    void edit(int record, const QString& name)
    {
        table.Refresh();
        table.SetRecNo(record);
        table.Edit();
        table.FieldByName(QStringLiteral("FIO"))->SetAsString(name);
        table.Post();
    }
    RowFinder::Match at(const char* text, int from, bool backward = false)
    {
        return store->finder().find(QString::fromUtf8(text), from, backward, {}).value_or(RowFinder::Match{});
    }
    QList<int> patient(const char* name) { return store->finder().patientRecords(QString::fromUtf8(name), {}); }

    QTemporaryDir tmp;
    QString folder;
    TTable table;
    std::unique_ptr<DbfResultStore> store;
};

} // namespace

TEST_F(NameIndex, FindsPartsOfNumbersAndNamesFoldedRoundTheEndBothWays)
{
    store->openFinder();
    for (const findcases::Find& c : findcases::finds) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(at(c.text, c.from, c.backward), c.found);
    }
    for (const findcases::Patient& p : findcases::patients)
        EXPECT_EQ(patient(p.name), p.records) << p.name;
}

TEST_F(NameIndex, FollowsRowsStoredEditedDeletedAndAppendedByAnotherProgram)
{
    store->openFinder();
    ASSERT_TRUE(static_cast<DbfNameIndex&>(store->finder()).waitReady());
    EXPECT_EQ(patient("Petrov"), (QList<int>{4}));

    put(QStringLiteral("000000777"), {});                 // stored by the import
    EXPECT_EQ(at("777", 0).record, 6);
    edit(4, QStringLiteral("Сидоров"));                    // renamed through the grid
    EXPECT_EQ(patient("Petrov"), (QList<int>{}));
    EXPECT_EQ(patient("сидоров"), (QList<int>{4}));
    table.Refresh();
    table.SetRecNo(2);
    table.Delete();                                       // deleted rows are found no more
    EXPECT_EQ(patient("Иванова Алёна"), (QList<int>{5}));
    store->restore(2);
    EXPECT_EQ(patient("Иванова Алёна"), (QList<int>{2, 5}));

    {
        DbfResultStore other(folder);                     // another program on the same table
        ImportedRow r;
        r.date = QStringLiteral("12/08/2026");
        r.num = QStringLiteral("000000888");
        other.insert(r);
    }
    EXPECT_EQ(at("888", 0).record, 7);
}

TEST_F(NameIndex, TheCacheBesideTheTableCountsOnlyForTheTableItWasMadeFrom)
{
    const QString cache = DbfNameIndex::cacheFile(resulttable::tableFile(folder));
    const struct {
        const char* what;
        std::function<void()> between;  // after the program ended, before it starts again
        int found;
    } cases[] = {
        {"as it was left", {}, 5},
        {"deleted", [&] { QFile::remove(cache); }, 5},
        {"cut short", [&] { QFile::resize(cache, QFile(cache).size() / 2); }, 5},
        {"garbage", [&] {
             QFile f(cache);
             ASSERT_TRUE(f.open(QIODevice::ReadWrite));
             f.seek(100);
             f.write("garbage");
         }, 5},
        {"a folder", [&] {
             QFile::remove(cache);
             QDir().mkpath(cache);
         }, 5},
        {"the table changed by another program", [&] {
             DbfResultStore other(folder);
             ImportedRow r;
             r.num = QStringLiteral("Алёна");
             other.insert(r);
         }, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        store->openFinder();
        ASSERT_TRUE(static_cast<DbfNameIndex&>(store->finder()).waitReady());
        table.Close();
        store.reset();  // ends as the program does: the cache is written
        ASSERT_TRUE(QFileInfo(cache).isFile());
        if (c.between)
            c.between();
        open();
        store->openFinder();
        auto& index = static_cast<DbfNameIndex&>(store->finder());
        ASSERT_TRUE(index.waitReady());
        EXPECT_EQ(index.fromCache(), !c.between);
        EXPECT_EQ(at("алена", 0, true).record, c.found);
        QDir(cache).removeRecursively();
    }
    // Asked before it is ready, the index reads the table there and then, saying how far it is.
    open();
    int reports = 0;
    EXPECT_EQ(store->finder().find(QStringLiteral("Petrov"), 0, false, [&](int) { return ++reports > 0; })->record, 4);
    EXPECT_GT(reports, 0);
}
