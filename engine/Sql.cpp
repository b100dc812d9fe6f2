#include "engine/Sql.h"

#include "engine/SqlEval.h"
#include "engine/SqlParser.h"
#include "engine/SqlScan.h"

#include <set>

SqlRowSet::SqlRowSet(std::shared_ptr<SqlTable> table, std::vector<SqlColumn> columns,
                     std::vector<int> sourceColumns, std::vector<int> rows,
                     std::unique_ptr<SqlKeptRows> kept)
    : table_(std::move(table)), columns_(std::move(columns)), sourceColumns_(std::move(sourceColumns)),
      rows_(std::move(rows)), kept_(std::move(kept))
{
}

SqlValue SqlRowSet::value(int i, int c) const
{
    const int row = rows_.at(static_cast<size_t>(i));
    const int column = sourceColumns_.at(static_cast<size_t>(c));
    return kept_ ? kept_->value(i, column) : table_->value(row, column);
}

QString SqlRowSet::textFromTable(int i, int c) const
{
    SqlValue v = value(i, c);
    auto* s = std::get_if<QString>(&v);
    return s ? std::move(*s) : QString();
}

namespace {

[[noreturn]] void failAt(const SqlPos& p, const QString& what)
{
    throw EDatabaseError(QStringLiteral("SQL error at %1: %2").arg(sqlPosition(p.line, p.column), what));
}

int resolveColumn(const std::vector<SqlColumn>& columns, const SqlName& n, const QString& tableName)
{
    const int idx = findSqlColumn(columns, n.name);
    if (idx < 0)
        failAt(n.pos, QStringLiteral("column '%1' not found in table %2").arg(n.name, tableName));
    return idx;
}

SqlResult runSelect(const SqlStatement& st, std::shared_ptr<SqlTable> table)
{
    const std::vector<SqlColumn>& all = table->columns();
    std::vector<SqlColumn> outColumns;
    std::vector<int> sources;
    if (st.columns.empty()) {
        outColumns = all;
        for (size_t i = 0; i < all.size(); ++i)
            sources.push_back(static_cast<int>(i));
    } else {
        for (const SqlName& n : st.columns) {
            const int idx = resolveColumn(all, n, st.table);
            outColumns.push_back(all[static_cast<size_t>(idx)]);
            sources.push_back(idx);
        }
    }

    std::optional<SqlCondition> where;
    if (st.where)
        where.emplace(*st.where, all, st.table);

    SqlSelection found = selectSqlRows(*table, where ? &*where : nullptr);

    SqlResult result;
    result.hasRows = true;
    result.rows = std::make_shared<SqlRowSet>(std::move(table), std::move(outColumns), std::move(sources),
                                              std::move(found.rows), std::move(found.kept));
    return result;
}

SqlResult runInsert(const SqlStatement& st, SqlTable& table)
{
    const std::vector<SqlColumn>& all = table.columns();
    std::vector<int> targets;
    if (st.columns.empty()) {
        for (size_t i = 0; i < all.size(); ++i)
            targets.push_back(static_cast<int>(i));
    } else {
        std::set<int> seen;
        for (const SqlName& n : st.columns) {
            const int idx = resolveColumn(all, n, st.table);
            if (!seen.insert(idx).second)
                failAt(n.pos, QStringLiteral("column %1 is named twice").arg(all[static_cast<size_t>(idx)].name));
            targets.push_back(idx);
        }
    }
    if (st.values.size() != targets.size()) {
        const SqlExpr& where = st.values.size() > targets.size() ? *st.values[targets.size()] : *st.values.back();
        failAt(where.pos, QStringLiteral("%1 columns but %2 values").arg(targets.size()).arg(st.values.size()));
    }

    // Every value is converted before anything is written, so a bad one leaves the table as it was.
    std::vector<SqlValue> row(all.size());
    for (size_t i = 0; i < targets.size(); ++i)
        row[static_cast<size_t>(targets[i])] = convertSqlValue(*st.values[i], all[static_cast<size_t>(targets[i])]);
    table.append(row);

    SqlResult result;
    result.rowsAffected = 1;
    return result;
}

} // namespace

SqlResult executeSql(const QString& text, SqlTableOpener& opener)
{
    const SqlStatement st = parseSql(text);
    std::shared_ptr<SqlTable> table = opener.open(st.table);
    if (!table)
        throw EDatabaseError(QStringLiteral("Cannot open table %1").arg(st.table));
    if (st.kind == SqlStatement::Kind::Select)
        return runSelect(st, std::move(table));
    return runInsert(st, *table);
}
