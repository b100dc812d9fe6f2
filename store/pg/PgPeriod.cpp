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

    // Row `row` of an answer read with PgRecordSource::columnsRead().
    void add(const pg::Rows& rows, int row)
    {
        const qsizetype at = records_.size();
        records_ += blank_;
        PgRecordSource::putRow(rows, row, records_.data() + at);
        ids_.push_back(int(PgRecordSource::idOf(rows, row)));
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
    // dat BETWEEN: the index on dat (results_dat) finds the days' rows without reading others.
    // The columns as they are: laying a row out as one text on the server (format(), rpad) costs
    // it more than taking the values apart costs here.
    static const QString s =
        QStringLiteral("SELECT %1 FROM results WHERE dat BETWEEN $1::date AND $2::date AND NOT deleted ORDER BY id")
            .arg(PgRecordSource::columnsRead());
    return s;
}

std::shared_ptr<SqlRowSet> select(pg::Connection& connection, const QDate& first, const QDate& last)
{
    const QString from = first.toString(Qt::ISODate), to = last.toString(Qt::ISODate);
    const pg::Rows r = connection.execPreparedRows("hematix_period", statement(), {from, to},
                                                   QStringLiteral("Selecting the rows of %1 to %2").arg(from, to));
    auto table = std::make_shared<PeriodTable>();
    table->reserve(r.count());
    for (int row = 0; row < r.count(); ++row)
        table->add(r, row);
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
