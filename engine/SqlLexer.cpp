#include "engine/SqlLexer.h"

#include "engine/Cp1251.h"
#include "engine/DbTypes.h"

bool SqlToken::isKeyword(const char* upperWord) const
{
    return kind == SqlTokenKind::Identifier
        && text.compare(QLatin1String(upperWord), Qt::CaseInsensitive) == 0;
}

bool SqlToken::isSymbol(const char* symbol) const
{
    return kind == SqlTokenKind::Symbol && text == QLatin1String(symbol);
}

QString sqlPosition(int line, int column)
{
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

QString describeToken(const SqlToken& token)
{
    switch (token.kind) {
    case SqlTokenKind::End:
        return QStringLiteral("end of statement");
    case SqlTokenKind::Text: {
        // Long texts are cut in messages only; the statement keeps them whole.
        QString shown = token.text.size() > 40 ? token.text.left(40) + QStringLiteral("...") : token.text;
        return token.quote + shown + token.quote;
    }
    default:
        return QLatin1Char('\'') + token.text + QLatin1Char('\'');
    }
}

namespace {

bool startsWord(QChar c) { return c.isLetter() || c == QLatin1Char('_'); }
bool continuesWord(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); }
bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

} // namespace

std::vector<SqlToken> tokenizeSql(const QString& text)
{
    std::vector<SqlToken> tokens;
    const qsizetype n = text.size();
    qsizetype i = 0;
    int line = 1;
    qsizetype lineStart = 0;

    auto fail = [&](const QString& what, int l, int c) {
        throw EDatabaseError(QStringLiteral("SQL error at %1: %2").arg(sqlPosition(l, c), what));
    };
    if (n > kSqlMaxStatementLength)
        throw EDatabaseError(QStringLiteral("SQL error: the statement is %1 characters long; at most %2 are taken")
                                 .arg(n)
                                 .arg(kSqlMaxStatementLength));

    while (i < n) {
        const QChar c = text[i];
        // Line breaks may be LF, CR LF or a lone CR.
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n'))
                ++i;
            ++i;
            ++line;
            lineStart = i;
            continue;
        }
        if (c.isSpace()) {
            ++i;
            continue;
        }

        SqlToken tok;
        tok.line = line;
        tok.column = static_cast<int>(i - lineStart) + 1;

        if (startsWord(c)) {
            qsizetype j = i + 1;
            while (j < n && continuesWord(text[j]))
                ++j;
            tok.kind = SqlTokenKind::Identifier;
            tok.text = text.mid(i, j - i);
            i = j;
        } else if (isDigit(c) || (c == QLatin1Char('.') && i + 1 < n && isDigit(text[i + 1]))) {
            qsizetype j = i;
            while (j < n && isDigit(text[j]))
                ++j;
            if (j < n && text[j] == QLatin1Char('.')) {
                ++j;
                while (j < n && isDigit(text[j]))
                    ++j;
            }
            tok.kind = SqlTokenKind::Number;
            tok.text = text.mid(i, j - i);
            i = j;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            // A doubled quote inside stands for one quote character, so that any value can be
            // written without ending the text early.
            QString value;
            qsizetype j = i + 1;
            int l = line;
            qsizetype ls = lineStart;
            bool closed = false;
            while (j < n) {
                const QChar d = text[j];
                if (d == c) {
                    if (j + 1 < n && text[j + 1] == c) {
                        value += c;
                        j += 2;
                        continue;
                    }
                    closed = true;
                    ++j;
                    break;
                }
                if (d == QLatin1Char('\n') || (d == QLatin1Char('\r') && !(j + 1 < n && text[j + 1] == QLatin1Char('\n')))) {
                    ++l;
                    ls = j + 1;
                }
                value += d;
                ++j;
            }
            if (!closed)
                fail(QStringLiteral("text opened with %1 is not closed").arg(c), tok.line, tok.column);
            tok.kind = SqlTokenKind::Text;
            tok.text = value;
            tok.quote = c;
            i = j;
            line = l;
            lineStart = ls;
        } else {
            static const char* const twoChar[] = {"<>", "!=", "<=", ">="};
            const QString two = text.mid(i, 2);
            bool matched = false;
            for (const char* s : twoChar) {
                if (two == QLatin1String(s)) {
                    tok.text = two;
                    i += 2;
                    matched = true;
                    break;
                }
            }
            if (!matched) {
                if (QStringLiteral("(),*=<>;-.").contains(c)) {
                    tok.text = QString(c);
                    ++i;
                } else {
                    fail(QStringLiteral("unexpected character %1").arg(cp1251::describeCharacter(text, i)), tok.line, tok.column);
                }
            }
            tok.kind = SqlTokenKind::Symbol;
        }
        tokens.push_back(std::move(tok));
    }

    SqlToken end;
    end.kind = SqlTokenKind::End;
    end.line = line;
    end.column = static_cast<int>(n - lineStart) + 1;
    tokens.push_back(end);
    return tokens;
}
