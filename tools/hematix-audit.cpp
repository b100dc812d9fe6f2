// hematix-audit: checks the audit trail against itself and the result table, and shows what the
// trail holds about a row: of a program folder (Archive/ and DB/HEMATIX.dbf) or of a PostgreSQL
// database (its tables archive, history and results).
//
//   hematix-audit verify FOLDER|URI [--days N]
//   hematix-audit show FOLDER|URI (--record N | --sample NUM)
//
// verify prints every break, the heads of both chains (for the lab to note elsewhere) and a
// summary; exit status 1 when anything does not hold, 0 when everything does. show prints a
// row's origin (the message as the analyser sent it, frame by frame) and its history. Wrong
// usage, a folder that cannot be read or a database that cannot be reached exits with 2.
#include "audit/RecordStory.h"
#include "audit/Verify.h"
#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"
#include "store/ResultTable.h"
#include "store/pg/PgConnection.h"
#include "store/pg/PgSchema.h"
#include "store/pg/PgVerify.h"
#include "store/pg/StoreChoice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QTextStream>

namespace {

constexpr const char* kUsage =
    "usage: hematix-audit verify FOLDER|URI [--days N]\n"
    "       hematix-audit show FOLDER|URI (--record N | --sample NUM)\n"
    "verify checks the message archive and the change history under FOLDER/Archive (every entry\n"
    "linked to the one before) and every row of FOLDER/DB/HEMATIX.dbf against its origin and\n"
    "history; given a PostgreSQL URI (postgresql://...), the tables archive, history and results\n"
    "of that database. --days N checks only the last N days. It prints each break, both chains'\n"
    "heads and a summary, and exits with 1 when there is a break. show prints the origin and\n"
    "history of the row with record number N, or of every row whose sample number is NUM.\n";

struct UsageError {
    QString text;
};

QString dateText(const QString& raw)
{
    const QDate d = QDate::fromString(raw, QStringLiteral("yyyyMMdd"));
    return d.isValid() ? d.toString(Qt::ISODate) : raw.isEmpty() ? QStringLiteral("no date") : raw;
}

// A program folder (ending with its separator) or a database's URI.
struct Where {
    QString folder;
    QString uri;
    bool database() const { return !uri.isEmpty(); }
};

int verifyCommand(const Where& where, int days, QTextStream& out)
{
    audit::VerifyOptions options;
    options.days = days;
    audit::VerifyReport r;
    if (where.database()) {
        r = pgverify::verify(where.uri, options);
    } else {
        options.tableFile = resulttable::tableFile(where.folder);
        r = audit::verify(where.folder, options);
    }
    for (const QString& b : r.breaks)
        out << b << '\n';
    if (r.breaksNotListed > 0)
        out << r.breaksNotListed << " more breaks are not listed\n";
    for (const QString& n : r.notes)
        out << "note: " << n << '\n';
    out << "messages head: " << r.messagesHead.seq << ' ' << r.messagesHead.hash << '\n';
    out << "history head: " << r.historyHead.seq << ' ' << r.historyHead.hash << '\n';
    const qint64 breaks = r.breaks.size() + r.breaksNotListed;
    out << (breaks == 0 ? QStringLiteral("No breaks") : QStringLiteral("%1 break%2").arg(breaks).arg(breaks == 1 ? "" : "s"))
        << ": " << r.entries << " entries, " << r.rowsChecked << " rows compared";
    if (r.originPruned > 0)
        out << ", " << r.originPruned << (r.originPruned == 1 ? " row" : " rows") << " with its origin pruned";
    if (days == 1)
        out << " (the last day)";
    else if (days > 1)
        out << " (the last " << days << " days)";
    out << ".\n";
    return r.ok() ? 0 : 1;
}

QString who(const QJsonObject& e)
{
    return e.value(QLatin1String("user")).toString() + QLatin1Char('@') + e.value(QLatin1String("host")).toString();
}

QString text(const QJsonValue& v) { return QLatin1Char('"') + v.toString() + QLatin1Char('"'); }

// The values of a whole row that are not blank.
QString valuesText(const QJsonObject& values)
{
    QStringList parts;
    for (auto it = values.begin(); it != values.end(); ++it)
        if (!it.value().toString().isEmpty())
            parts << it.key() + QLatin1Char('=') + text(it.value());
    return parts.join(QLatin1Char(' '));
}

void printOrigin(const audit::RecordStory& s, QTextStream& out)
{
    const QJsonObject& o = s.originEntry;
    out << "Origin: " << audit::originName(s.origin) << '\n';
    if (s.origin == audit::RecordStory::Origin::Message) {
        const QByteArray bytes = QByteArray::fromBase64(o.value(QLatin1String("bytes")).toString().toLatin1());
        const QString sha = o.value(QLatin1String("sha256")).toString();
        const QJsonObject identity = o.value(QLatin1String("identity")).toObject();
        out << "  archived  " << o.value(QLatin1String("time")).toString() << " (messages entry "
            << o.value(QLatin1String("seq")).toInteger() << ")\n";
        out << "  ENQ       " << (o.value(QLatin1String("enq")).isString() ? o.value(QLatin1String("enq")).toString() : "not known") << '\n';
        out << "  end       " << (o.value(QLatin1String("end")).isString() ? o.value(QLatin1String("end")).toString() : "not known") << '\n';
        out << "  sample    " << identity.value(QLatin1String("NUM")).toString() << '\n';
        out << "  capture   " << o.value(QLatin1String("name")).toString() << '\n';
        out << "  length    " << o.value(QLatin1String("length")).toInteger() << " bytes\n";
        out << "  sha256    " << sha
            << (audit::sha256Hex(bytes) == sha.toLatin1() ? " (the bytes below)" : " (NOT the bytes below)") << '\n';
        out << "  frames:\n";
        for (const QString& line : audit::frameLines(bytes))
            out << "    " << line << '\n';
    } else if (s.origin == audit::RecordStory::Origin::Adopted || s.origin == audit::RecordStory::Origin::Entered) {
        out << "  " << o.value(QLatin1String("time")).toString() << "  " << who(o) << "  "
            << valuesText(o.value(QLatin1String("values")).toObject()) << '\n';
    }
    for (const QJsonObject& r : s.resends)
        out << "Sent again: " << r.value(QLatin1String("time")).toString() << " (capture "
            << r.value(QLatin1String("name")).toString() << ")\n";
}

void printHistory(const audit::RecordStory& s, QTextStream& out)
{
    out << "History:";
    if (s.history.isEmpty())
        out << " none";
    out << '\n';
    for (const QJsonObject& e : s.history) {
        const QString kind = e.value(QLatin1String("kind")).toString();
        // Resolutions show as the state of the change they resolve.
        if (kind == QLatin1String("applied") || kind == QLatin1String("not applied"))
            continue;
        QStringList what;
        if (kind == QLatin1String("edit") || kind == QLatin1String("outside")) {
            const bool outside = kind == QLatin1String("outside");
            for (const QJsonValue& c : e.value(QLatin1String("changes")).toArray()) {
                const QJsonObject co = c.toObject();
                what << co.value(QLatin1String("field")).toString() + QLatin1Char(' ')
                            + text(co.value(QLatin1String(outside ? "history" : "old"))) + QStringLiteral(" -> ")
                            + text(co.value(QLatin1String(outside ? "found" : "new")));
            }
        } else if (kind == QLatin1String("restored") && e.value(QLatin1String("of")).toInteger() > 0) {
            what << QStringLiteral("(undoes entry %1)").arg(e.value(QLatin1String("of")).toInteger());
        } else if (kind != QLatin1String("deleted")) {
            what << valuesText(e.value(QLatin1String("values")).toObject());
        }
        const QString label = kind == QLatin1String("outside") ? QStringLiteral("changed outside Hematix, found by an edit") : kind;
        out << "  " << e.value(QLatin1String("time")).toString() << "  " << who(e) << "  " << label;
        if (!what.isEmpty())
            out << "  " << what.join(QStringLiteral(", "));
        const QString state = audit::stateOf(s, e);
        if (!state.isEmpty())
            out << "  [" << state << ']';
        out << '\n';
    }
}

// Rows of the table by record number or sample, with their sample and date; empty when the
// table cannot be read (the trail is shown anyway for --record).
struct TableRow {
    int record = 0;
    QString sample, date;
    bool deleted = false;
};

// The same from the database's results table.
QList<TableRow> databaseRows(pg::Connection& c, int record, const QString& sample)
{
    const QString columns = QStringLiteral("SELECT id, btrim(coalesce(num, '')), to_char(dat, 'YYYYMMDD'), deleted FROM results ");
    const pg::Result r = record > 0 ? c.exec(columns + QStringLiteral("WHERE id = $1"), {QString::number(record)}, QStringLiteral("Reading the row"))
                                    : c.exec(columns + QStringLiteral("WHERE btrim(num) = $1 ORDER BY id"), {sample},
                                             QStringLiteral("Looking for the sample"));
    QList<TableRow> out;
    for (const pg::Row& row : r.rows)
        out << TableRow{row.at(0).value_or(QString()).toInt(), row.at(1).value_or(QString()),
                        dateText(row.at(2).value_or(QString())), row.at(3) == QStringLiteral("t")};
    return out;
}

QList<TableRow> tableRows(const QString& table, int record, const QString& sample, QString* error)
{
    QList<TableRow> out;
    try {
        DbfFile file(table, DbfFile::Access::ReadOnly);
        const int num = file.fieldIndex(QStringLiteral("NUM"));
        const int dat = file.fieldIndex(QStringLiteral("DAT"));
        auto take = [&](int index, const char* bytes) {
            TableRow r;
            r.record = index + 1;
            r.sample = num >= 0 ? dbfcodec::rawText(file.fields()[size_t(num)], bytes).trimmed() : QString();
            r.date = dat >= 0 ? dateText(dbfcodec::rawText(file.fields()[size_t(dat)], bytes)) : QString();
            r.deleted = bytes[0] == '*';
            return r;
        };
        if (record > 0) {
            if (record <= file.recordCount())
                out << take(record - 1, file.record(record - 1));
        } else {
            file.scan(0, file.recordCount(), [&](int index, const char* bytes) {
                if (num >= 0 && dbfcodec::rawText(file.fields()[size_t(num)], bytes).trimmed() == sample)
                    out << take(index, bytes);
            });
        }
    } catch (const Exception& e) {
        *error = e.message();
    }
    return out;
}

int showCommand(const Where& where, const QString& how, const QString& what, QTextStream& out, QTextStream& err)
{
    const QString table = where.database() ? pg::maskedUri(where.uri) : resulttable::tableFile(where.folder);
    std::unique_ptr<pg::Connection> db;
    if (where.database()) {
        db = std::make_unique<pg::Connection>(where.uri);
        pgschema::check(*db);
    }
    auto rowsOf = [&](int record, const QString& sample, QString* error) {
        return db ? databaseRows(*db, record, sample) : tableRows(table, record, sample, error);
    };
    QString error;
    QList<int> records;
    QList<TableRow> rows;
    if (how == QLatin1String("--record")) {
        bool ok = false;
        const int record = what.toInt(&ok);
        if (!ok || record < 1)
            throw UsageError{QStringLiteral("not a record number: %1").arg(what)};
        records << record;
        rows = rowsOf(record, {}, &error);
    } else if (how == QLatin1String("--sample")) {
        rows = rowsOf(0, what.trimmed(), &error);
        if (!error.isEmpty()) {
            err << "hematix-audit: " << error << '\n';
            return 1;
        }
        for (const TableRow& r : rows)
            records << r.record;
        if (records.isEmpty()) {
            err << "hematix-audit: no row of " << table << " has the sample " << what.trimmed() << '\n';
            return 1;
        }
    } else {
        throw UsageError{QStringLiteral("show takes --record N or --sample NUM")};
    }
    const QList<audit::RecordStory> stories = db ? pgverify::storiesOf(*db, records) : audit::storiesOf(where.folder, records);
    for (qsizetype i = 0; i < stories.size(); ++i) {
        const audit::RecordStory& s = stories[i];
        if (i > 0)
            out << '\n';
        out << "Row " << s.record << " of " << table;
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const TableRow& r) { return r.record == s.record; });
        if (row != rows.end())
            out << ": sample " << row->sample << ", " << row->date << (row->deleted ? ", deleted" : "");
        else if (!error.isEmpty())
            out << " (the table cannot be read: " << error << ')';
        else
            out << " (not in the table)";
        out << '\n';
        printOrigin(s, out);
        printHistory(s, out);
    }
    return 0;
}

