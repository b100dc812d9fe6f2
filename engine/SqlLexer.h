#pragma once
// Splits statement text into tokens, each with the line and column where it starts, so that every
// error can say where it is.
#include <QString>
#include <vector>

enum class SqlTokenKind {
    Identifier,   // a word: keyword or column name (keywords are told apart by the parser)
    Text,         // "..." or '...', the quote character doubled inside stands for itself
    Number,       // digits with an optional fraction
    Symbol,       // ( ) , * = <> != < <= > >= ; - .
    End,
};

struct SqlToken {
    SqlTokenKind kind = SqlTokenKind::End;
    QString text;   // the word, the symbol, the number as written, or the text without its quotes
    int line = 1;   // from 1
    int column = 1; // from 1, in characters
    QChar quote;    // for Text: the quote character that enclosed it

    bool isKeyword(const char* upperWord) const;
    bool isSymbol(const char* symbol) const;
};

// Longest statement taken, in characters. The program's own statements stay under a few
// kilobytes; a longer text is refused before any work is spent on it.
constexpr qsizetype kSqlMaxStatementLength = 1024 * 1024;

// The tokens of the whole text, ending with one End token. Raises EDatabaseError for a text
// longer than kSqlMaxStatementLength, a character that starts no token or a text without its
// closing quote, naming the line and column.
std::vector<SqlToken> tokenizeSql(const QString& text);

// "line L, column C" for messages.
QString sqlPosition(int line, int column);
// How a token appears in messages: 'word', "text", or "end of statement".
QString describeToken(const SqlToken& token);
