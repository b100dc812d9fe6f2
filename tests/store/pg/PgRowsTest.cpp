// A table data set over the server's rows (PgResultStore::attachRows): what the grid shows, and
// each change written with its history entry, together or not at all.
#include "PgTestDatabase.h"

#include "engine/DataSet.h"
#include "store/pg/PgListener.h"
#include "store/pg/PgRecordSource.h"
#include "store/pg/PgResultStore.h"
#include "store/pg/PgSchema.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <limits>

namespace {

ImportedRow row(const QString& num)
{
    ImportedRow r;
    r.date = QStringLiteral("12/07/2026");
    r.time = QStringLiteral("09:15:02");
    r.num = num;
    for (size_t i = 0; i < r.values.size(); ++i)
        r.values[i] = QString::number(i) + QStringLiteral(".5|");
    return r;
}

// Rows 1, 2 (deleted), 3, no row 4 (an insert given up), 5.
class PgRows : public PgTestDatabase {
protected:
    void SetUp() override
    {
        if (!setUpWithSchema())
            return;
        store = std::make_unique<PgResultStore>(tmp.path() + QLatin1Char('/'), uri_);
        for (const char* num : {"1", "2", "3"})
            store->store(row(QLatin1String(num)), {});
        db_->begin();
        db_->exec(QStringLiteral("INSERT INTO results (num) VALUES ('gone')"));
        db_->rollback();
        store->store(row(QStringLiteral("5")), {});
        db_->exec(QStringLiteral("UPDATE results SET deleted = true WHERE id = 2"));
        store->attachRows(table);
        table.Open();
    }
    QString sql(const QString& query) { return db_->exec(query).scalar().value_or(QStringLiteral("NULL")); }
    void killSessions()
    {
        pg::Connection(uri_, 5).exec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                                    "WHERE datname = current_database() AND pid <> pg_backend_pid()"));
        db_ = std::make_unique<pg::Connection>(uri_, 5);
    }

    QTemporaryDir tmp;
    std::unique_ptr<PgResultStore> store;
    TTable table;
};

TEST_F(PgRows, ShowsTheRowsSkippingDeletedOnesAndGaps)
{
    EXPECT_EQ(table.RecordCount(), 3);
    EXPECT_EQ(table.RecordsInFile(), 5);
    QList<int> seen;
    for (table.First(); !table.Eof(); table.Next())
        seen << table.RecNo();
    EXPECT_EQ(seen, (QList<int>{1, 3, 5}));
    table.Last();
    table.Prior();
    EXPECT_EQ(table.RecNo(), 3);
    EXPECT_EQ(table.FieldByName(QStringLiteral("NUM"))->AsString(), QStringLiteral("3"));
    EXPECT_EQ(table.FieldByName(QStringLiteral("DAT"))->AsDate(), QDate(2026, 12, 7));
    EXPECT_EQ(table.FieldByName(QStringLiteral("WBC"))->AsString(), QStringLiteral("0.5|"));
}

// An edit is the row and one entry; the fields it leaves alone keep their NULL or ''.
TEST_F(PgRows, AnEditWritesTheRowAndOneEntryTogether)
{
    table.First();
    table.Edit();
    table.FieldByName(QStringLiteral("FIO"))->SetAsString(QStringLiteral("Пётр Иванов"));
    table.Post();
    EXPECT_EQ(sql(QStringLiteral("SELECT fio || '/' || coe || '/' || (doc IS NULL) FROM results WHERE id = 1")),
              QStringLiteral("Пётр Иванов//true"));
    EXPECT_EQ(sql(QStringLiteral("SELECT count(*) || ' ' || min(kind) || ' ' || min(record) FROM history")), QStringLiteral("1 edit 1"));
    const QString entry = sql(QStringLiteral("SELECT entry FROM history"));
    EXPECT_TRUE(entry.contains(QStringLiteral("{\"field\":\"FIO\",\"old\":\"\",\"new\":\"Пётр Иванов\"}"))) << entry.toStdString();
    EXPECT_FALSE(entry.contains(QStringLiteral("pending"))) << entry.toStdString();
}

