// The dBase store with its audit trail: a message stored once and archived once, recognised when
// sent again however its row was edited since; every change made through the table's data set in
// the history before the table, in order; older tables adopted; half-made changes resolved.
#include "store/DbfResultStore.h"
#include "store/ResultTable.h"

#include "audit/Chain.h"
#include "audit/ChangeHistory.h"
#include "engine/DataSet.h"
#include "engine/DbfFile.h"
#include "platform/durable/DurableIo.h"

#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class AuditedStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        folder = tmp.path() + QLatin1Char('/');
        resulttable::create(folder);
        store = std::make_unique<DbfResultStore>(folder);
        store->attachRows(table);
        table.Open();
    }

    static ImportedRow row(const QString& num)
    {
        ImportedRow r;
        r.date = QStringLiteral("12/07/2026");
        r.time = QStringLiteral("09:15:02");
        r.num = num;
        for (size_t i = 0; i < r.values.size(); ++i)
            r.values[i] = QString::number(i) + QStringLiteral(".5|");
        return r;
    }
    static audit::ReceivedMessage message(const QString& num, int sent)
    {
        audit::ReceivedMessage m;
        m.bytes = "\x05\x02" "1H|\\^&|||sample " + num.toLatin1() + "\r\x03" "00\r\n";
        m.enq = QDateTime(QDate(2026, 12, 7), QTime(9, 15, sent));
        m.end = m.enq.addMSecs(900);
        m.capture = QStringLiteral("Temp.log");
        return m;
    }

    // (kind, outcome or state) of every entry of a chain, in order.
    QStringList entries(const char* chain) const
    {
        QStringList out;
        audit::ChainReader reader(audit::Chain::files(folder, QString::fromLatin1(chain)));
        audit::Entry e;
        while (reader.next(e)) {
            const QString kind = e.object.value(QLatin1String("kind")).toString();
            const QString detail = e.object.value(QLatin1String(kind == QLatin1String("message") ? "outcome" : "state")).toString();
            out << (detail.isEmpty() ? kind : kind + QLatin1Char(' ') + detail);
        }
        return out;
    }
    QJsonObject lastEntry(const char* chain, const char* kind) const
    {
        QJsonObject found;
        audit::ChainReader reader(audit::Chain::files(folder, QString::fromLatin1(chain)));
        audit::Entry e;
        while (reader.next(e))
            if (e.object.value(QLatin1String("kind")).toString() == QLatin1String(kind))
                found = e.object;
        return found;
    }
    void edit(int recNo, const char* field, const QString& text)
    {
        table.Refresh();
        table.SetRecNo(recNo);
        table.Edit();
        table.FieldByName(QString::fromLatin1(field))->SetAsString(text);
        table.Post();
    }
    QString text(int recNo, const char* field)
    {
        table.Refresh();
        table.SetRecNo(recNo);
        return table.FieldByName(QString::fromLatin1(field))->AsString();
    }

    QTemporaryDir tmp;
    QString folder;
    TTable table;
    std::unique_ptr<DbfResultStore> store;
};

} // namespace

TEST_F(AuditedStore, ResultSentAgainIsKnownByItsIdentityWhateverItsRowBecame)
{
    using I = ResultStore::Insert;
    const struct Step {
        const char* what;
        std::function<void()> before;
        int sent;  // the ENQ's second: the same one is the same capture read again
        I answer;
        int record;
        QStringList archive;
    } steps[] = {
        {"first", {}, 1, I::Stored, 1, {"message stored"}},
        {"the same capture again (a crash before its file went)", {}, 1, I::AlreadyStored, 1, {"message stored"}},
        {"sent again after staff corrected a value", [&] { edit(1, "WBC", QStringLiteral("9.9")); }, 2,
         I::AlreadyStored, 1, {"message stored", "message resend"}},
        {"sent again after staff deleted the row", [&] {
             table.Refresh();
             table.SetRecNo(1);
             table.Delete();
         }, 3, I::Stored, 2, {"message stored", "message resend", "message stored"}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.before)
            s.before();
        const ResultStore::Stored got = store->store(row(QStringLiteral("123")), message(QStringLiteral("123"), s.sent));
        EXPECT_EQ(got.answer, s.answer);
        EXPECT_EQ(got.record, s.record);
        EXPECT_EQ(entries("messages"), s.archive);
    }
    // The archived entry keeps the message as captured and what it became.
    const QJsonObject stored = lastEntry("messages", "message");
    EXPECT_EQ(QByteArray::fromBase64(stored.value(QLatin1String("bytes")).toString().toLatin1()),
              message(QStringLiteral("123"), 3).bytes);
    EXPECT_EQ(stored.value(QLatin1String("record")).toInt(), 2);
    EXPECT_EQ(stored.value(QLatin1String("identity")).toObject().value(QLatin1String("NUM")).toString(), "123");
    EXPECT_FALSE(stored.value(QLatin1String("enq")).toString().isEmpty());
}

