#include "engine/SqlParser.h"

#include "engine/DbTypes.h"

namespace {

// Words that end an operand or start a clause; a column named like one must not be taken for it.
bool isReserved(const SqlToken& t)
{
    static const char* const words[] = {"SELECT", "FROM", "WHERE", "AND", "OR", "NOT", "BETWEEN",
                                        "IS", "NULL", "INSERT", "INTO", "VALUES"};
    for (const char* w : words)
        if (t.isKeyword(w))
            return true;
    return false;
}

class Parser {
public:
    explicit Parser(const QString& text) : tokens_(tokenizeSql(text)) {}

    SqlStatement statement()
    {
        const SqlToken& first = peek();
        SqlStatement st;
        if (first.kind == SqlTokenKind::End)
            fail(first, QStringLiteral("the statement is empty"));
        if (first.isKeyword("SELECT"))
            st = select();
        else if (first.isKeyword("INSERT"))
            st = insert();
        else if (first.kind == SqlTokenKind::Identifier)
            fail(first, QStringLiteral("statement %1 is not supported (only SELECT and INSERT are)").arg(describeToken(first)));
        else
            fail(first, QStringLiteral("expected SELECT or INSERT but found %1").arg(describeToken(first)));

        if (peek().isSymbol(";"))
            next();
        if (peek().kind != SqlTokenKind::End)
            fail(peek(), QStringLiteral("unexpected %1 after the end of the statement").arg(describeToken(peek())));
        return st;
    }

private:
    std::vector<SqlToken> tokens_;
    size_t at_ = 0;
    int depth_ = 0;

    const SqlToken& peek() const { return tokens_[at_]; }
    const SqlToken& next()
    {
        const SqlToken& t = tokens_[at_];
        if (t.kind != SqlTokenKind::End)
            ++at_;
        return t;
    }

    [[noreturn]] static void fail(const SqlToken& at, const QString& what)
    {
        throw EDatabaseError(QStringLiteral("SQL error at %1: %2").arg(sqlPosition(at.line, at.column), what));
    }

    void expectKeyword(const char* word)
    {
        if (!peek().isKeyword(word))
            fail(peek(), QStringLiteral("expected %1 but found %2").arg(QLatin1String(word), describeToken(peek())));
        next();
    }

    void expectSymbol(const char* symbol)
    {
        if (!peek().isSymbol(symbol))
            fail(peek(), QStringLiteral("expected '%1' but found %2").arg(QLatin1String(symbol), describeToken(peek())));
        next();
    }

    static SqlPos posOf(const SqlToken& t) { return SqlPos{t.line, t.column}; }

    void tableName(SqlStatement& st)
    {
        const SqlToken& t = peek();
        if (t.kind != SqlTokenKind::Text || t.quote != QLatin1Char('"'))
            fail(t, QStringLiteral("expected the table's file name in double quotes but found %1").arg(describeToken(t)));
        if (t.text.isEmpty())
            fail(t, QStringLiteral("the table's file name is empty"));
        st.table = t.text;
        st.tablePos = posOf(t);
        next();
    }

    SqlName columnName()
    {
        const SqlToken& t = peek();
        if (t.kind != SqlTokenKind::Identifier || isReserved(t))
            fail(t, QStringLiteral("expected a column name but found %1").arg(describeToken(t)));
        next();
        return SqlName{t.text, posOf(t)};
    }

    SqlStatement select()
    {
        SqlStatement st;
        st.kind = SqlStatement::Kind::Select;
        next(); // SELECT
        if (peek().isSymbol("*")) {
            next();
        } else {
            st.columns.push_back(columnName());
            while (peek().isSymbol(",")) {
                next();
                st.columns.push_back(columnName());
            }
        }
        expectKeyword("FROM");
        tableName(st);
        if (peek().isKeyword("WHERE")) {
            next();
            st.where = condition();
        }
        return st;
    }

    SqlStatement insert()
    {
        SqlStatement st;
        st.kind = SqlStatement::Kind::Insert;
        next(); // INSERT
        expectKeyword("INTO");
        tableName(st);
        if (peek().isSymbol("(")) {
            next();
            st.columns.push_back(columnName());
            while (peek().isSymbol(",")) {
                next();
                st.columns.push_back(columnName());
            }
            expectSymbol(")");
        }
        expectKeyword("VALUES");
        expectSymbol("(");
        st.values.push_back(literal());
        while (peek().isSymbol(",")) {
            next();
            st.values.push_back(literal());
        }
        expectSymbol(")");
        return st;
    }