// The server's sessions end before the post, or between the entry and the row: the post raises,
// the typed text stays to post again, and the database holds neither half.
TEST_F(PgRows, ServerGoneKeepsTheTextAndLeavesNothingHalfDone)
{
    struct KillAfterEntry : TWriteObserver {
        TWriteObserver* inner = nullptr;
        std::function<void()> kill;
        qint64 beforeWrite(Change c, int r, const std::vector<DbfField>& f, const QByteArray& b, const QByteArray& a) override
        {
            const qint64 seq = inner->beforeWrite(c, r, f, b, a);
            if (kill)
                kill();
            return seq;
        }
        void afterWrite(qint64, bool) noexcept override {}
    };
    for (const bool afterEntry : {false, true}) {
        SCOPED_TRACE(afterEntry ? "after the entry" : "before the post");
        PgRowHistory history{pgchain::Chain(QStringLiteral("history"))};
        TTable t;
        PgRowHistory::attachTable(t, uri_, QStringLiteral("rows"), history);
        KillAfterEntry killer;
        killer.inner = &history;
        t.SetWriteObserver(&killer);
        t.Open();
        t.Last();
        t.Edit();
        t.FieldByName(QStringLiteral("COMMENT"))->SetAsString(QStringLiteral("повтор"));
        if (afterEntry)
            killer.kill = [&] { killSessions(); };
        else
            killSessions();
        EXPECT_THROW(t.Post(), EStoreAway);
        EXPECT_EQ(t.State(), TDataSet::dsEdit);
        EXPECT_EQ(t.FieldByName(QStringLiteral("COMMENT"))->AsString(), QStringLiteral("повтор"));
        EXPECT_EQ(sql(QStringLiteral("SELECT (SELECT count(*) FROM history) || '/' || (SELECT comment IS NULL FROM results WHERE id = 5)")),
                  QStringLiteral("0/true"));
        killer.kill = nullptr;
        t.Post();
        EXPECT_EQ(sql(QStringLiteral("SELECT (SELECT count(*) FROM history) || '/' || (SELECT comment FROM results WHERE id = 5)")),
                  QStringLiteral("1/повтор"));
        db_->exec(QStringLiteral("DELETE FROM history"));
        db_->exec(QStringLiteral("UPDATE results SET comment = NULL"));
    }
}

TEST_F(PgRows, AppendTakesTheNextIdAndDeleteHidesIt)
{
    table.Append();
    table.FieldByName(QStringLiteral("NUM"))->SetAsString(QStringLiteral("777"));
    table.Post();
    EXPECT_EQ(table.RecNo(), 6);
    EXPECT_EQ(table.RecordCount(), 4);
    EXPECT_EQ(sql(QStringLiteral("SELECT num || '/' || (fio IS NULL) || '/' || (identity_key IS NULL) FROM results WHERE id = 6")),
              QStringLiteral("777/true/true"));
    table.Delete();
    EXPECT_EQ(table.RecordCount(), 3);
    EXPECT_EQ(sql(QStringLiteral("SELECT deleted FROM results WHERE id = 6")), QStringLiteral("t"));
    EXPECT_EQ(sql(QStringLiteral("SELECT string_agg(kind || ' ' || record, ',' ORDER BY seq) FROM history")),
              QStringLiteral("entered 6,deleted 6"));
}

TEST_F(PgRows, ARefusedValueKeepsTheEditAndWritesNothing)
{
    db_->exec(QStringLiteral("ALTER TABLE results ADD CONSTRAINT coe_refused CHECK (coe IS DISTINCT FROM 'no')"));
    table.First();
    table.Edit();
    table.FieldByName(QStringLiteral("COE"))->SetAsString(QStringLiteral("no"));
    EXPECT_THROW(table.Post(), ERowRefused);
    EXPECT_EQ(table.State(), TDataSet::dsEdit);
    EXPECT_EQ(table.FieldByName(QStringLiteral("COE"))->AsString(), QStringLiteral("no"));
    EXPECT_EQ(sql(QStringLiteral("SELECT count(*) FROM history")), QStringLiteral("0"));
}

// 10,000 rows more, every seventh deleted: the last row and a row's place read the blocks they
// need, never every row.
TEST_F(PgRows, LastAndRowPlacesReadOnlyTheBlocksTheyNeed)
{
    db_->exec(QStringLiteral("INSERT INTO results (num, deleted) SELECT g::text, g % 7 = 0 FROM generate_series(1, 10000) g"));
    PgRecordSource* source = nullptr;
    TTable t;
    t.SetRecordSource(QStringLiteral("rows"), [&] {
        auto s = std::make_unique<PgRecordSource>(uri_);
        source = s.get();
        return std::unique_ptr<TRecordSource>(std::move(s));
    });
    t.Open();
    const qint64 opened = source->blocksRead();
    t.Last();
    EXPECT_EQ(t.RecNo(), 10005);
    EXPECT_LE(source->blocksRead() - opened, 1);
    // Rows 1..19 without 2, 4 (gap), 12 and 19 (the 7th and 14th added, deleted).
    EXPECT_EQ(t.RowOfRecNo(20), 15);
    EXPECT_LE(source->blocksRead() - opened, 2);
    // A row by its place counts the shown rows of the data set's first chunk of 4096 records.
    EXPECT_EQ(t.RecNoOfRow(15), 20);
    EXPECT_LE(source->blocksRead() - opened, 2 + 4096 / PgRecordSource::kBlockRows);
    // Across a block's edge onto a deleted row (the 252nd added, id 257).
    t.SetRecNo(256);
    t.Next();
    EXPECT_EQ(t.FieldByName(QStringLiteral("NUM"))->AsString(), QStringLiteral("253"));
    t.SetRecNo(5000);
    EXPECT_LT(source->blocksRead(), 10005 / PgRecordSource::kBlockRows);
}