int run(const QStringList& args, QTextStream& out, QTextStream& err)
{
    if (args.size() < 2)
        throw UsageError{QStringLiteral("too few arguments")};
    const QString command = args[0];
    Where where;
    if (storechoice::isDatabaseUri(args[1])) {
        storechoice::checkDatabaseUri(args[1]);
        where.uri = args[1];
    } else {
        where.folder = QDir(args[1]).absolutePath();
        if (!where.folder.endsWith(QLatin1Char('/')))
            where.folder += QLatin1Char('/');
        const QFileInfo info(where.folder);
        if (!info.isDir() || !info.isReadable() || !QDir(where.folder).isReadable()) {
            err << "hematix-audit: " << args[1] << " is no program folder that can be read\n";
            return 2;
        }
    }
    if (command == QLatin1String("verify")) {
        int days = 0;
        if (args.size() == 4 && args[2] == QLatin1String("--days")) {
            bool ok = false;
            days = args[3].toInt(&ok);
            if (!ok || days < 1)
                throw UsageError{QStringLiteral("--days takes a number of days, 1 or more")};
        } else if (args.size() != 2) {
            throw UsageError{QStringLiteral("verify takes FOLDER and, optionally, --days N")};
        }
        return verifyCommand(where, days, out);
    }
    if (command == QLatin1String("show")) {
        if (args.size() != 4)
            throw UsageError{QStringLiteral("show takes FOLDER, then --record N or --sample NUM")};
        return showCommand(where, args[2], args[3], out, err);
    }
    throw UsageError{QStringLiteral("unknown command: %1").arg(command)};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = app.arguments();
    args.removeFirst();
    try {
        return run(args, out, err);
    } catch (const UsageError& e) {
        err << "hematix-audit: " << e.text << '\n' << kUsage;
        return 2;
    } catch (const audit::AuditError& e) {
        err << "hematix-audit: " << e.text() << '\n';
        return 2;
    } catch (const Exception& e) {
        // The database cannot be reached or has no current schema (messages never show a password).
        err << "hematix-audit: " << e.message() << '\n';
        return 2;
    }
}
