// What holds for every store, asked of the dBase store in a folder of its own and of the
// PostgreSQL store in a database of its own: a message stored once, recognised when it comes
// again; refused values store nothing; a message set aside archived once; a deleted row
// restored; rows found by number and name; a period's rows as the reports read them. Then what
// only a server can do: go away mid-burst.
#include "../FindCases.h"
#include "PgTestDatabase.h"

#include "audit/Chain.h"
#include "engine/DataSet.h"
#include "engine/DateFormat.h"
#include "engine/DbfFile.h"
#include "store/DbfResultStore.h"
#include "store/ResultTable.h"
#include "store/pg/PgChain.h"
#include "store/pg/PgResultStore.h"
#include "store/pg/PgSchema.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

namespace {

enum class Kind { Dbf, Pg };

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

// sent: the ENQ's second; the same one is the same capture read again.
audit::ReceivedMessage message(const QString& num, int sent)
{
    audit::ReceivedMessage m;
    m.bytes = "\x05\x02" "1H|\\^&|||sample " + num.toUtf8() + "\r\x03" "00\r\n";
    m.enq = QDateTime(QDate::currentDate(), QTime(9, 15, sent));
    m.end = m.enq.addMSecs(900);
    m.capture = QStringLiteral("Temp.log");
    return m;
}

class AnyStore : public PgTestDatabase, public ::testing::WithParamInterface<Kind> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        folder = tmp.path() + QLatin1Char('/');
        if (pg()) {
            if (!setUpWithSchema())
                return;
            store = std::make_unique<PgResultStore>(folder, uri_);
        } else {
            resulttable::create(folder);
            store = std::make_unique<DbfResultStore>(folder);
        }
        store->attachRows(table);
        table.Open();
    }
    void TearDown() override
    {
        table.Close();
        store.reset();
        PgTestDatabase::TearDown();
    }
    bool pg() const { return GetParam() == Kind::Pg; }

    // Deletes a row and types a name in, as the grid does: through the table the store gives
    // its rows to, each change with its history entry.
    void deleteRow(int record)
    {
        table.Refresh();
        table.SetRecNo(record);
        table.Delete();
    }
    void setName(int record, const QString& name)
    {
        table.Refresh();
        table.SetRecNo(record);
        table.Edit();
        table.FieldByName(QStringLiteral("FIO"))->SetAsString(name);
        table.Post();
    }
    qint64 rowCount()
    {
        if (pg())
            return db_->exec(QStringLiteral("SELECT count(*) FROM results")).scalar()->toLongLong();
        return DbfFile(resulttable::tableFile(folder), DbfFile::Access::ReadOnly).recordCount();
    }
    // Each entry of the archive (its outcome) or the history (its kind).
    QStringList entries(bool archive)
    {
        const char* key = archive ? "outcome" : "kind";
        QStringList out;
        audit::Entry e;
        auto take = [&] { out << e.object.value(QLatin1String(key)).toString(); };
        if (pg()) {
            pgchain::Reader reader(*db_, QLatin1String(archive ? "archive" : "history"));
            while (reader.next(e))
                take();
        } else {
            audit::ChainReader reader(audit::Chain::files(folder, QLatin1String(archive ? "messages" : "history")));
            while (reader.next(e))
                take();
        }
        return out;
    }

    QTemporaryDir tmp;
    QString folder;
    TTable table;
    std::unique_ptr<ResultStore> store;
};

} // namespace