// Counting reads the server's indexes, a walk reads the rows: both see 9,000 rows more, every
// seventh deleted, less ids 4000..4200 that no row has (across the first chunk's edge), as read
// anew, after this data set's delete and append, and after another program's delete and a refresh.
TEST_F(PgRows, RowPlacesAgreeWithAWalkThroughDeletedRowsAndGaps)
{
    db_->exec(QStringLiteral("INSERT INTO results (num, deleted) SELECT g::text, g % 7 = 0 FROM generate_series(1, 9000) g"));
    db_->exec(QStringLiteral("DELETE FROM results WHERE id BETWEEN 4000 AND 4200"));
    const std::pair<const char*, std::function<void()>> steps[] = {
        {"read anew", [&] { table.Refresh(); }},
        {"after deleting row 8000", [&] { table.SetRecNo(8000); table.Delete(); }},
        {"after an append", [&] { table.Append(); table.FieldByName(QStringLiteral("NUM"))->SetAsString(QStringLiteral("x")); table.Post(); }},
        {"after another program's delete and a refresh", [&] { db_->exec(QStringLiteral("UPDATE results SET deleted = true WHERE id = 100")); table.Refresh(); }},
    };
    for (const auto& [what, step] : steps) {
        SCOPED_TRACE(what);
        (void)table.RecordCount();  // counted before the step, so that the step must keep the counts right
        step();
        QList<int> walk;
        for (table.First(); !table.Eof(); table.Next())
            walk << table.RecNo();
        ASSERT_EQ(table.RecordCount(), walk.size());
        for (int row = 0; row < walk.size(); row += row + 4 >= walk.size() ? 1 : 3) {
            ASSERT_EQ(table.RecNoOfRow(row), walk[row]) << row;
            ASSERT_EQ(table.RowOfRecNo(walk[row]), row) << row;
        }
        EXPECT_EQ(table.RecNoOfRow(int(walk.size())), 0);
        for (const int absent : {4000, 4200, 8000, 100})
            EXPECT_EQ(table.RowOfRecNo(absent), walk.contains(absent) ? walk.indexOf(absent) : -1);
    }
}

} // namespace

// Rows another program stores or changes reach the grid's data set as they commit, through the
// listener: a row whose id was taken early and committed late too, deletions and restorations,
// and what was missed while the listener's connection was gone. An edit under way stays pending.
TEST_F(PgRows, AnotherProgramsRowsAppearAsTheyCommit)
{
    PgListener listener(uri_, 500, 100);
    QObject::connect(&listener, &PgListener::rowsChanged, [&](qint64 first, qint64 last) { table.TakeChangedRecords(int(first), int(last)); });
    QObject::connect(&listener, &PgListener::missed, [&] { table.TakeChangedRecords(1, std::numeric_limits<int>::max()); });
    listener.start();
    ASSERT_TRUE(listener.listening());
    auto shown = [&] {
        QList<int> recNos;
        for (int r = 0; r < table.RecordCount(); ++r)
            recNos << table.RecNoOfRow(r);
        return recNos;
    };
    auto waitFor = [&](const QList<int>& want) {
        QElapsedTimer clock;
        clock.start();
        while (shown() != want && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return shown();
    };
    table.First();
    table.Edit();
    table.FieldByName(QStringLiteral("FIO"))->SetAsString(QStringLiteral("Набрано"));

    pg::Connection late(uri_, 5);
    late.begin();
    late.exec(QStringLiteral("INSERT INTO results (num) VALUES ('late')"));  // id 6, not committed
    PgResultStore other(tmp.path() + QLatin1Char('/'), uri_);
    other.store(row(QStringLiteral("7")), {});
    EXPECT_EQ(waitFor({1, 3, 5, 7}), (QList<int>{1, 3, 5, 7}));
    late.commit();
    EXPECT_EQ(waitFor({1, 3, 5, 6, 7}), (QList<int>{1, 3, 5, 6, 7}));
    db_->exec(QStringLiteral("UPDATE results SET deleted = NOT deleted WHERE id IN (2, 3)"));
    EXPECT_EQ(waitFor({1, 2, 5, 6, 7}), (QList<int>{1, 2, 5, 6, 7}));

    // What anyone may send on the channel is checked: nothing past the server's last row appears.
    for (const char* payload : {"x", "7", "9 3", "0 5", "1 2000000000"})
        db_->exec(QStringLiteral("SELECT pg_notify('hematix_rows', $1)"), {QLatin1String(payload)});
    QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    EXPECT_EQ(table.RecordsInFile(), 7);

    // The listener's connection lost: it connects again and reads anew what it missed meanwhile.
    db_->exec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE query LIKE 'LISTEN%'"));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    other.store(row(QStringLiteral("8")), {});
    EXPECT_EQ(waitFor({1, 2, 5, 6, 7, 8}), (QList<int>{1, 2, 5, 6, 7, 8}));

    EXPECT_EQ(table.State(), TDataSet::dsEdit);
    EXPECT_EQ(table.FieldByName(QStringLiteral("FIO"))->AsString(), QStringLiteral("Набрано"));
    table.Post();
    EXPECT_EQ(sql(QStringLiteral("SELECT fio FROM results WHERE id = 1")), QStringLiteral("Набрано"));
}
