#include "store/pg/PgVerify.h"

#include "engine/DbfFieldCodec.h"
#include "store/pg/PgChain.h"
#include "store/pg/PgRecordSource.h"
#include "store/pg/PgSchema.h"

#include <QStringList>

#include <cstring>

namespace {

// Progress counts an entry as a kilobyte, about what an archived message takes, so that the
// chains and the rows (counted in record bytes) weigh roughly as they cost to read.
constexpr qint64 kEntryUnit = 1024;

qint64 number(const pg::Value& v) { return v ? v->toLongLong() : 0; }

class PgChainInput : public audit::ChainInput {
public:
    PgChainInput(pg::Connection& c, QString table, qint64 from, const QList<int>* records)
        : connection_(c), table_(std::move(table)), where_(table_ + QStringLiteral(" seq")), next_(from)
    {
        const qint64 last =
            number(c.exec(QStringLiteral("SELECT max(seq) FROM %1").arg(table_), {}, QStringLiteral("Reading the %1 chain").arg(table_))
                       .scalar());
        total_ = std::max<qint64>(last - from + 1, 0) * kEntryUnit;
        if (records) {
            QStringList list;
            for (int r : *records)
                list << QString::number(r);
            records_ = QLatin1Char('{') + list.join(QLatin1Char(',')) + QLatin1Char('}');
        }
    }

    bool next(audit::Entry& entry, audit::Place& at) override
    {
        if (at_ == batch_.size()) {
            if (end_)
                return false;
            // The prunings too: a row's story tells an origin pruned away.
            const QString filter = records_ ? QStringLiteral(" AND (record = ANY($2::bigint[]) OR kind = 'pruned')") : QString();
            std::vector<pg::Value> params = {QString::number(next_)};
            if (records_)
                params.push_back(records_);
            batch_ = connection_
                         .exec(QStringLiteral("SELECT seq, entry FROM %1 WHERE seq >= $1%2 ORDER BY seq LIMIT %3")
                                   .arg(table_, filter)
                                   .arg(PgTrail::kEntryBatch),
                               params, QStringLiteral("Reading the %1 chain").arg(table_))
                         .rows;
            at_ = 0;
            end_ = batch_.size() < size_t(PgTrail::kEntryBatch);
            if (batch_.empty())
                return false;
        }
        const pg::Row& row = batch_[at_++];
        const qint64 seq = number(row.at(0));
        next_ = seq + 1;
        ++read_;
        entry = audit::parseLine(row.at(1).value_or(QString()).toUtf8());
        entry.file = table_;
        entry.lineNumber = seq;
        at = {where_, seq};
        return true;
    }
    // No line here is ever cut short: a row is written whole or not at all.
    bool inLastPart() const override { return true; }
    qint64 done() const override { return read_ * kEntryUnit; }
    qint64 total() const override { return total_; }

private:
    pg::Connection& connection_;
    QString table_;
    QString where_;
    pg::Value records_;
    qint64 next_;
    qint64 total_ = 0;
    qint64 read_ = 0;
    std::vector<pg::Row> batch_;
    size_t at_ = 0;
    bool end_ = false;
};

class PgRows : public audit::RowInput {
public:
    explicit PgRows(pg::Connection& c) : connection_(c)
    {
        count_ = int(number(c.exec(QStringLiteral("SELECT max(id) FROM results"), {}, QStringLiteral("Counting the rows")).scalar()));
    }

    const std::vector<DbfField>& fields() const override { return PgRecordSource::layout(); }
    int count() const override { return count_; }

    void scan(int from, const std::function<bool(int, const char*)>& visit) override
    {
        qint64 after = std::max(from - 1, 0);
        for (;;) {
            const pg::Result r = connection_.exec(
                QStringLiteral("SELECT %1 FROM results WHERE id > $1 AND id <= $2 ORDER BY id LIMIT %2").arg(PgRecordSource::columnsRead()).arg(PgTrail::kRowBatch),
                {QString::number(after), QString::number(count_)}, QStringLiteral("Reading the rows after %1").arg(after));
            for (const pg::Row& row : r.rows) {
                after = number(row.at(0));
                if (!visit(int(after), PgRecordSource::recordOf(row, true).constData()))
                    return;
            }
            if (r.rows.size() < size_t(PgTrail::kRowBatch))
                return;
        }
    }

    QByteArray readFresh(int record) override
    {
        const pg::Result r = connection_.exec(QStringLiteral("SELECT %1 FROM results WHERE id = $1").arg(PgRecordSource::columnsRead()),
                                              {QString::number(record)}, QStringLiteral("Reading row %1").arg(record));
        return r.rows.empty() ? QByteArray() : PgRecordSource::recordOf(r.rows[0], true);
    }

    qint64 unit() const override { return PgRecordSource::recordLength(); }

private:
    pg::Connection& connection_;
    int count_ = 0;
};

} // namespace

std::unique_ptr<audit::ChainInput> PgTrail::chain(Which which, const QDate& since, const QList<int>* records)
{
    const QString table = which == Which::Messages ? QStringLiteral("archive") : QStringLiteral("history");
    qint64 from = 1;
    if (since.isValid()) {
        const qint64 first = pgchain::firstSeqSince(connection_, table, since);
        // From the entry before the first of the days, so that the link into them is checked;
        // none of the days: past the end.
        from = first > 0 ? std::max<qint64>(first - 1, 1) : std::numeric_limits<qint64>::max();
    }
    return std::make_unique<PgChainInput>(connection_, table, from, records);
}

std::unique_ptr<audit::RowInput> PgTrail::rows(QString&)
{
    return std::make_unique<PgRows>(connection_);
}

namespace pgverify {

audit::VerifyReport verify(const QString& uri, const audit::VerifyOptions& options)
{
    pg::Connection c(uri);
    pgschema::check(c);
    // One view of the chains and the rows for the whole check; nothing is written.
    c.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"), {}, QStringLiteral("Starting the check"));
    PgTrail trail(c);
    audit::VerifyReport report = audit::verify(trail, options);
    c.rollback();
    return report;
}

QList<audit::RecordStory> storiesOf(pg::Connection& connection, const QList<int>& records)
{
    PgTrail trail(connection);
    return audit::storiesOf(trail, records);
}

QList<QJsonObject> messagesOfDay(pg::Connection& connection, const QDate& day)
{
    const pg::Result r = connection.exec(
        QStringLiteral("SELECT entry FROM archive WHERE time >= $1 AND time < $2 AND kind = 'message' ORDER BY seq"),
        {audit::timeText(day.startOfDay()), audit::timeText(day.addDays(1).startOfDay())},
        QStringLiteral("Reading the messages of %1").arg(day.toString(Qt::ISODate)));
    QList<QJsonObject> out;
    for (const pg::Row& row : r.rows) {
        const audit::Entry e = audit::parseLine(row.at(0).value_or(QString()).toUtf8());
        if (e.problem.isEmpty() && e.object.value(QLatin1String("kind")).toString() == QLatin1String("message"))
            out.append(e.object);
    }
    return out;
}

} // namespace pgverify