TEST_P(AnyStore, AMessageIsStoredOnceWhateverComesAgain)
{
    using I = ResultStore::Insert;
    const QString num = QStringLiteral("123");
    const struct Step {
        const char* what;
        std::function<ResultStore::Stored()> run;
        I answer;
        int record;
        QStringList archive;
    } steps[] = {
        {"first", [&] { return store->store(row(num), message(num, 1)); }, I::Stored, 1, {"stored"}},
        {"the same capture again (a crash before its file went)", [&] { return store->store(row(num), message(num, 1)); },
         I::AlreadyStored, 1, {"stored"}},
        {"sent again", [&] { return store->store(row(num), message(num, 2)); }, I::AlreadyStored, 1, {"stored", "resend"}},
        {"sent again after its row was deleted", [&] {
             deleteRow(1);
             return store->store(row(num), message(num, 3));
         }, I::Stored, 2, {"stored", "resend", "stored"}},
        {"without bytes: a new row, not archived", [&] { return ResultStore::Stored{store->insert(row(QStringLiteral("124"))), 3}; },
         I::Stored, 3, {"stored", "resend", "stored"}},
        {"without bytes again: among the recent rows", [&] { return store->store(row(QStringLiteral("124")), {}); },
         I::AlreadyStored, 3, {"stored", "resend", "stored"}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        const ResultStore::Stored got = s.run();
        EXPECT_EQ(got.answer, s.answer);
        EXPECT_EQ(got.record, s.record);
        EXPECT_EQ(entries(true), s.archive);
    }
    EXPECT_EQ(rowCount(), 3);
    const audit::VerifyReport checked = store->checkRecent(1, nullptr);
    EXPECT_TRUE(checked.breaks.isEmpty()) << checked.breaks.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(checked.messagesHead.seq, 3);
}

TEST_P(AnyStore, RefusedValuesStoreNothing)
{
    const struct {
        const char* what;
        void (*change)(ImportedRow&);
        bool refused;
        const char* names; // the field the refusal names
    } cases[] = {
        {"a number as long as its field", [](ImportedRow& r) { r.num = QStringLiteral("1234567890"); }, false, ""},
        {"one longer", [](ImportedRow& r) { r.num = QStringLiteral("12345678901"); }, true, "NUM"},
        {"a value outside the code page", [](ImportedRow& r) { r.values[3] = QString::fromUtf8("7\xF0\x9F\x98\x80"); }, true, "HCT"},
        {"a date that is none", [](ImportedRow& r) { r.date = QStringLiteral("13/45/2026"); }, true, ""},
    };
    qint64 stored = 0;
    int sent = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ImportedRow r = row(QStringLiteral("5"));
        c.change(r);
        if (c.refused) {
            try {
                store->store(r, message(QStringLiteral("5"), ++sent));
                ADD_FAILURE() << "stored";
            } catch (const ERowRefused& e) {
                EXPECT_TRUE(e.message().contains(QLatin1String(c.names))) << e.message().toStdString();
            }
        } else {
            EXPECT_EQ(store->store(r, message(QStringLiteral("5"), ++sent)).answer, ResultStore::Insert::Stored);
            ++stored;
        }
        EXPECT_EQ(rowCount(), stored);
        EXPECT_EQ(entries(true).size(), stored);
    }
}

TEST_P(AnyStore, SetAsideIsArchivedOnceAndADeletedRowIsRestored)
{
    const ImportedRow r = row(QStringLiteral("7"));
    for (int i = 0; i < 2; ++i)
        store->setAside(message(QStringLiteral("7"), 1), &r, QStringLiteral("no patient"));
    EXPECT_EQ(entries(true), QStringList{"rejected"});

    store->insert(r);
    setName(1, QStringLiteral("Иванов"));
    deleteRow(1);
    EXPECT_TRUE(store->finder().valuesAt(1).isEmpty());
    store->restore(1);
    EXPECT_TRUE(entries(false).contains("restored"));
    const audit::RowValues values = store->finder().valuesAt(1);
    EXPECT_TRUE(values.contains({QStringLiteral("FIO"), QStringLiteral("Иванов")}));
    EXPECT_TRUE(values.contains({QStringLiteral("DAT"), QStringLiteral("20261207")}));
    EXPECT_THROW(store->restore(1), EDatabaseError);  // not deleted any more
    EXPECT_THROW(store->restore(2), EDatabaseError);  // not there
}

TEST_P(AnyStore, FindsPartsOfNumbersAndNamesFoldedRoundTheEndBothWays)
{
    for (const findcases::Row& r : findcases::rows) {
        const int record = store->store(row(QString::fromUtf8(r.num)), {}).record;
        if (*r.name)
            setName(record, QString::fromUtf8(r.name));
    }
    store->openFinder();
    RowFinder& finder = store->finder();
    for (const findcases::Find& c : findcases::finds) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(finder.find(QString::fromUtf8(c.text), c.from, c.backward, {}).value_or(RowFinder::Match{}), c.found);
    }
    for (const findcases::Patient& p : findcases::patients)
        EXPECT_EQ(finder.patientRecords(QString::fromUtf8(p.name), {}), p.records) << p.name;
}

