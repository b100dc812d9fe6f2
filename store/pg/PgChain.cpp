#include "store/pg/PgChain.h"

#include <QDateTime>

namespace pgchain {

namespace {
constexpr int kBatch = 500;
} // namespace

Chain::Chain(QString table, Clock clock) : table_(std::move(table)), clock_(std::move(clock))
{
    if (!clock_)
        clock_ = audit::localNow;
}

Chain::Locked Chain::lock(pg::Connection& c) const
{
    c.exec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext($1))"), {QStringLiteral("hematix ") + table_},
           QStringLiteral("Waiting for the %1 chain").arg(table_));
    return {};
}

QString Chain::now() const
{
    return audit::timeText(clock_());
}

audit::Head Chain::head(pg::Connection& c) const
{
    const pg::Result r = c.exec(QStringLiteral("SELECT seq, entry FROM %1 ORDER BY seq DESC LIMIT 1").arg(table_), {},
                                QStringLiteral("Reading the head of the %1 chain").arg(table_));
    if (r.rows.empty() || !r.rows[0][0] || !r.rows[0][1])
        return {};
    audit::Head h;
    h.seq = r.rows[0][0]->toLongLong();
    h.line = r.rows[0][1]->toUtf8();
    h.hash = audit::sha256Hex(h.line);
    return h;
}

Chain::Appended Chain::append(pg::Connection& c, const Locked&, const audit::JsonLine& body, const QString& kind,
                              std::optional<qint64> record, const QByteArray& capture) const
{
    const audit::Head h = head(c);
    const QString time = now();
    // As audit::Chain::appendAll builds a line.
    QByteArray line = "{\"seq\":" + QByteArray::number(h.seq + 1) + ",\"prev\":\"" + h.hash + "\",\"time\":"
                      + audit::JsonLine::quote(time);
    const QByteArray rest = body.object();
    line += rest.size() > 2 ? ',' + rest.mid(1) : QByteArray("}");
    if (line.size() > audit::kMaxLine)
        throw EDatabaseError(QStringLiteral("An entry of %1 bytes is longer than an entry can be").arg(line.size()));
    c.exec(QStringLiteral("INSERT INTO %1 (seq, prev, time, kind, record, capture, entry) "
                          "VALUES ($1, $2, $3, $4, $5, $6, $7)")
               .arg(table_),
           {QString::number(h.seq + 1), QString::fromLatin1(h.hash), time, kind,
            record ? pg::Value(QString::number(*record)) : pg::Value(),
            capture.isEmpty() ? pg::Value() : pg::Value(QString::fromLatin1(capture)), QString::fromUtf8(line)},
           QStringLiteral("Appending to the %1 chain").arg(table_));
    return {h.seq + 1, audit::sha256Hex(line), line};
}

Reader::Reader(pg::Connection& connection, QString table, qint64 fromSeq)
    : connection_(connection), table_(std::move(table)), next_(std::max<qint64>(fromSeq, 0))
{
}

bool Reader::next(audit::Entry& entry)
{
    if (at_ == batch_.size()) {
        if (end_)
            return false;
        batch_ = connection_
                     .exec(QStringLiteral("SELECT seq, entry FROM %1 WHERE seq >= $1 ORDER BY seq LIMIT %2")
                               .arg(table_)
                               .arg(kBatch),
                           {QString::number(next_)}, QStringLiteral("Reading the %1 chain").arg(table_))
                     .rows;
        at_ = 0;
        end_ = batch_.size() < size_t(kBatch);
        if (batch_.empty())
            return false;
    }
    const pg::Row& row = batch_[at_++];
    const qint64 seq = row[0].value_or(QString()).toLongLong();
    next_ = seq + 1;
    entry = audit::parseLine(row[1].value_or(QString()).toUtf8());
    entry.file = table_;
    entry.lineNumber = seq;
    return true;
}

qint64 firstSeqSince(pg::Connection& c, const QString& table, const QDate& since)
{
    const pg::Value v = c.exec(QStringLiteral("SELECT min(seq) FROM %1 WHERE time >= $1").arg(table),
                               {audit::timeText(since.startOfDay())},
                               QStringLiteral("Finding the %1 chain's entries since %2").arg(table, since.toString(Qt::ISODate)))
                            .scalar();
    return v ? v->toLongLong() : 0;
}

} // namespace pgchain
