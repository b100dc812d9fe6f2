#include "store/pg/PgFinder.h"

#include "engine/Cp1251.h"
#include "store/DbfNameIndex.h"
#include "store/ResultTable.h"
#include "store/pg/PgSchema.h"

#include <algorithm>

namespace {

// The folded text as a string the server compares; empty when it folds to nothing or holds a
// character no row can (outside the code page).
QString folded(const QString& text)
{
    return cp1251::decode(DbfNameIndex::fold(text));
}

// Whether pg_trgm takes a trigram from text inside a LIKE '%text%': three letters or digits in a
// row (it splits words at anything else).
bool hasTrigram(const QString& text)
{
    int run = 0;
    for (const QChar c : text)
        if ((run = c.isLetterOrNumber() ? run + 1 : 0) == 3)
            return true;
    return false;
}

qint64 number(const pg::Value& v) { return v ? v->toLongLong() : 0; }

// Rows read through near the current row before a text with a trigram is looked up in the index;
// rows read through near the current row, in id order, before the rest of a stretch is read in
// one statement; and the rows such a statement reads at most (some 120 ms on the benchmark's
// machine, well inside the window's answer time).
constexpr qint64 kNearRows = 20000;
constexpr qint64 kSpanRows = 100000;
constexpr qint64 kWideRows = 1000000;

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
            connection_ = std::make_unique<pg::Connection>(uri_, 10, answerWithinMs_);
        return connection_->exec(sql, params, what);
    } catch (const EStoreAway&) {
        connection_.reset();  // lost: the next request connects again
        throw;
    }
}

std::optional<RowFinder::Match> PgFinder::find(const QString& text, int from, bool backward, const Progress& progress)
{
    const QString f = folded(text);
    if (f.isEmpty())
        return std::nullopt;
    const QString what = QStringLiteral("Finding rows");
    const qint64 last = number(exec(QStringLiteral("SELECT max(id) FROM results"), {}, what).scalar());
    if (last == 0)
        return std::nullopt;
    const qint64 at = from > 0 ? std::min<qint64>(from, last + 1) : (backward ? last + 1 : 0);

    // The rows in the order a find meets them: past the current row to the end, then round from
    // the other end to the row itself. Near the current row, where a common text is found at
    // once, in id order through the primary key, stopping at the first match; further on, a wide
    // stretch at a time as one aggregate, which the server may read with a parallel scan of the
    // table and which costs a text no row holds far less than stepping through the key.
    // strpos rather than LIKE: a LIKE here may tempt the planner into the trigram index, which
    // for a short text is the whole index. id + 0: min(id) alone would be planned as a walk of
    // the key in order.
    const QString where = QStringLiteral("id >= $2 AND id <= $3 AND NOT deleted AND strpos(%1, $1) > 0").arg(pgschema::findText());
    const QString nearSql = QStringLiteral("SELECT id FROM results WHERE %1 ORDER BY id %2 LIMIT 1")
                                .arg(where, QLatin1String(backward ? "DESC" : "ASC"));
    const QString wideSql =
        QStringLiteral("SELECT %1(id + 0) FROM results WHERE %2").arg(QLatin1String(backward ? "max" : "min"), where);
    struct Span {
        qint64 first, last;
        bool wrapped;
    };
    const Span spans[] = {backward ? Span{1, at - 1, false} : Span{at + 1, last, false},
                          backward ? Span{std::max<qint64>(at, 1), last, true} : Span{1, std::min(at, last), true}};
    // A text with a trigram to look up finds a row far off through the trigram index (its cost
    // grows with the rows holding the text, so the near rows are read first, where a common text
    // is); any other is read through, with progress. The near rows are those of each stretch: a
    // short stretch left past the current row (rows without names at the end, say) is read
    // through, and the rows round the other end are near again, as a common text is there too.
    const bool indexed = hasTrigram(f);
    const qint64 total = last;
    qint64 read = 0;
    for (const Span& span : spans) {
        if (span.first > span.last || (span.wrapped && from <= 0))
            continue;
        const qint64 size = span.last - span.first + 1;
        for (qint64 done = 0; done < size;) {
            if (indexed && done >= kNearRows && size - done > kSpanRows)
                return farMatch(f, at, backward, from > 0);
            const bool near = (indexed && done < kNearRows) || done == 0;
            const qint64 n = std::min(indexed && near ? kNearRows : near ? kSpanRows : kWideRows, size - done);
            const qint64 lo = backward ? span.last - done - n + 1 : span.first + done;
            const pg::Value id =
                exec(near ? nearSql : wideSql, {f, QString::number(lo), QString::number(lo + n - 1)}, what).scalar();
            if (id)
                return Match{int(id->toLongLong()), span.wrapped};
            done += n;
            read += n;
            if (progress && !progress(int(read * 100 / total)))
                return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<RowFinder::Match> PgFinder::farMatch(const QString& f, qint64 at, bool backward, bool wraps)
{
    // MATERIALIZED: the matching ids come from the trigram index first; left to itself the
    // planner walks the primary key in order and tests every row on the way.
    const QString sql = QStringLiteral("WITH m AS MATERIALIZED (SELECT id FROM results WHERE NOT deleted AND %1 LIKE $1) "
                                       "SELECT %2(id) FILTER (WHERE id %3 $2), %2(id) FROM m")
                            .arg(pgschema::findText(), QLatin1String(backward ? "max" : "min"),
                                 QLatin1String(backward ? "<" : ">"));
    const pg::Row row = exec(sql, {QLatin1Char('%') + likeEscaped(f) + QLatin1Char('%'), QString::number(at)},
                             QStringLiteral("Finding rows"))
                            .rows.at(0);
    if (row[0])
        return Match{int(row[0]->toLongLong()), false};
    if (row[1] && wraps)
        return Match{int(row[1]->toLongLong()), true};
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