TEST_P(AnyStore, SelectsAPeriodsUndeletedRowsAsTheReportReadsThem)
{
    // Row n is stored on day[n - 1] of December 2026 with sample number n; 3 is deleted, 4 named
    // with blanks round it (trailing ones are not read back), 2 left with its empty name.
    const int day[] = {6, 7, 7, 7, 8, 10};
    for (int n = 1; n <= int(std::size(day)); ++n) {
        ImportedRow r = row(QString::number(n));
        r.date = QStringLiteral("12/%1/2026").arg(day[n - 1], 2, 10, QLatin1Char('0'));
        store->store(r, {});
    }
    deleteRow(3);
    setName(4, QStringLiteral(" Петров  "));
    const struct {
        const char* what;
        int first, last;
        QStringList nums;
    } cases[] = {
        {"a day", 7, 7, {"2", "4"}},
        {"a range", 6, 8, {"1", "2", "4", "5"}},
        {"a day without rows", 9, 9, {}},
        {"a range ending before it starts", 8, 6, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TQuery q;
        store->selectPeriod(q, QDate(2026, 12, c.first), QDate(2026, 12, c.last));
        ASSERT_TRUE(q.Active());
        ASSERT_EQ(q.Fields().size(), resulttable::fields().size());
        EXPECT_EQ(q.FieldByName(QStringLiteral("DAT"))->DataType(), TFieldType::Date);
        QStringList nums;
        for (; !q.Eof(); q.Next()) {
            const int n = q.FieldByName(QStringLiteral("NUM"))->AsString().toInt();
            nums << QString::number(n);
            const ImportedRow r = row(QString::number(n));
            for (const auto& f : q.Fields()) {
                const QString name = f->FieldName();
                const qsizetype value = resulttable::valueFields().indexOf(name);
                const QString expected = name == QLatin1String("DAT") ? datefmt::formatShortDate(QDate(2026, 12, day[n - 1]))
                                         : name == QLatin1String("TIM") ? r.time
                                         : name == QLatin1String("NUM") ? r.num
                                         : name == QLatin1String("FIO") && n == 4 ? QStringLiteral(" Петров")
                                         : value >= 0 ? r.values[size_t(value)] : QString();
                EXPECT_EQ(f->AsString(), expected) << "row " << n << " " << name.toStdString();
                EXPECT_FALSE(f->IsNull()) << name.toStdString();  // a text field of the dBase query never is
            }
        }
        EXPECT_EQ(nums, c.nums);
    }
}

// Two desks edit one row: the second to post is refused, naming what the first changed, keeping
// its text; the history holds the change and the refusal, and checks. Typed again, it is written.
TEST_P(AnyStore, AnEditOfARowAnotherDeskChangedMeanwhileIsRefusedUntilTypedAgain)
{
    store->store(row(QStringLiteral("1")), {});
    std::unique_ptr<ResultStore> other = pg() ? std::unique_ptr<ResultStore>(std::make_unique<PgResultStore>(folder, uri_))
                                              : std::make_unique<DbfResultStore>(folder);
    TTable desk;
    other->attachRows(desk);
    desk.Open();
    auto edit = [](TTable& t, const char* field, const char* text) -> TTable& {
        t.Refresh();
        t.SetRecNo(1);
        t.Edit();
        t.FieldByName(QLatin1String(field))->SetAsString(QString::fromUtf8(text));
        return t;
    };
    edit(table, "COMMENT", "повтор");
    edit(desk, "FIO", "Иванова А.").Post();
    EXPECT_TRUE(messageOf<ERowChanged>([&] { table.Post(); })
                    .startsWith(QStringLiteral("Запись 1 изменена на другом рабочем месте: FIO «Иванова А.». ")));
    EXPECT_EQ(table.FieldByName(QStringLiteral("COMMENT"))->AsString(), QStringLiteral("повтор"));
    table.Cancel();
    EXPECT_EQ(table.FieldByName(QStringLiteral("FIO"))->AsString(), QStringLiteral("Иванова А.")) << "nothing written; read anew";
    edit(table, "COMMENT", "повтор").Post();
    QStringList changes;  // each edit, and the refusal with what it tried and what it found
    for (const QJsonObject& e : store->storyOf(1).history)
        if (const QString kind = e.value(QLatin1String("kind")).toString(); e.contains(QLatin1String("changes")))
            changes << kind + (kind == QLatin1String("edit") ? QByteArray() : QJsonDocument(e[QLatin1String("changes")].toArray()).toJson(QJsonDocument::Compact));
    EXPECT_EQ(changes, QStringList({"edit", R"(refused[{"field":"FIO","found":"Иванова А.","tried":""},{"field":"COMMENT","found":"","tried":"повтор"}])", "edit"}));
    const audit::VerifyReport checked = store->checkRecent(1, nullptr);
    EXPECT_EQ(checked.breaks + checked.notes, QStringList());
}

INSTANTIATE_TEST_SUITE_P(Stores, AnyStore, ::testing::Values(Kind::Dbf, Kind::Pg),
                         [](const auto& p) { return p.param == Kind::Pg ? "Pg" : "Dbf"; });

using PgStore = PgTestDatabase;

// The server's sessions ended between two stores: the next store is away and leaves nothing half
// stored, and a flush owed since is away too (the commit it would vouch for may be gone with the
// server); a store made anew stores once.
TEST_F(PgStore, ServerGoneMidBurstIsAwayAndNothingIsHalfStored)
{
    pgschema::ensure(*db_);
    QTemporaryDir tmp;
    auto msg = [](int n) { return message(QString::number(n), n); };
    auto one = [](int n) { return row(QString::number(n)); };
    PgResultStore store(tmp.path() + QLatin1Char('/'), uri_);
    store.store(one(1), msg(1));
    EXPECT_FALSE(store.storeUnflushed(one(3), msg(3)).onDisk);
    pg::Connection(uri_, 5).exec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                                "WHERE datname = current_database() AND pid <> pg_backend_pid()"));
    EXPECT_THROW(store.store(one(2), msg(2)), EStoreAway);
    EXPECT_THROW(store.flush(), EStoreAway);
    db_ = std::make_unique<pg::Connection>(uri_, 5);
    auto counts = [&] { return db_->exec(QStringLiteral("SELECT (SELECT count(*) FROM results) || '/' || (SELECT count(*) FROM archive)")).scalar(); };
    EXPECT_EQ(counts(), QStringLiteral("2/2"));
    PgResultStore again(tmp.path() + QLatin1Char('/'), uri_);
    EXPECT_EQ(again.store(one(2), msg(2)).answer, ResultStore::Insert::Stored);
    EXPECT_EQ(again.store(one(2), msg(2)).answer, ResultStore::Insert::AlreadyStored);
    EXPECT_EQ(again.storeUnflushed(one(3), msg(3)).answer, ResultStore::Insert::AlreadyStored);
    EXPECT_EQ(again.storeUnflushed(one(4), msg(4)).answer, ResultStore::Insert::Stored);
    EXPECT_NO_THROW(again.flush());
    EXPECT_EQ(counts(), QStringLiteral("4/4"));
}