TEST_F(AuditedStore, EveryChangeThroughTheTableIsEnteredFirstAndRestoreBringsARowBack)
{
    store->store(row(QStringLiteral("1")), message(QStringLiteral("1"), 1));
    edit(1, "FIO", QStringLiteral("Иванов"));
    table.Append();
    table.FieldByName(QStringLiteral("NUM"))->SetAsString(QStringLiteral("77"));
    table.Post();
    table.Refresh();
    table.SetRecNo(1);
    table.Delete();
    EXPECT_EQ(entries("history"), (QStringList{"edit pending", "applied", "entered pending", "applied",
                                               "deleted pending", "applied"}));
    const QJsonObject change = lastEntry("history", "edit").value(QLatin1String("changes")).toArray().first().toObject();
    EXPECT_EQ(change.value(QLatin1String("field")).toString(), "FIO");
    EXPECT_EQ(change.value(QLatin1String("old")).toString(), "");
    EXPECT_EQ(change.value(QLatin1String("new")).toString(), QStringLiteral("Иванов"));
    EXPECT_EQ(lastEntry("history", "entered").value(QLatin1String("record")).toInt(), 2);
    EXPECT_EQ(lastEntry("history", "deleted").value(QLatin1String("values")).toObject().value(QLatin1String("FIO")).toString(),
              QStringLiteral("Иванов"));

    store->restore(1);
    EXPECT_EQ(text(1, "FIO"), QStringLiteral("Иванов"));
    EXPECT_EQ(lastEntry("history", "restored").value(QLatin1String("of")).toInt(),
              lastEntry("history", "deleted").value(QLatin1String("seq")).toInt());
    EXPECT_THROW(store->restore(1), EDatabaseError);  // not deleted any more

    // An entry that cannot be written stops the change: the row keeps its text.
    {
        durable::ScopedObserver refuse([](durable::Call& c) { return c.op == durable::Op::Sync ? ENOSPC : 0; });
        EXPECT_THROW(edit(1, "FIO", QStringLiteral("Петров")), EDatabaseError);
        table.Cancel();
    }
    EXPECT_EQ(text(1, "FIO"), QStringLiteral("Иванов"));
    // A table that cannot be written: the entry says at once that the change was not made.
    {
        durable::ScopedObserver refuse([](durable::Call& c) {
            return c.path.endsWith(QLatin1String(".dbf")) && c.op == durable::Op::Write ? EIO : 0;
        });
        EXPECT_THROW(edit(1, "FIO", QStringLiteral("Петров")), EDatabaseError);
        table.Cancel();
    }
    EXPECT_EQ(entries("history").last(), "not applied");
    EXPECT_EQ(text(1, "FIO"), QStringLiteral("Иванов"));

    // A row changed by another program shows at its next edit, field by field.
    {
        DbfFile other(resulttable::tableFile(folder), DbfFile::Access::ReadWrite);
        QByteArray rec = other.readFresh(0);
        const DbfField& fio = other.fields()[size_t(other.fieldIndex(QStringLiteral("FIO")))];
        rec.replace(fio.offset, 6, QByteArray("Sidor "));
        other.write(0, rec);
    }
    edit(1, "DOC", QStringLiteral("45 лет"));
    const QJsonObject outside = lastEntry("history", "outside").value(QLatin1String("changes")).toArray().first().toObject();
    EXPECT_EQ(outside.value(QLatin1String("field")).toString(), "FIO");
    EXPECT_EQ(outside.value(QLatin1String("history")).toString(), QStringLiteral("Иванов"));
    EXPECT_TRUE(outside.value(QLatin1String("found")).toString().startsWith(QLatin1String("Sidor")));
}

TEST_F(AuditedStore, StartAdoptsAnOlderTableOnceAndResolvesWhatAStoppedProgramLeftPending)
{
    table.Close();
    {
        // Rows of a table older than the audit trail, one of them deleted.
        DbfFile file(resulttable::tableFile(folder), DbfFile::Access::ReadWrite);
        for (int i = 0; i < 3; ++i) {
            QByteArray rec = file.blankRecord();
            rec.replace(file.fields()[2].offset, 1, QByteArray::number(i));
            file.append(rec);
        }
        file.setDeleted(1, true);
    }
    EXPECT_EQ(store->openAudit(3650).adopted, 2);
    EXPECT_EQ(store->openAudit(3650).adopted, 0);
    EXPECT_EQ(entries("history"), (QStringList{"adopted", "adopted", "adoption"}));

    // Two changes of a process that died between its entry and its table write, or after both.
    audit::Author dead = audit::Author::ofThisProcess();
    dead.pid = 0x3ffffff0;
    audit::ChangeHistory died(folder, {}, dead);
    died.edited(1, {{QStringLiteral("FIO"), QString(), QStringLiteral("never written")}});
    const QString numField = QStringLiteral("NUM");
    died.edited(3, {{numField, QStringLiteral("2"), QStringLiteral("2")}});
    const ResultStore::AuditOpened opened = store->openAudit(3650);
    ASSERT_EQ(opened.notApplied.size(), 1);
    EXPECT_TRUE(opened.notApplied.first().contains(QLatin1String("row 1"))) << opened.notApplied.first().toStdString();
    EXPECT_EQ(entries("history").mid(3), (QStringList{"edit pending", "edit pending", "not applied", "applied"}));
    EXPECT_TRUE(store->openAudit(3650).notApplied.isEmpty());
}