    // A quoted text, a number (with an optional minus) or NULL.
    std::unique_ptr<SqlExpr> literal()
    {
        const SqlToken& t = peek();
        auto e = std::make_unique<SqlExpr>();
        e->pos = posOf(t);
        if (t.kind == SqlTokenKind::Text) {
            e->kind = SqlExpr::Kind::Text;
            e->text = t.text;
            next();
        } else if (t.kind == SqlTokenKind::Number) {
            e->kind = SqlExpr::Kind::Number;
            e->text = t.text;
            next();
        } else if (t.isSymbol("-") && tokens_[at_ + 1].kind == SqlTokenKind::Number) {
            next();
            e->kind = SqlExpr::Kind::Number;
            e->text = QLatin1Char('-') + next().text;
        } else if (t.isKeyword("NULL")) {
            e->kind = SqlExpr::Kind::Null;
            next();
        } else {
            fail(t, QStringLiteral("expected a value (a quoted text, a number or NULL) but found %1").arg(describeToken(t)));
        }
        return e;
    }

    std::unique_ptr<SqlExpr> operand()
    {
        const SqlToken& t = peek();
        if (t.kind == SqlTokenKind::Identifier && !isReserved(t)) {
            auto e = std::make_unique<SqlExpr>();
            e->kind = SqlExpr::Kind::Column;
            e->text = t.text;
            e->pos = posOf(t);
            next();
            return e;
        }
        if (t.kind == SqlTokenKind::Text || t.kind == SqlTokenKind::Number || t.isSymbol("-") || t.isKeyword("NULL"))
            return literal();
        fail(t, QStringLiteral("expected a column or a value but found %1").arg(describeToken(t)));
    }

    void enter(const SqlToken& at)
    {
        if (++depth_ > kSqlMaxNesting)
            fail(at, QStringLiteral("the condition is nested more than %1 levels deep").arg(kSqlMaxNesting));
    }

    std::unique_ptr<SqlExpr> condition() { return orList(); }

    // AND and OR chains are kept flat, so a long chain costs no depth.
    std::unique_ptr<SqlExpr> orList()
    {
        auto first = andList();
        if (!peek().isKeyword("OR"))
            return first;
        auto e = std::make_unique<SqlExpr>();
        e->kind = SqlExpr::Kind::Or;
        e->pos = first->pos;
        e->children.push_back(std::move(first));
        while (peek().isKeyword("OR")) {
            next();
            e->children.push_back(andList());
        }
        return e;
    }

    std::unique_ptr<SqlExpr> andList()
    {
        auto first = notTerm();
        if (!peek().isKeyword("AND"))
            return first;
        auto e = std::make_unique<SqlExpr>();
        e->kind = SqlExpr::Kind::And;
        e->pos = first->pos;
        e->children.push_back(std::move(first));
        while (peek().isKeyword("AND")) {
            next();
            e->children.push_back(notTerm());
        }
        return e;
    }

    std::unique_ptr<SqlExpr> notTerm()
    {
        const SqlToken& t = peek();
        if (t.isKeyword("NOT")) {
            enter(t);
            next();
            auto e = std::make_unique<SqlExpr>();
            e->kind = SqlExpr::Kind::Not;
            e->pos = posOf(t);
            e->children.push_back(notTerm());
            --depth_;
            return e;
        }
        if (t.isSymbol("(")) {
            enter(t);
            next();
            auto inner = condition();
            expectSymbol(")");
            --depth_;
            return inner;
        }
        return predicate();
    }

    std::unique_ptr<SqlExpr> predicate()
    {
        auto left = operand();
        const SqlToken& t = peek();
        auto e = std::make_unique<SqlExpr>();
        e->pos = left->pos;

        static const struct { const char* symbol; SqlCompareOp op; } ops[] = {
            {"=", SqlCompareOp::Equal},       {"<>", SqlCompareOp::NotEqual},
            {"!=", SqlCompareOp::NotEqual},   {"<", SqlCompareOp::Less},
            {"<=", SqlCompareOp::LessOrEqual}, {">", SqlCompareOp::Greater},
            {">=", SqlCompareOp::GreaterOrEqual},
        };
        for (const auto& o : ops) {
            if (t.isSymbol(o.symbol)) {
                next();
                e->kind = SqlExpr::Kind::Compare;
                e->op = o.op;
                e->children.push_back(std::move(left));
                e->children.push_back(operand());
                return e;
            }
        }

        bool negated = false;
        if (t.isKeyword("NOT") && tokens_[at_ + 1].isKeyword("BETWEEN")) {
            negated = true;
            next();
        }
        if (peek().isKeyword("BETWEEN")) {
            next();
            e->kind = SqlExpr::Kind::Between;
            e->negated = negated;
            e->children.push_back(std::move(left));
            e->children.push_back(operand());
            expectKeyword("AND");
            e->children.push_back(operand());
            return e;
        }
        if (t.isKeyword("IS")) {
            next();
            if (peek().isKeyword("NOT")) {
                next();
                e->negated = true;
            }
            expectKeyword("NULL");
            e->kind = SqlExpr::Kind::IsNull;
            e->children.push_back(std::move(left));
            return e;
        }
        fail(peek(), QStringLiteral("expected a comparison (=, <>, <, <=, >, >=, BETWEEN or IS NULL) but found %1").arg(describeToken(peek())));
    }
};

} // namespace

SqlStatement parseSql(const QString& text)
{
    Parser p(text);
    return p.statement();
}