// The server writes a message's archive entry itself: each line is the line audit::Chain would
// write for it, byte for byte, linked to the one before by its hash.
TEST_F(PgStore, ArchiveLinesAreTheChainsOwnLines)
{
    pgschema::ensure(*db_);
    QTemporaryDir tmp;
    const QDateTime at(QDate(2026, 12, 7), QTime(9, 15, 2, 345));
    PgResultStore store(tmp.path() + QLatin1Char('/'), uri_, [&] { return at; });
    const ImportedRow r = row(QStringLiteral("Ёж\"1"));
    const struct {
        int sent;
        audit::MessageArchive::Outcome outcome;
    } sends[] = {{1, audit::MessageArchive::Outcome::Stored}, {2, audit::MessageArchive::Outcome::Resend}};
    audit::Head head;
    for (const auto& s : sends) {
        store.store(r, message(r.num, s.sent));
        const QByteArray body = audit::MessageArchive::entry(message(r.num, s.sent), s.outcome, DbfResultStore::identityOf(r), 1).object();
        const QByteArray expected = "{\"seq\":" + QByteArray::number(head.seq + 1) + ",\"prev\":\"" + head.hash + "\",\"time\":"
                                    + audit::JsonLine::quote(audit::timeText(at)) + ',' + body.mid(1);
        audit::Entry e;
        pgchain::Reader reader(*db_, QStringLiteral("archive"), head.seq + 1);
        ASSERT_TRUE(reader.next(e));
        EXPECT_EQ(e.line, expected);
        head = {e.seq, e.hash, e.line};
    }
}
