#include "store/pg/PgPeriod.h"

#include "engine/DbfFieldCodec.h"
#include "store/pg/PgRecordSource.h"
#include "store/pg/PgSchema.h"

#include <algorithm>
#include <cstring>

namespace {

// The period's rows as records, one after another, with their ids ascending.
class PeriodTable final : public SqlTable {
public:
    PeriodTable()
    {
        for (const DbfField& f : PgRecordSource::layout())
            columns_.push_back({f.name, dbfcodec::fieldType(f), f.length, f.decimals});
        blank_ = QByteArray(PgRecordSource::recordLength(), ' ');
        gone_ = blank_;
        gone_[0] = '*';
    }

    // row: id, then the fields in record order, DAT as yyyymmdd.
    void add(const pg::Row& row)
    {
        const std::vector<DbfField>& fs = PgRecordSource::layout();
        QByteArray rec = blank_;
        for (size_t i = 0; i < fs.size(); ++i) {
            const pg::Value& v = row.at(i + 1);
            if (!v)
                continue;  // NULL reads as the field's blanks, as in the dBase table
            if (fs[i].type == 'D') {
                // to_char gives eight digits for the years a dBase date holds; anything else is blank.
                if (v->size() == 8)
                    std::memcpy(rec.data() + fs[i].offset, v->toLatin1().constData(), 8);
            } else {
                dbfcodec::put(fs[i], rec.data(), DbfValue(*v));
            }
        }
        ids_.push_back(row.at(0).value_or(QString()).toInt());
        records_ += rec;
    }

    void reserve(qsizetype rows)
    {
        ids_.reserve(size_t(rows));
        records_.reserve(rows * blank_.size());
    }
    const std::vector<int>& ids() const { return ids_; }
    const char* record(int resultRow) const { return records_.constData() + qsizetype(resultRow) * blank_.size(); }
    int size() const { return int(ids_.size()); }

    const std::vector<SqlColumn>& columns() const override { return columns_; }
    int rowCount() override { return ids_.empty() ? 0 : ids_.back(); }
    bool isDeleted(int row) override { return at(row) < 0; }
    SqlValue value(int row, int column) override
    {
        const int i = at(row);
        return dbfcodec::value(PgRecordSource::layout().at(size_t(column)), i < 0 ? gone_.constData() : record(i), nullptr);
    }
    void append(const std::vector<SqlValue>&) override
    {
        throw EDatabaseError(QStringLiteral("A period's rows are read-only"));
    }

private:
    // The result row of table row `row` (id row + 1); -1 when the period has none.
    int at(int row) const
    {
        const auto it = std::lower_bound(ids_.begin(), ids_.end(), row + 1);
        return it != ids_.end() && *it == row + 1 ? int(it - ids_.begin()) : -1;
    }

    std::vector<SqlColumn> columns_;
    QByteArray blank_, gone_;
    std::vector<int> ids_;
    QByteArray records_;
};

// Reading a result row by its place, without looking its id up.
class PeriodKept final : public SqlKeptRows {
public:
    explicit PeriodKept(std::shared_ptr<const PeriodTable> table) : table_(std::move(table)) {}
    SqlValue value(int resultRow, int column) const override
    {
        if (resultRow < 0 || resultRow >= table_->size())
            return std::monostate{};
        return dbfcodec::value(PgRecordSource::layout().at(size_t(column)), table_->record(resultRow), nullptr);
    }
    void text(int resultRow, int column, QString& out) const override
    {
        if (resultRow < 0 || resultRow >= table_->size())
            return out.clear();
        dbfcodec::rawText(PgRecordSource::layout().at(size_t(column)), table_->record(resultRow), out);
    }

private:
    std::shared_ptr<const PeriodTable> table_;
};

} // namespace

namespace pgperiod {

QString statement()
{
    static const QString s = [] {
        QStringList c = {QStringLiteral("id")};
        for (const DbfField& f : PgRecordSource::layout())
            c << (f.type == 'D' ? QStringLiteral("to_char(%1, 'YYYYMMDD')").arg(pgschema::column(f.name))
                                : pgschema::column(f.name));
        // dat BETWEEN: the index on dat (results_dat) finds the days' rows without reading others.
        // The columns as they are: laying a row out as one text on the server (format(), rpad)
        // costs it more than taking 28 values apart costs here.
        return QStringLiteral("SELECT %1 FROM results WHERE dat BETWEEN $1::date AND $2::date AND NOT deleted ORDER BY id")
            .arg(c.join(QLatin1Char(',')));
    }();
    return s;
}

std::shared_ptr<SqlRowSet> select(pg::Connection& connection, const QDate& first, const QDate& last)
{
    const QString from = first.toString(Qt::ISODate), to = last.toString(Qt::ISODate);
    pg::Result r = connection.execPrepared("hematix_period", statement(), {from, to},
                                           QStringLiteral("Selecting the rows of %1 to %2").arg(from, to));
    auto table = std::make_shared<PeriodTable>();
    table->reserve(qsizetype(r.rows.size()));
    for (pg::Row& row : r.rows) {
        table->add(row);
        pg::Row().swap(row);  // each row's texts go once its record is made, not at the end
    }
    std::vector<int> rows;
    rows.reserve(table->ids().size());
    for (const int id : table->ids())
        rows.push_back(id - 1);
    std::vector<int> sources(table->columns().size());
    for (size_t i = 0; i < sources.size(); ++i)
        sources[i] = int(i);
    std::vector<SqlColumn> columns = table->columns();
    auto kept = std::make_unique<PeriodKept>(table);
    return std::make_shared<SqlRowSet>(std::move(table), std::move(columns), std::move(sources), std::move(rows), std::move(kept));
}

} // namespace pgperiod
