// The check of the PostgreSQL store's trail against itself and its rows: a database the program
// wrote passes, and each way of spoiling it with plain SQL is named where it happened, by
// pgverify and by `hematix-audit verify URI` (its exit status). A row found changed gets an
// "outside" entry with its next edit; a row's story comes through the store.
#include "PgTestDatabase.h"

#include "engine/DataSet.h"
#include "store/ResultTable.h"
#include "store/pg/PgChain.h"
#include "store/pg/PgResultStore.h"
#include "store/pg/PgSchema.h"
#include "store/pg/PgVerify.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

namespace {

audit::ReceivedMessage message(int n)
{
    audit::ReceivedMessage m;
    m.bytes = "\x05\x02" "1H|\\^&|||sample " + QByteArray::number(n) + "\r\x03" "00\r\n";
    m.enq = QDateTime(QDate::currentDate(), QTime(9, 15, n));
    m.end = m.enq.addMSecs(900);
    m.capture = QStringLiteral("Temp-%1.log").arg(n);
    return m;
}

// Rows 1-4 from messages; row 2's name typed in, row 4 deleted, through the table as the grid
// writes them.
class PgTrailCheck : public PgTestDatabase {
protected:
    void SetUp() override
    {
        if (!setUpWithSchema())
            return;
        store = std::make_unique<PgResultStore>(tmp.path() + QLatin1Char('/'), uri_);
        for (int n = 101; n <= 104; ++n) {
            ImportedRow r;
            r.date = QStringLiteral("12/07/2026");
            r.time = QStringLiteral("09:15:02");
            r.num = QString::number(n);
            for (size_t i = 0; i < r.values.size(); ++i)
                r.values[i] = QString::number(i) + QStringLiteral(".5");
            store->store(r, message(n));
        }
        store->attachRows(table);
        table.Open();
        edit(2, QStringLiteral("FIO"), QStringLiteral("Иванов"));
        table.SetRecNo(4);
        table.Delete();
    }
    void TearDown() override
    {
        table.Close();
        store.reset();
        PgTestDatabase::TearDown();
    }
    void edit(int record, const QString& field, const QString& text)
    {
        table.Refresh();
        table.SetRecNo(record);
        table.Edit();
        table.FieldByName(field)->SetAsString(text);
        table.Post();
    }
    void sql(const QString& statement) { db_->exec(statement); }
    int tool(const QStringList& args)
    {
        QProcess p;
        p.start(testsupport::binDir() + QStringLiteral("/hematix-audit"), args);
        EXPECT_TRUE(p.waitForFinished(60000));
        output = p.readAllStandardOutput() + p.readAllStandardError();
        return p.exitCode();
    }

    QTemporaryDir tmp;
    TTable table;
    std::unique_ptr<PgResultStore> store;
    QString output;
};

} // namespace

TEST_F(PgTrailCheck, NamesEachSpoilingWhereItHappened)
{
    const QString wbc = resulttable::valueFields().first();
    const struct {
        const char* what;
        QString sql;
        QString named;  // "" when the database must pass
    } cases[] = {
        {"untouched", {}, {}},
        {"a number an insert took and gave up is no row",
         QStringLiteral("SELECT nextval(pg_get_serial_sequence('results', 'id'))"), {}},
        {"a value changed by UPDATE", QStringLiteral("UPDATE results SET %1 = '9.9' WHERE id = 1").arg(pgschema::column(wbc)),
         QStringLiteral("row 1 (sample 101, 2026-12-07) changed outside Hematix: %1 is \"9.9\", its trail says \"0.5\"").arg(wbc)},
        {"a typed-in name changed", QStringLiteral("UPDATE results SET fio = 'Петров' WHERE id = 2"),
         QStringLiteral("FIO is \"Петров\", its trail says \"Иванов\"")},
        {"a row deleted", QStringLiteral("UPDATE results SET deleted = true WHERE id = 3"),
         QStringLiteral("row 3 (sample 103, 2026-12-07) was deleted outside Hematix")},
        {"a deleted row brought back", QStringLiteral("UPDATE results SET deleted = false WHERE id = 4"),
         QStringLiteral("row 4 (sample 104, 2026-12-07) is deleted by its history but not in the table")},
        {"a row removed", QStringLiteral("DELETE FROM results WHERE id = 2"),
         QStringLiteral("row 2 is not in the table: it was removed outside Hematix")},
        {"an archive line changed", QStringLiteral("UPDATE archive SET entry = replace(entry, 'Temp-102', 'Temp-902') WHERE seq = 2"),
         QStringLiteral("archive seq 3: entry 3 does not link to the entry before it (archive seq 2)")},
        {"a history line changed", QStringLiteral("UPDATE history SET entry = replace(entry, 'Иванов', 'Петров') WHERE seq = 1"),
         QStringLiteral("history seq 2: entry 2 does not link to the entry before it (history seq 1)")},
        {"an archive entry removed", QStringLiteral("DELETE FROM archive WHERE seq = 3"),
         QStringLiteral("archive seq 4: entry 4 follows entry 2 (archive seq 2)")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.sql.isEmpty())
            sql(c.sql);
        const audit::VerifyReport r = pgverify::verify(uri_, {});
        const QString breaks = r.breaks.join(QLatin1Char('\n'));
        if (c.named.isEmpty())
            EXPECT_TRUE(r.ok()) << breaks.toStdString();
        else
            EXPECT_TRUE(breaks.contains(c.named)) << breaks.toStdString();
        EXPECT_EQ(r.rounds, 1);
        EXPECT_EQ(tool({QStringLiteral("verify"), uri_}), c.named.isEmpty() ? 0 : 1) << output.toStdString();
        // Each case on the database as SetUp left it.
        TearDown();
        SetUp();
    }
    EXPECT_EQ(tool({QStringLiteral("verify"), uri_, QStringLiteral("--days"), QStringLiteral("1")}), 0) << output.toStdString();
    EXPECT_EQ(tool({QStringLiteral("verify"), QStringLiteral("postgresql:///hx_no_such_database?host=/nonexistent")}), 2);
}

