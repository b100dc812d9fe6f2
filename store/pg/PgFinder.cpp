#include "store/pg/PgFinder.h"

#include "engine/Cp1251.h"
#include "store/DbfNameIndex.h"
#include "store/ResultTable.h"
#include "store/pg/PgSchema.h"

#include <climits>

namespace {

// The folded text as a string the server compares; empty when it folds to nothing or holds a
// character no row can (outside the code page).
QString folded(const QString& text)
{
    return cp1251::decode(DbfNameIndex::fold(text));
}

} // namespace

PgFinder::PgFinder(QString uri) : uri_(std::move(uri)) {}

PgFinder::~PgFinder() = default;

QString PgFinder::likeEscaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

pg::Result PgFinder::exec(const QString& sql, const std::vector<pg::Value>& params, const QString& what)
{
    try {
        if (!connection_)
            connection_ = std::make_unique<pg::Connection>(uri_);
        return connection_->exec(sql, params, what);
    } catch (const EStoreAway&) {
        connection_.reset();  // lost: the next request connects again
        throw;
    }
}

std::optional<RowFinder::Match> PgFinder::find(const QString& text, int from, bool backward, const Progress&)
{
    const QString f = folded(text);
    if (f.isEmpty())
        return std::nullopt;
    const QString holds = QStringLiteral("NOT deleted AND (%1 LIKE $1 OR %2 LIKE $1)")
                              .arg(pgschema::foldedColumn(QStringLiteral("num")), pgschema::foldedColumn(QStringLiteral("fio")));
    const QString pattern = QLatin1Char('%') + likeEscaped(f) + QLatin1Char('%');
    const QString what = QStringLiteral("Finding rows");
    auto first = [&](const char* side, const qint64 at) -> int {
        const QString sql = QStringLiteral("SELECT id FROM results WHERE %1 AND id %2 $2 ORDER BY id %3 LIMIT 1")
                                .arg(holds, QLatin1String(side), QLatin1String(backward ? "DESC" : "ASC"));
        const pg::Value id = exec(sql, {pattern, QString::number(at)}, what).scalar();
        return id ? id->toInt() : 0;
    };
    // Past the current row first, then round the end to the row itself.
    if (const int r = backward ? first("<", from > 0 ? from : INT_MAX) : first(">", from))
        return Match{r, false};
    if (from <= 0)
        return std::nullopt;
    if (const int r = backward ? first(">=", from) : first("<=", from))
        return Match{r, true};
    return std::nullopt;
}

QList<int> PgFinder::patientRecords(const QString& name, const Progress&)
{
    const QString f = folded(name);
    if (f.isEmpty())
        return {};
    const pg::Result r = exec(QStringLiteral("SELECT id FROM results WHERE NOT deleted AND %1 = $1 ORDER BY id")
                                  .arg(pgschema::foldedName()),
                              {f}, QStringLiteral("Finding a patient's rows"));
    QList<int> out;
    out.reserve(qsizetype(r.rows.size()));
    for (const pg::Row& row : r.rows)
        out.append(row[0].value_or(QString()).toInt());
    return out;
}

QString PgFinder::valuesColumns()
{
    QStringList columns;
    for (const DbfFieldSpec& f : resulttable::fields())
        columns << (f.type == 'D' ? QStringLiteral("to_char(%1, 'YYYYMMDD')").arg(pgschema::column(f.name))
                                  : pgschema::column(f.name));
    return columns.join(QLatin1Char(','));
}

audit::RowValues PgFinder::valuesOf(const pg::Row& row, size_t first)
{
    audit::RowValues out;
    const auto& fields = resulttable::fields();
    for (size_t i = 0; i < fields.size() && first + i < row.size(); ++i) {
        QString text = row[first + i].value_or(QString());
        qsizetype end = text.size();
        while (end > 0 && text[end - 1] == QLatin1Char(' '))
            --end;
        text.truncate(end);
        out.append({fields[i].name, text});
    }
    return out;
}

audit::RowValues PgFinder::valuesAt(int record)
{
    const pg::Result r = exec(QStringLiteral("SELECT %1 FROM results WHERE id = $1 AND NOT deleted").arg(valuesColumns()),
                              {QString::number(record)}, QStringLiteral("Reading row %1").arg(record));
    return r.rows.empty() ? audit::RowValues{} : valuesOf(r.rows[0], 0);
}
