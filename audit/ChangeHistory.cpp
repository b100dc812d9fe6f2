#include "audit/ChangeHistory.h"

#include <QHash>
#include <QJsonArray>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace audit {

Author Author::ofThisProcess()
{
    Author a;
    if (const passwd* pw = ::getpwuid(::getuid()))
        a.user = QString::fromLocal8Bit(pw->pw_name);
    else
        a.user = QString::number(::getuid());
    a.host = QSysInfo::machineHostName();
    a.pid = ::getpid();
    return a;
}

QByteArray valuesJson(const RowValues& values)
{
    JsonLine o;
    for (const auto& [field, text] : values) {
        const QByteArray k = field.toLatin1();
        o.add(k.constData(), text);
    }
    return o.object();
}

namespace {

QByteArray changesJson(const QList<FieldChange>& changes, const char* beforeKey, const char* afterKey)
{
    QByteArray out = "[";
    for (const FieldChange& c : changes) {
        if (out.size() > 1)
            out += ',';
        out += JsonLine().add("field", c.field).add(beforeKey, c.before).add(afterKey, c.after).object();
    }
    return out + ']';
}

RowValues valuesOf(const QJsonObject& o)
{
    RowValues out;
    for (auto it = o.begin(); it != o.end(); ++it)
        out.append({it.key(), it.value().toString()});
    return out;
}

} // namespace

ChangeHistory::ChangeHistory(QString programFolder, Chain::Clock clock, Author author)
    : chain_(std::move(programFolder), QStringLiteral("history"), std::move(clock)), author_(std::move(author))
{
}

namespace {
JsonLine startLine(const char* kind, int record, qint64 of, bool pending, const Author& author)
{
    JsonLine line;
    line.add("kind", QString::fromLatin1(kind));
    line.add("record", record);
    if (of > 0)
        line.add("of", of);
    if (pending)
        line.add("state", QStringLiteral("pending"));
    line.add("user", author.user).add("host", author.host).add("pid", author.pid);
    return line;
}
} // namespace

JsonLine ChangeHistory::start(const char* kind, int record, qint64 of, bool pending) const
{
    return startLine(kind, record, of, pending, author_);
}

namespace {
const char* kindName(ChangeHistory::Kind kind)
{
    switch (kind) {
    case ChangeHistory::Kind::Edit: return "edit";
    case ChangeHistory::Kind::Entered: return "entered";
    case ChangeHistory::Kind::Deleted: return "deleted";
    case ChangeHistory::Kind::Restored: return "restored";
    }
    return "edit";
}
} // namespace

JsonLine ChangeHistory::changeBody(int record, const Author& author, bool pending, const QList<FieldChange>& changes)
{
    return startLine("edit", record, 0, pending, author).addRaw("changes", changesJson(changes, "old", "new"));
}

JsonLine ChangeHistory::valuesBody(Kind kind, int record, const Author& author, bool pending, const RowValues& values,
                                   qint64 of)
{
    return startLine(kindName(kind), record, of, pending, author).addRaw("values", valuesJson(values));
}

qint64 ChangeHistory::edited(int record, const QList<FieldChange>& changes)
{
    return chain_.append(changeBody(record, author_, true, changes), true).seq;
}

qint64 ChangeHistory::entered(int record, const RowValues& values)
{
    return chain_.append(valuesBody(Kind::Entered, record, author_, true, values), true).seq;
}

qint64 ChangeHistory::deleted(int record, const RowValues& values)
{
    return chain_.append(valuesBody(Kind::Deleted, record, author_, true, values), true).seq;
}

qint64 ChangeHistory::restored(int record, const RowValues& values, qint64 deletedEntry)
{
    return chain_.append(valuesBody(Kind::Restored, record, author_, true, values, deletedEntry), true).seq;
}

void ChangeHistory::applied(qint64 seq, int record) { chain_.append(start("applied", record, seq), false); }

void ChangeHistory::notApplied(qint64 seq, int record, const QString& reason)
{
    chain_.append(start("not applied", record, seq).add("reason", reason), true);
}

void ChangeHistory::outside(int record, const QList<FieldChange>& changes)
{
    chain_.append(outsideBody(record, author_, changes), true);
}

JsonLine ChangeHistory::outsideBody(int record, const Author& author, const QList<FieldChange>& changes)
{
    return startLine("outside", record, 0, false, author).addRaw("changes", changesJson(changes, "history", "found"));
}

