// The name and number index beside the dBase table: finds by part of a number or a name (folded),
// round the end, backward; a patient's rows; right after rows are stored, edited, deleted or
// appended by another program; and right whatever the cache file beside the table holds.
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
        // Record: 1 number 000000123, 2 Иванова Алёна, 3 ИВАНОВ, 4 Petrov, 5 иванова алена.
        const char* names[] = {"", "Иванова Алёна", "ИВАНОВ", "Petrov", "  иванова алена "};
        for (int i = 0; i < 5; ++i)
            put(i == 0 ? QStringLiteral("000000123") : QStringLiteral("00000050%1").arg(i), QString::fromUtf8(names[i]));
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
    const struct {
        const char* text;
        int from;
        bool backward;
        RowFinder::Match found;
    } cases[] = {
        {"123", 0, false, {1, false}},             // part of a number with its zeros
        {"алена", 0, false, {2, false}},           // ё as е, any case
        {"ИВАНОВ", 2, false, {3, false}},          // the next after the current row
        {"иванов", 5, false, {2, true}},           // round past the end
        {"иванов", 3, true, {2, false}},           // backward
        {"иванов", 2, true, {5, true}},            // backward round past the start
        {"PETROV", 4, false, {4, true}},           // the only match is the current row
        {"0000005", 0, true, {5, false}},          // backward from no row: from the end
        {"ова але", 0, false, {2, false}},         // inside a name, blank included
        {"123\nИван", 0, false, {}},               // never across a number and a name
        {"  ", 0, false, {}},                      // nothing to look for
        {"Сидоров", 0, false, {}},
        {"\xF0\x9F\x98\x80", 0, false, {}},        // no row can hold what the code page lacks
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(at(c.text, c.from, c.backward), c.found);
    }
    EXPECT_EQ(patient("ИВАНОВА АЛЕНА"), (QList<int>{2, 5}));
    EXPECT_EQ(patient("иванов"), (QList<int>{3}));
    EXPECT_EQ(patient("Иванова"), (QList<int>{}));  // a whole name, not a part
    EXPECT_EQ(patient(" "), (QList<int>{}));         // an empty name matches nothing
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
