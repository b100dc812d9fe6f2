#include "engine/SqlEval.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

enum class ValueKind { Text, Number, Date, Boolean, Null };

ValueKind kindOfColumn(const SqlColumn& c)
{
    switch (c.type) {
    case TFieldType::String:
    case TFieldType::Memo:
        return ValueKind::Text;
    case TFieldType::Float:
    case TFieldType::Integer:
        return ValueKind::Number;
    case TFieldType::Date:
        return ValueKind::Date;
    case TFieldType::Boolean:
        return ValueKind::Boolean;
    }
    return ValueKind::Text;
}

QString kindName(ValueKind k)
{
    switch (k) {
    case ValueKind::Text: return QStringLiteral("text");
    case ValueKind::Number: return QStringLiteral("number");
    case ValueKind::Date: return QStringLiteral("date");
    case ValueKind::Boolean: return QStringLiteral("logical");
    case ValueKind::Null: return QStringLiteral("NULL");
    }
    return {};
}

QString at(const SqlPos& p) { return sqlPosition(p.line, p.column); }

[[noreturn]] void failAt(const SqlPos& p, const QString& what)
{
    throw EDatabaseError(QStringLiteral("SQL error at %1: %2").arg(at(p), what));
}

QString shownValue(const QString& v)
{
    return QLatin1Char('\'') + (v.size() > 60 ? v.left(60) + QStringLiteral("...") : v) + QLatin1Char('\'');
}

// Truth of "a op b" from the sign of the comparison.
bool holds(SqlCompareOp op, int sign)
{
    switch (op) {
    case SqlCompareOp::Equal: return sign == 0;
    case SqlCompareOp::NotEqual: return sign != 0;
    case SqlCompareOp::Less: return sign < 0;
    case SqlCompareOp::LessOrEqual: return sign <= 0;
    case SqlCompareOp::Greater: return sign > 0;
    case SqlCompareOp::GreaterOrEqual: return sign >= 0;
    }
    return false;
}

