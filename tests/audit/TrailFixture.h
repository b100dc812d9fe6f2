#pragma once
// A program folder with a result table and its audit trail, written through the program's own
// classes: rows present before the trail (adopted), rows made from messages over three days
// (archived as the import archives them), edits, a deletion and its restore, a row typed in.
// Folders live on /dev/shm when there is one, where a sync costs nothing.
#include "audit/ChangeHistory.h"
#include "audit/MessageArchive.h"
#include "audit/Verify.h"
#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"
#include "store/ResultTable.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

namespace trailtest {

inline QString scratchBase() { return QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath(); }

inline const QDate kToday(2026, 12, 7);

struct TrailFolder {
    std::unique_ptr<QTemporaryDir> dir = std::make_unique<QTemporaryDir>(scratchBase() + QStringLiteral("/trail-XXXXXX"));
    QString folder = dir->path() + QLatin1Char('/');
    QString table;
    QDateTime now{kToday.addDays(-2), QTime(8, 0)};
    audit::Chain::Clock clock = [this] { return now; };
    audit::Author author{QStringLiteral("anna"), QStringLiteral("labpc"), 4242};

    audit::MessageArchive archive{folder, clock};
    audit::ChangeHistory history{folder, clock, author};

    TrailFolder() { table = resulttable::create(folder); }
    // A copy of another folder's files (trail and table), with objects of its own.
    explicit TrailFolder(const TrailFolder& from)
    {
        QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), from.folder + QStringLiteral("."), folder});
        table = resulttable::tableFile(folder);
        now = from.now;
    }

    DbfFile file() { return DbfFile(table, DbfFile::Access::ReadWrite); }

    static audit::Identity identity(int n, const QDate& day)
    {
        audit::Identity id{{QStringLiteral("DAT"), day.toString(QStringLiteral("MM/dd/yyyy"))},
                           {QStringLiteral("TIM"), QStringLiteral("09:%1:00").arg(n % 60, 2, 10, QLatin1Char('0'))},
                           {QStringLiteral("NUM"), QStringLiteral("%1").arg(n, 9, 10, QLatin1Char('0'))}};
        for (const QString& f : resulttable::valueFields())
            id.append({f, QString::number(1 + int((n + f.size()) % 90) / 10.0, 'f', 1)});
        return id;
    }

    // A row made from a message: the table first, then the archive, as the import does.
    int messageRow(int n)
    {
        DbfFile t = file();
        QByteArray rec = t.blankRecord();
        const audit::Identity id = identity(n, now.date());
        for (const auto& [field, text] : id)
            dbfcodec::put(t.fields()[size_t(t.fieldIndex(field))], rec.data(), text);
        const int record = t.append(rec) + 1;
        audit::ReceivedMessage m;
        m.bytes = "\x05\x02" "1H|\\^&|||\r\x03" "4F\r\n\x02" "2O|1||" + id[2].second.toLatin1() + "\r\x03" "A0\r\n";
        m.enq = now;
        m.end = now.addMSecs(900);
        m.capture = QStringLiteral("Temp-%1.log").arg(n);
        archive.archive(m, audit::MessageArchive::Outcome::Stored, id, record);
        return record;
    }

    // An edit through the history, as the program writes one: entry, table, applied.
    void edit(int record, const QString& field, const QString& text)
    {
        DbfFile t = file();
        QByteArray rec = t.readFresh(record - 1);
        const DbfField& f = t.fields()[size_t(t.fieldIndex(field))];
        const QString old = dbfcodec::rawText(f, rec.constData());
        const qint64 seq = history.edited(record, {{field, old, text}});
        dbfcodec::putText(f, rec.data(), text);
        t.write(record - 1, rec);
        history.applied(seq, record);
    }

    audit::RowValues values(int record)
    {
        DbfFile t = file();
        const QByteArray rec = t.readFresh(record - 1);
        audit::RowValues v;
        for (const DbfField& f : t.fields())
            v.append({f.name, dbfcodec::rawText(f, rec.constData())});
        return v;
    }

    audit::VerifyReport verify(int days = 0)
    {
        audit::VerifyOptions o;
        o.tableFile = table;
        o.days = days;
        o.today = now.date();
        return audit::verify(folder, o);
    }

    // Rows 1-3 before the trail, then `perDay` message rows on each of three days; on the last
    // day an edit, a deletion undone, another kept, and a row typed in.
    void build(int perDay)
    {
        for (int i = 0; i < 3; ++i) {
            DbfFile t = file();
            QByteArray rec = t.blankRecord();
            dbfcodec::put(t.fields()[size_t(t.fieldIndex(QStringLiteral("NUM")))], rec.data(), QStringLiteral("old%1").arg(i));
            t.append(rec);
        }
        history.adoptIfNew([this](int from, const audit::ChangeHistory::RowSink& sink) {
            for (int r = from; r <= 3; ++r)
                sink(r, values(r));
        });
        int n = 0;
        for (int day = 0; day < 3; ++day, now = now.addDays(1))
            for (int i = 0; i < perDay; ++i)
                messageRow(++n);
        now = now.addDays(-1).addSecs(3600);
        edit(5, QStringLiteral("WBC"), QStringLiteral("7.7"));
        edit(5, QStringLiteral("FIO"), QStringLiteral("Иванова"));
        for (int record : {6, 7}) {
            const qint64 seq = history.deleted(record, values(record));
            file().setDeleted(record - 1, true);
            history.applied(seq, record);
        }
        const qint64 del = history.deleted(6, values(6));  // the program stopped before the table
        history.resolve({del, audit::ChangeHistory::Kind::Deleted, 6, {}, {}}, false);
        const qint64 back = history.restored(7, values(7), 0);
        file().setDeleted(6, false);
        history.applied(back, 7);
        DbfFile t = file();
        QByteArray rec = t.blankRecord();
        dbfcodec::put(t.fields()[size_t(t.fieldIndex(QStringLiteral("NUM")))], rec.data(), QStringLiteral("hand"));
        audit::RowValues typed;
        for (const DbfField& f : t.fields())
            typed.append({f.name, dbfcodec::rawText(f, rec.constData())});
        const int record = t.recordCount() + 1;
        const qint64 seq = history.entered(record, typed);
        t.append(rec);
        history.applied(seq, record);
    }
};

} // namespace trailtest