TEST_F(PgTrailCheck, ARowChangedOutsideIsNamedByItsNextEdit)
{
    sql(QStringLiteral("UPDATE results SET fio = 'Петров', tim = '10:00:00' WHERE id = 2"));
    const audit::VerifyReport r = store->checkRecent(1, nullptr);
    EXPECT_EQ(r.changedOutside, QList<int>{2});
    store->noteChangedOutside(r.changedOutside);
    edit(2, QStringLiteral("COE"), QStringLiteral("x"));
    const audit::RecordStory story = store->storyOf(2);
    QStringList kinds;
    for (const QJsonObject& e : story.history)
        kinds << e.value(QLatin1String("kind")).toString();
    EXPECT_EQ(kinds, (QStringList{"edit", "outside", "edit"}));
    const QJsonArray named = story.history.value(1).value(QLatin1String("changes")).toArray();
    ASSERT_EQ(named.size(), 2);
    EXPECT_EQ(named[0].toObject().value(QLatin1String("field")), QStringLiteral("TIM"));
    EXPECT_EQ(named[1].toObject().value(QLatin1String("history")), QStringLiteral("Иванов"));
    EXPECT_EQ(named[1].toObject().value(QLatin1String("found")), QStringLiteral("Петров"));
    // Noted once: the edit after it writes no second one.
    edit(2, QStringLiteral("COE"), QStringLiteral("y"));
    EXPECT_EQ(store->storyOf(2).history.size(), 4);
}

TEST_F(PgTrailCheck, StoryTellsOriginChangesAndDeletion)
{
    EXPECT_EQ(store->storyOf(2).origin, audit::RecordStory::Origin::Message);
    EXPECT_EQ(store->storyOf(2).originEntry.value(QLatin1String("name")), QStringLiteral("Temp-102.log"));
    EXPECT_NE(store->storyOf(4).deletedEntry, 0);
    store->restore(4);
    EXPECT_EQ(store->storyOf(4).deletedEntry, 0);
    EXPECT_EQ(store->storyOf(5).origin, audit::RecordStory::Origin::None);
    EXPECT_EQ(store->messagesOfDay(QDate::currentDate()).size(), 4);
    EXPECT_EQ(tool({QStringLiteral("show"), uri_, QStringLiteral("--sample"), QStringLiteral("104")}), 0);
    EXPECT_TRUE(output.contains(QStringLiteral("restored"))) << output.toStdString();
}

// Archive entries pruned behind a pruning entry: the chain still checks, and the rows whose
// origin went are counted (and told as such), not reported.
TEST_F(PgTrailCheck, PrunedOriginsAreAccountedFor)
{
    // The time column only: pruning goes by it, the check by the lines.
    sql(QStringLiteral("UPDATE archive SET time = time - interval '10 days' WHERE seq <= 2"));
    store->openAudit(5);
    ASSERT_EQ(db_->exec(QStringLiteral("SELECT min(seq) FROM archive")).scalar(), QStringLiteral("3"));
    const audit::VerifyReport r = pgverify::verify(uri_, {});
    EXPECT_TRUE(r.ok()) << r.breaks.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(r.originPruned, 2);
    EXPECT_EQ(store->storyOf(1).origin, audit::RecordStory::Origin::Pruned);
}