// Sign of a - b, or nullopt when either has no value, a date is not a calendar day, or the two
// are not of one kind.
std::optional<int> compareValues(const SqlValue& a, const SqlValue& b)
{
    if (const QDate* da = std::get_if<QDate>(&a)) {
        const QDate* db = std::get_if<QDate>(&b);
        if (!db || !da->isValid() || !db->isValid())
            return std::nullopt;
        const qint64 x = da->toJulianDay(), y = db->toJulianDay();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (const QString* sa = std::get_if<QString>(&a)) {
        const QString* sb = std::get_if<QString>(&b);
        if (!sb)
            return std::nullopt;
        const int c = sa->compare(*sb);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (const double* na = std::get_if<double>(&a)) {
        const double* nb = std::get_if<double>(&b);
        if (!nb)
            return std::nullopt;
        return *na < *nb ? -1 : (*na > *nb ? 1 : 0);
    }
    if (const bool* ba = std::get_if<bool>(&a)) {
        const bool* bb = std::get_if<bool>(&b);
        if (!bb)
            return std::nullopt;
        return int(*ba) - int(*bb);
    }
    return std::nullopt;
}

} // namespace

int findSqlColumn(const std::vector<SqlColumn>& columns, const QString& name)
{
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

std::optional<double> parseSqlNumber(const QString& text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    const qsizetype n = t.size();
    if (i < n && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
        ++i;
    qsizetype digits = 0;
    while (i < n && t[i] >= QLatin1Char('0') && t[i] <= QLatin1Char('9')) {
        ++i;
        ++digits;
    }
    if (i < n && t[i] == QLatin1Char('.')) {
        ++i;
        while (i < n && t[i] >= QLatin1Char('0') && t[i] <= QLatin1Char('9')) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0 || i != n)
        return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<bool> parseSqlBoolean(const QString& text)
{
    const QString t = text.trimmed().toUpper();
    if (t == QLatin1String("T") || t == QLatin1String("Y") || t == QLatin1String("TRUE") || t == QLatin1String("1"))
        return true;
    if (t == QLatin1String("F") || t == QLatin1String("N") || t == QLatin1String("FALSE") || t == QLatin1String("0"))
        return false;
    return std::nullopt;
}

std::optional<QDate> parseSqlDate(const QString& text)
{
    // m/d/yyyy, month and day in one or two digits.
    int part[3] = {0, 0, 0};
    int len[3] = {0, 0, 0};
    int p = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('/')) {
            if (++p > 2)
                return std::nullopt;
            continue;
        }
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        if (++len[p] > 4)
            return std::nullopt;
        part[p] = part[p] * 10 + (c.unicode() - u'0');
    }
    if (p != 2 || len[0] < 1 || len[0] > 2 || len[1] < 1 || len[1] > 2 || len[2] != 4)
        return std::nullopt;
    const QDate d(part[2], part[0], part[1]);
    if (!d.isValid())
        return std::nullopt;
    return d;
}

SqlValue convertSqlValue(const SqlExpr& literal, const SqlColumn& column)
{
    auto fail = [&](const QString& why) -> SqlValue {
        throw EDatabaseError(QStringLiteral("Value %1 for column %2 %3 (%4)")
                                 .arg(shownValue(literal.text), column.name, why, at(literal.pos)));
    };

    if (literal.kind == SqlExpr::Kind::Null)
        return std::monostate{};

    const bool isText = literal.kind == SqlExpr::Kind::Text;
    const QString& t = literal.text;
    switch (column.type) {
    case TFieldType::String:
        if (column.size > 0 && t.size() > column.size)
            return fail(QStringLiteral("is too long: %1 characters, the field holds %2").arg(t.size()).arg(column.size));
        return t;
    case TFieldType::Memo:
        if (t.isEmpty())
            return std::monostate{};
        return t;
    case TFieldType::Date: {
        if (!isText)
            return fail(QStringLiteral("is a number, not a date (month/day/year in quotes)"));
        if (t.isEmpty())
            return std::monostate{};
        if (auto d = parseSqlDate(t))
            return *d;
        return fail(QStringLiteral("is not a date (month/day/year)"));
    }
    case TFieldType::Float:
    case TFieldType::Integer: {
        if (isText && t.isEmpty())
            return std::monostate{};
        auto v = parseSqlNumber(t);
        if (!v)
            return fail(QStringLiteral("is not a number"));
        if (column.type == TFieldType::Integer && std::floor(*v) != *v)
            return fail(QStringLiteral("is not a whole number"));
        return *v;
    }
    case TFieldType::Boolean: {
        if (isText && t.isEmpty())
            return std::monostate{};
        if (auto b = parseSqlBoolean(t))
            return *b;
        return fail(QStringLiteral("is not a logical value (T or F)"));
    }
    }
    return std::monostate{};
}

SqlCondition::SqlCondition(const SqlExpr& expr, const std::vector<SqlColumn>& columns, const QString& tableName)
{
    root_ = bind(expr, columns, tableName);
}

int SqlCondition::bind(const SqlExpr& e, const std::vector<SqlColumn>& columns, const QString& tableName)
{
    Node node;
    switch (e.kind) {
    case SqlExpr::Kind::And:
    case SqlExpr::Kind::Or:
    case SqlExpr::Kind::Not: {
        node.kind = e.kind == SqlExpr::Kind::And ? Kind::And : (e.kind == SqlExpr::Kind::Or ? Kind::Or : Kind::Not);
        for (const auto& c : e.children)
            node.children.push_back(bind(*c, columns, tableName));
        if (node.kind == Kind::Or)
            foldEqualities(node);
        break;
    }
    case SqlExpr::Kind::Compare:
    case SqlExpr::Kind::Between:
    case SqlExpr::Kind::IsNull: {
        node.kind = e.kind == SqlExpr::Kind::Compare ? Kind::Compare
                  : (e.kind == SqlExpr::Kind::Between ? Kind::Between : Kind::IsNull);
        node.op = e.op;
        node.negated = e.negated;

        // The kind the operands are compared as: that of the first column among them, else that
        // of the literals.
        std::optional<ValueKind> kind;
        const SqlExpr* kindSource = nullptr;
        for (const auto& c : e.children) {
            if (c->kind != SqlExpr::Kind::Column)
                continue;
            const int idx = findSqlColumn(columns, c->text);
            if (idx < 0)
                failAt(c->pos, QStringLiteral("column '%1' not found in table %2").arg(c->text, tableName));
            const ValueKind k = kindOfColumn(columns[static_cast<size_t>(idx)]);
            if (kind && *kind != k)
                failAt(c->pos, QStringLiteral("column %1 (%2) cannot be compared with %3 (%4)")
                                   .arg(columns[static_cast<size_t>(idx)].name, kindName(k), kindSource->text, kindName(*kind)));
            kind = k;
            kindSource = c.get();
        }
        if (!kind) {
            for (const auto& c : e.children) {
                if (c->kind == SqlExpr::Kind::Null)
                    continue;
                const ValueKind k = c->kind == SqlExpr::Kind::Number ? ValueKind::Number : ValueKind::Text;
                if (kind && *kind != k)
                    failAt(c->pos, QStringLiteral("a %1 cannot be compared with a %2").arg(kindName(k), kindName(*kind)));
                kind = k;
            }
        }

        for (const auto& c : e.children) {
            Operand o;
            if (c->kind == SqlExpr::Kind::Column) {
                o.column = findSqlColumn(columns, c->text);
                o.blankIsEmptyText = kindOfColumn(columns[static_cast<size_t>(o.column)]) == ValueKind::Text;
            } else if (c->kind == SqlExpr::Kind::Null) {
                o.constant = std::monostate{};
            } else {
                const bool isText = c->kind == SqlExpr::Kind::Text;
                const QString against = kindSource ? QStringLiteral(" to compare with column %1").arg(kindSource->text) : QString();
                switch (kind.value_or(ValueKind::Text)) {
                case ValueKind::Text:
                    if (!isText)
                        failAt(c->pos, kindSource ? QStringLiteral("the number %1 cannot be compared with column %2 (text); write it in quotes").arg(c->text, kindSource->text)
                                                  : QStringLiteral("the number %1 cannot be compared with a text").arg(c->text));
                    o.constant = c->text;
                    break;
                case ValueKind::Number: {
                    auto v = parseSqlNumber(c->text);
                    if (!v)
                        failAt(c->pos, QStringLiteral("%1 is not a number%2").arg(shownValue(c->text), against));
                    o.constant = *v;
                    break;
                }
                case ValueKind::Date: {
                    if (!isText)
                        failAt(c->pos, QStringLiteral("the number %1 is not a date%2; write month/day/year in quotes").arg(c->text, against));
                    auto d = parseSqlDate(c->text);
                    if (!d)
                        failAt(c->pos, QStringLiteral("%1 is not a date (month/day/year)%2").arg(shownValue(c->text), against));
                    o.constant = *d;
                    break;
                }
                case ValueKind::Boolean: {
                    auto b = parseSqlBoolean(c->text);
                    if (!b)
                        failAt(c->pos, QStringLiteral("%1 is not a logical value (T or F)%2").arg(shownValue(c->text), against));
                    o.constant = *b;
                    break;
                }
                case ValueKind::Null:
                    break;
                }
            }
            node.operands.push_back(std::move(o));
        }
        break;
    }
    case SqlExpr::Kind::Column:
    case SqlExpr::Kind::Text:
    case SqlExpr::Kind::Number:
    case SqlExpr::Kind::Null:
        failAt(e.pos, QStringLiteral("expected a condition"));
    }
    nodes_.push_back(std::move(node));
    return static_cast<int>(nodes_.size()) - 1;
}

void SqlCondition::foldEqualities(Node& orNode)
{
    // A term that can join a lookup: column = value, either way round, with a value that is one
    // (a NULL or a day that is no calendar day would make the term unknown for every row).
    auto equality = [this](int index) -> std::pair<const Operand*, const SqlValue*> {
        const Node& n = nodes_[static_cast<size_t>(index)];
        if (n.kind != Kind::Compare || n.op != SqlCompareOp::Equal)
            return {};
        const Operand& a = n.operands[0];
        const Operand& b = n.operands[1];
        const Operand* column = a.column >= 0 ? &a : &b;
        const Operand* constant = a.column >= 0 ? &b : &a;
        if (column->column < 0 || constant->column >= 0 || std::holds_alternative<std::monostate>(constant->constant))
            return {};
        if (const QDate* d = std::get_if<QDate>(&constant->constant); d && !d->isValid())
            return {};
        return {column, &constant->constant};
    };

    std::vector<int> kept;
    std::vector<Node> sets;  // one per column, in the order the columns first appear
    for (int child : orNode.children) {
        const auto term = equality(child);
        const Operand* column = term.first;
        if (!column) {
            kept.push_back(child);
            continue;
        }
        auto set = std::find_if(sets.begin(), sets.end(),
                                [column](const Node& n) { return n.operands[0].column == column->column; });
        if (set == sets.end()) {
            Node n;
            n.kind = Kind::InSet;
            n.operands.push_back(*column);
            sets.push_back(std::move(n));
            set = sets.end() - 1;
        }
        // Bound against one column, every value has that column's kind.
        set->members.push_back(*term.second);
    }
    if (sets.empty())
        return;
    for (Node& set : sets) {
        std::sort(set.members.begin(), set.members.end(),
                  [](const SqlValue& x, const SqlValue& y) { return compareValues(x, y) < 0; });
        nodes_.push_back(std::move(set));
        kept.push_back(static_cast<int>(nodes_.size()) - 1);
    }
    orNode.children = std::move(kept);
}

SqlValue SqlCondition::fetch(const Operand& o, SqlRowSource& row)
{
    if (o.column < 0)
        return o.constant;
    SqlValue v = row.value(o.column);
    if (o.blankIsEmptyText && std::holds_alternative<std::monostate>(v))
        return QString();
    return v;
}

SqlCondition::Truth SqlCondition::eval(int index, SqlRowSource& row) const
{
    const Node& n = nodes_[static_cast<size_t>(index)];
    switch (n.kind) {
    case Kind::Compare: {
        const auto s = compareValues(fetch(n.operands[0], row), fetch(n.operands[1], row));
        if (!s)
            return Truth::Unknown;
        return holds(n.op, *s) ? Truth::True : Truth::False;
    }
    case Kind::Between: {
        const SqlValue v = fetch(n.operands[0], row);
        const auto lo = compareValues(v, fetch(n.operands[1], row));
        const auto hi = compareValues(v, fetch(n.operands[2], row));
        if (!lo || !hi)
            return Truth::Unknown;
        const bool inside = *lo >= 0 && *hi <= 0;
        return inside != n.negated ? Truth::True : Truth::False;
    }
    case Kind::IsNull: {
        const Operand& o = n.operands[0];
        const SqlValue v = o.column >= 0 ? row.value(o.column) : o.constant;
        // A date that is not a calendar day is neither a value nor none: it never matches.
        if (const QDate* d = std::get_if<QDate>(&v); d && !d->isValid())
            return Truth::Unknown;
        const bool isNull = std::holds_alternative<std::monostate>(v);
        return isNull != n.negated ? Truth::True : Truth::False;
    }
    case Kind::InSet: {
        // The truth of the equalities it stands for: unknown without a value of the members'
        // kind; a number that is no number compares equal to any (neither less nor greater).
        const SqlValue v = fetch(n.operands[0], row);
        if (v.index() != n.members.front().index())
            return Truth::Unknown;
        if (const QDate* d = std::get_if<QDate>(&v); d && !d->isValid())
            return Truth::Unknown;
        if (const double* x = std::get_if<double>(&v); x && std::isnan(*x))
            return Truth::True;
        const bool found = std::binary_search(n.members.begin(), n.members.end(), v,
                                              [](const SqlValue& x, const SqlValue& y) { return compareValues(x, y) < 0; });
        return found ? Truth::True : Truth::False;
    }
    case Kind::Not: {
        const Truth t = eval(n.children[0], row);
        return t == Truth::Unknown ? t : (t == Truth::True ? Truth::False : Truth::True);
    }
    case Kind::And: {
        Truth result = Truth::True;
        for (int c : n.children) {
            const Truth t = eval(c, row);
            if (t == Truth::False)
                return t;
            if (t == Truth::Unknown)
                result = t;
        }
        return result;
    }
    case Kind::Or: {
        Truth result = Truth::False;
        for (int c : n.children) {
            const Truth t = eval(c, row);
            if (t == Truth::True)
                return t;
            if (t == Truth::Unknown)
                result = t;
        }
        return result;
    }
    }
    return Truth::Unknown;
}

bool SqlCondition::matches(SqlRowSource& row) const
{
    return eval(root_, row) == Truth::True;
}

std::optional<SqlCondition::DateRange> SqlCondition::dateRange() const
{
    if (root_ < 0)
        return std::nullopt;
    DateRange range;
    const Node* n = &nodes_[static_cast<size_t>(root_)];
    // NOT swaps true and false and leaves unknown alone, as flipping the range test does: a row
    // without a calendar day fails either way.
    while (n->kind == Kind::Not) {
        range.negated = !range.negated;
        n = &nodes_[static_cast<size_t>(n->children[0])];
    }
    auto dayOf = [](const Operand& o) -> std::optional<int> {
        const QDate* d = o.column < 0 ? std::get_if<QDate>(&o.constant) : nullptr;
        if (!d || !d->isValid())
            return std::nullopt;
        return d->year() * 10000 + d->month() * 100 + d->day();
    };
    // Bounds of whatever sign: numbers one past a real day (20230600) still order right.
    constexpr int kBefore = std::numeric_limits<int>::min(), kAfter = std::numeric_limits<int>::max();
    if (n->kind == Kind::Between) {
        const auto from = dayOf(n->operands[1]), to = dayOf(n->operands[2]);
        if (n->operands[0].column < 0 || !from || !to)
            return std::nullopt;
        range.column = n->operands[0].column;
        range.from = *from;
        range.to = *to;
        range.negated = range.negated != n->negated;
    } else if (n->kind == Kind::Compare) {
        SqlCompareOp op = n->op;
        const Operand* column = &n->operands[0];
        auto day = dayOf(n->operands[1]);
        if (column->column < 0) {
            // A day written first: "d < DAT" is "DAT > d".
            column = &n->operands[1];
            day = dayOf(n->operands[0]);
            switch (op) {
            case SqlCompareOp::Less: op = SqlCompareOp::Greater; break;
            case SqlCompareOp::LessOrEqual: op = SqlCompareOp::GreaterOrEqual; break;
            case SqlCompareOp::Greater: op = SqlCompareOp::Less; break;
            case SqlCompareOp::GreaterOrEqual: op = SqlCompareOp::LessOrEqual; break;
            default: break;
            }
        }
        if (column->column < 0 || !day)
            return std::nullopt;
        range.column = column->column;
        switch (op) {
        case SqlCompareOp::Equal: range.from = range.to = *day; break;
        case SqlCompareOp::NotEqual: range.from = range.to = *day; range.negated = !range.negated; break;
        case SqlCompareOp::Less: range.from = kBefore; range.to = *day - 1; break;
        case SqlCompareOp::LessOrEqual: range.from = kBefore; range.to = *day; break;
        case SqlCompareOp::Greater: range.from = *day + 1; range.to = kAfter; break;
        case SqlCompareOp::GreaterOrEqual: range.from = *day; range.to = kAfter; break;
        }
    } else {
        return std::nullopt;
    }
    return range;
}

bool SqlCondition::matches(SqlTable& table, int row) const
{
    struct TableRow final : SqlRowSource {
        SqlTable& t;
        int r;
        TableRow(SqlTable& table_, int row_) : t(table_), r(row_) {}
        SqlValue value(int column) override { return t.value(r, column); }
    } source(table, row);
    return matches(source);
}