void ChangeHistory::refused(int record, const QList<FieldChange>& changes)
{
    chain_.append(refusedBody(record, author_, changes), true);
}

JsonLine ChangeHistory::refusedBody(int record, const Author& author, const QList<FieldChange>& changes)
{
    return startLine("refused", record, 0, false, author).addRaw("changes", changesJson(changes, "tried", "found"));
}

qint64 ChangeHistory::adoptIfNew(const RowSource& rows)
{
    const Head head = chain_.head();
    int from = 1;
    if (head.seq > 0) {
        // Adopting again only where a crash cut an adoption short: it is then the last entry.
        if (shortKey(head.line, "\"kind\":") != "adopted")
            return 0;
        from = shortKey(head.line, "\"record\":").toInt() + 1;
    }
    qint64 adopted = 0;
    QList<JsonLine> batch;
    auto flush = [&] {
        if (!batch.isEmpty())
            chain_.appendAll(batch, false);
        batch.clear();
    };
    rows(from, [&](int record, const RowValues& values) {
        batch.append(start("adopted", record).addRaw("values", valuesJson(values)));
        ++adopted;
        if (batch.size() >= 2000)
            flush();
    });
    flush();
    JsonLine done;
    done.add("kind", QStringLiteral("adoption"));
    done.add("rows", adopted);
    done.add("user", author_.user).add("host", author_.host).add("pid", author_.pid);
    chain_.append(done, true);
    return adopted;
}

QList<ChangeHistory::Pending> ChangeHistory::unresolved(int days)
{
    const QDate since = QDate::currentDate().addDays(-days);
    ChainReader reader = ChainReader::since(chain_.programFolder(), chain_.name(), since, false);
    QHash<qint64, QByteArray> open;  // seq -> line of a pending entry not yet resolved
    Entry e;
    while (reader.next(e)) {
        if (e.line.isEmpty())
            continue;
        const QByteArrayView kind = shortKey(e.line, "\"kind\":");
        if (kind == "applied" || kind == "not applied") {
            open.remove(shortKey(e.line, "\"of\":").toLongLong());
        } else if (shortKey(e.line, "\"state\":") == "pending") {
            open.insert(shortKey(e.line, "\"seq\":").toLongLong(), e.line);
        }
    }
    QList<Pending> out;
    for (auto it = open.begin(); it != open.end(); ++it) {
        const Entry p = parseLine(it.value());
        if (!p.problem.isEmpty())
            continue;
        const QJsonObject& o = p.object;
        // A change another live process of this host is making now is its own to resolve.
        const qint64 pid = o.value(QLatin1String("pid")).toInteger();
        if (o.value(QLatin1String("host")).toString() == author_.host && pid > 0 && pid != author_.pid
            && (::kill(pid_t(pid), 0) == 0 || errno == EPERM))
            continue;
        Pending pending;
        pending.seq = p.seq;
        pending.record = o.value(QLatin1String("record")).toInt();
        const QString kind = o.value(QLatin1String("kind")).toString();
        pending.kind = kind == QLatin1String("entered")   ? Kind::Entered
                       : kind == QLatin1String("deleted")  ? Kind::Deleted
                       : kind == QLatin1String("restored") ? Kind::Restored
                                                           : Kind::Edit;
        for (const QJsonValue& c : o.value(QLatin1String("changes")).toArray()) {
            const QJsonObject co = c.toObject();
            pending.changes.append({co.value(QLatin1String("field")).toString(), co.value(QLatin1String("old")).toString(),
                                    co.value(QLatin1String("new")).toString()});
        }
        pending.values = valuesOf(o.value(QLatin1String("values")).toObject());
        out.append(pending);
    }
    std::sort(out.begin(), out.end(), [](const Pending& a, const Pending& b) { return a.seq < b.seq; });
    return out;
}

void ChangeHistory::resolve(const Pending& pending, bool inTable)
{
    if (!inTable) {
        notApplied(pending.seq, pending.record,
                   QStringLiteral("the %1 never reached the table (the program stopped first)")
                       .arg(QString::fromLatin1(kindName(pending.kind))));
        return;
    }
    chain_.append(start("applied", pending.record, pending.seq), true);
}

} // namespace audit
