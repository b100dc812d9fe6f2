#include "report/model/LayoutText.h"

#include <cctype>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <string>

ELayoutError::ELayoutError(const QString& source, int line, const QString& problem)
    : Exception(QStringLiteral("Layout %1, line %2: %3").arg(source).arg(line).arg(problem)),
      line_(line), problem_(problem)
{
}

LayoutValue LayoutValue::makeInteger(qint64 v)
{
    LayoutValue x;
    x.kind = Kind::Integer;
    x.integer = v;
    return x;
}
LayoutValue LayoutValue::makeFloat(long double v)
{
    LayoutValue x;
    x.kind = Kind::Float;
    x.number = v;
    return x;
}
LayoutValue LayoutValue::makeIdentifier(const QString& s)
{
    LayoutValue x;
    x.kind = Kind::Identifier;
    x.text = s;
    return x;
}
LayoutValue LayoutValue::makeString(const QString& s)
{
    LayoutValue x;
    x.kind = Kind::String;
    x.text = s;
    return x;
}
LayoutValue LayoutValue::makeSet(const QStringList& members)
{
    LayoutValue x;
    x.kind = Kind::Set;
    x.set = members;
    return x;
}
LayoutValue LayoutValue::makeList(std::vector<LayoutValue> items)
{
    LayoutValue x;
    x.kind = Kind::List;
    x.list = std::move(items);
    return x;
}
LayoutValue LayoutValue::makeBinary(const QByteArray& bytes)
{
    LayoutValue x;
    x.kind = Kind::Binary;
    x.binary = bytes;
    return x;
}

const LayoutProperty* LayoutObject::find(const QString& propertyName) const
{
    for (const auto& p : properties)
        if (p.name.compare(propertyName, Qt::CaseInsensitive) == 0)
            return &p;
    return nullptr;
}

namespace {

constexpr int kMaxIdentifier = 255;

bool isIdentStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool isIdentChar(char c) { return isIdentStart(c) || (c >= '0' && c <= '9'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Parser {
public:
    Parser(const QByteArray& text, const QString& source) : s_(text), source_(source) {}

    LayoutObject parseRoot()
    {
        if (s_.size() > layouttext::kMaxTextSize)
            fail(QStringLiteral("layout of %1 bytes is larger than the %2 bytes accepted")
                     .arg(s_.size())
                     .arg(layouttext::kMaxTextSize));
        // A UTF-8 byte order mark is allowed at the start.
        if (s_.startsWith("\xEF\xBB\xBF"))
            pos_ = 3;
        skipSpace();
        if (atEnd())
            fail(QStringLiteral("empty layout, an object was expected"));
        LayoutObject root = parseObject(1);
        skipSpace();
        if (!atEnd())
            fail(QStringLiteral("text after the end of the root object"));
        return root;
    }

private:
    [[noreturn]] void fail(const QString& problem) const { throw ELayoutError(source_, line_, problem); }
    [[noreturn]] void failAt(int line, const QString& problem) const
    {
        throw ELayoutError(source_, line, problem);
    }

    bool atEnd() const { return pos_ >= s_.size(); }
    char peek(qsizetype ahead = 0) const
    {
        return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0';
    }
    void advance()
    {
        if (s_[pos_] == '\n')
            ++line_;
        ++pos_;
    }

    void skipSpace()
    {
        while (!atEnd()) {
            const char c = peek();
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
                advance();
            else if (c == '/' && peek(1) == '/') {
                while (!atEnd() && peek() != '\n')
                    advance();
            } else
                break;
        }
    }

    static QString describe(char c)
    {
        if (c == '\0')
            return QStringLiteral("end of text");
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x21 && u < 0x7F)
            return QStringLiteral("'%1'").arg(QChar(c));
        return QStringLiteral("byte %1").arg(u, 2, 16, QLatin1Char('0'));
    }

    // Identifier; with dotted set, also names like Page.Values or Form1.Table1.
    QString identifier(bool dotted, const char* what)
    {
        skipSpace();
        if (!isIdentStart(peek()))
            fail(QStringLiteral("%1 expected, found %2").arg(QLatin1String(what), describe(peek())));
        const qsizetype start = pos_;
        while (!atEnd()) {
            if (isIdentChar(peek()))
                advance();
            else if (dotted && peek() == '.' && isIdentStart(peek(1)))
                advance();
            else
                break;
        }
        if (pos_ - start > kMaxIdentifier)
            fail(QStringLiteral("name longer than %1 characters").arg(kMaxIdentifier));
        return QString::fromLatin1(s_.mid(start, pos_ - start));
    }

    void expect(char c)
    {
        skipSpace();
        if (peek() != c)
            fail(QStringLiteral("'%1' expected, found %2").arg(QChar(c)).arg(describe(peek())));
        advance();
    }

    bool peekWord(const char* word)
    {
        skipSpace();
        const qsizetype n = static_cast<qsizetype>(std::strlen(word));
        if (s_.size() - pos_ < n)
            return false;
        for (qsizetype i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(s_[pos_ + i])) != word[i])
                return false;
        return !isIdentChar(peek(n)) && peek(n) != '.';
    }

    LayoutObject parseObject(int depth)
    {
        if (depth > layouttext::kMaxDepth)
            fail(QStringLiteral("objects nested deeper than %1 levels").arg(layouttext::kMaxDepth));
        if (!peekWord("object"))
            fail(QStringLiteral("'object' expected, found %1").arg(describe(peek())));
        if (++objects_ > layouttext::kMaxObjects)
            fail(QStringLiteral("more than %1 objects").arg(layouttext::kMaxObjects));
        LayoutObject obj;
        obj.line = line_;
        identifier(false, "'object'");
        obj.name = identifier(false, "object name");
        expect(':');
        obj.className = identifier(false, "class name");
        for (;;) {
            skipSpace();
            if (atEnd())
                failAt(obj.line, QStringLiteral("object %1 has no 'end'").arg(obj.name));
            if (peekWord("end")) {
                identifier(false, "'end'");
                return obj;
            }
            if (peekWord("object")) {
                obj.children.push_back(parseObject(depth + 1));
                continue;
            }
            if (!obj.children.empty())
                fail(QStringLiteral("property after the inner objects of %1").arg(obj.name));
            LayoutProperty p;
            p.line = line_;
            p.name = identifier(true, "property name or 'end'");
            expect('=');
            skipSpace();
            p.value = parseValue(true);
            obj.properties.push_back(std::move(p));
        }
    }

    LayoutValue parseValue(bool allowCompound)
    {
        if (++values_ > layouttext::kMaxValues)
            fail(QStringLiteral("more than %1 values").arg(layouttext::kMaxValues));
        skipSpace();
        const int line = line_;
        LayoutValue v;
        const char c = peek();
        if (c == '[' && allowCompound)
            v = parseSet();
        else if (c == '(' && allowCompound)
            v = parseList();
        else if (c == '{' && allowCompound)
            v = parseBinary();
        else if (c == '\'' || c == '#')
            v = LayoutValue::makeString(parseString());
        else if (isDigit(c) || c == '-' || c == '+' || c == '$')
            v = parseNumber();
        else if (isIdentStart(c)) {
            // A missing value before 'end' or the next object reads best as what it is.
            if (peekWord("end") || peekWord("object"))
                fail(QStringLiteral("value expected, found '%1'").arg(QString::fromLatin1(peekWord("end") ? "end" : "object")));
            v = LayoutValue::makeIdentifier(identifier(true, "value"));
        }
        else
            fail(QStringLiteral("value expected, found %1").arg(describe(c)));
        v.line = line;
        return v;
    }

    LayoutValue parseSet()
    {
        advance();   // [
        QStringList members;
        skipSpace();
        if (peek() == ']') {
            advance();
            return LayoutValue::makeSet(members);
        }
        for (;;) {
            members << identifier(false, "set member");
            skipSpace();
            if (peek() == ']') {
                advance();
                return LayoutValue::makeSet(members);
            }
            if (peek() != ',')
                fail(QStringLiteral("',' or ']' expected in a set, found %1").arg(describe(peek())));
            advance();
        }
    }

    LayoutValue parseList()
    {
        const int open = line_;
        advance();   // (
        std::vector<LayoutValue> items;
        for (;;) {
            skipSpace();
            if (atEnd())
                failAt(open, QStringLiteral("value list is not closed with ')'"));
            if (peek() == ')') {
                advance();
                return LayoutValue::makeList(std::move(items));
            }
            items.push_back(parseValue(false));
        }
    }

    LayoutValue parseBinary()
    {
        const int open = line_;
        advance();   // {
        QByteArray bytes;
        int high = -1;
        for (;;) {
            if (atEnd())
                failAt(open, QStringLiteral("binary data is not closed with '}'"));
            const char c = peek();
            if (c == '}') {
                if (high >= 0)
                    fail(QStringLiteral("binary data has an odd number of hex digits"));
                advance();
                return LayoutValue::makeBinary(bytes);
            }
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                advance();
                continue;
            }
            const int h = hexValue(c);
            if (h < 0)
                fail(QStringLiteral("hex digit expected in binary data, found %1").arg(describe(c)));
            advance();
            if (high < 0) {
                high = h;
            } else {
                bytes.append(static_cast<char>(high * 16 + h));
                high = -1;
            }
        }
    }

    // One text: quoted parts and #n characters side by side, parts joined by '+' across lines.
    QString parseString()
    {
        QString out;
        for (;;) {
            bool any = false;
            while (peek() == '\'' || peek() == '#') {
                any = true;
                if (peek() == '\'') {
                    advance();
                    QByteArray raw;
                    for (;;) {
                        if (atEnd() || peek() == '\n' || peek() == '\r')
                            fail(QStringLiteral("text not closed with a quote before the end of the line"));
                        if (peek() == '\'') {
                            if (peek(1) == '\'') {
                                raw.append('\'');
                                advance();
                                advance();
                                continue;
                            }
                            advance();
                            break;
                        }
                        raw.append(peek());
                        advance();
                    }
                    out += QString::fromUtf8(raw);
                } else {
                    advance();   // #
                    char32_t code = 0;
                    int digits = 0;
                    const bool hex = peek() == '$';
                    if (hex)
                        advance();
                    while (hex ? hexValue(peek()) >= 0 : isDigit(peek())) {
                        code = code * (hex ? 16 : 10)
                               + static_cast<char32_t>(hex ? hexValue(peek()) : peek() - '0');
                        advance();
                        if (++digits > 8 || code > 0x10FFFF)
                            fail(QStringLiteral("character code after '#' out of range"));
                    }
                    if (digits == 0)
                        fail(QStringLiteral("character code expected after '#'"));
                    if (code >= 0xD800 && code <= 0xDFFF)
                        fail(QStringLiteral("character code %1 is not a character").arg(static_cast<uint>(code)));
                    out += QString::fromUcs4(&code, 1);
                }
            }
            if (!any)
                fail(QStringLiteral("text expected after '+', found %1").arg(describe(peek())));
            // A '+' joins the next part of the text.
            const qsizetype savePos = pos_;
            const int saveLine = line_;
            skipSpace();
            if (peek() == '+') {
                advance();
                skipSpace();
                continue;
            }
            pos_ = savePos;
            line_ = saveLine;
            return out;
        }
    }

    LayoutValue parseNumber()
    {
        const qsizetype start = pos_;
        bool negative = false;
        if (peek() == '-' || peek() == '+') {
            negative = peek() == '-';
            advance();
        }
        if (peek() == '$') {
            advance();
            quint64 v = 0;
            int digits = 0;
            while (hexValue(peek()) >= 0) {
                v = v * 16 + static_cast<quint64>(hexValue(peek()));
                advance();
                if (++digits > 16)
                    fail(QStringLiteral("hex number too long"));
            }
            if (digits == 0)
                fail(QStringLiteral("hex digits expected after '$'"));
            // $FFFFFFFF style values are 32-bit patterns (colours), kept as signed 32 bits.
            qint64 value = digits <= 8 ? static_cast<qint64>(static_cast<qint32>(static_cast<quint32>(v)))
                                       : static_cast<qint64>(v);
            return LayoutValue::makeInteger(negative ? -value : value);
        }
        bool isFloat = false;
        if (!isDigit(peek()))
            fail(QStringLiteral("digit expected in a number, found %1").arg(describe(peek())));
        while (isDigit(peek()))
            advance();
        if (peek() == '.' && isDigit(peek(1))) {
            isFloat = true;
            advance();
            while (isDigit(peek()))
                advance();
        }
        if (peek() == 'e' || peek() == 'E') {
            qsizetype k = 1;
            if (peek(k) == '+' || peek(k) == '-')
                ++k;
            if (isDigit(peek(k))) {
                isFloat = true;
                for (qsizetype i = 0; i < k; ++i)
                    advance();
                while (isDigit(peek()))
                    advance();
            }
        }
        if (isIdentChar(peek()))
            fail(QStringLiteral("malformed number"));
        if (pos_ - start > 64)
            fail(QStringLiteral("number longer than 64 characters"));
        // from_chars reads the same whatever the C locale says about decimal separators.
        const char* first = s_.constData() + start;
        const char* last = s_.constData() + pos_;
        const QString shown = QString::fromLatin1(first, last - first);
        if (*first == '+')
            ++first;
        if (!isFloat) {
            long long v = 0;
            const auto r = std::from_chars(first, last, v);
            if (r.ec == std::errc::result_out_of_range)
                fail(QStringLiteral("number %1 out of range").arg(shown));
            if (r.ec != std::errc() || r.ptr != last)
                fail(QStringLiteral("malformed number %1").arg(shown));
            return LayoutValue::makeInteger(v);
        }
        long double v = 0;
        const auto r = std::from_chars(first, last, v);
        if (r.ec == std::errc::result_out_of_range || (r.ec == std::errc() && !std::isfinite(v)))
            fail(QStringLiteral("number %1 out of range").arg(shown));
        if (r.ec != std::errc() || r.ptr != last)
            fail(QStringLiteral("malformed number %1").arg(shown));
        return LayoutValue::makeFloat(v);
    }

    const QByteArray& s_;
    QString source_;
    qsizetype pos_ = 0;
    int line_ = 1;
    int objects_ = 0;
    int values_ = 0;
};

// ---- writer ----

QByteArray quote(const QString& s)
{
    if (s.isEmpty())
        return "''";
    QByteArray out;
    bool open = false;
    for (const char32_t c : s.toUcs4()) {
        if (c < 32) {
            if (open) {
                out += '\'';
                open = false;
            }
            out += '#' + QByteArray::number(static_cast<uint>(c));
            continue;
        }
        if (!open) {
            out += '\'';
            open = true;
        }
        if (c == U'\'')
            out += "''";
        else
            out += QString::fromUcs4(&c, 1).toUtf8();
    }
    if (open)
        out += '\'';
    return out;
}

QByteArray scalar(const LayoutValue& v)
{
    switch (v.kind) {
    case LayoutValue::Kind::Integer: return QByteArray::number(v.integer);
    case LayoutValue::Kind::Float: return layouttext::formatNumber(v.number).toLatin1();
    case LayoutValue::Kind::Identifier: return v.text.toLatin1();
    case LayoutValue::Kind::String: return quote(v.text);
    default: return {};
    }
}

void writeValue(QByteArray& out, const LayoutValue& v, const QByteArray& indent)
{
    switch (v.kind) {
    case LayoutValue::Kind::Set:
        out += '[' + v.set.join(QStringLiteral(", ")).toLatin1() + ']';
        break;
    case LayoutValue::Kind::List:
        out += '(';
        for (size_t i = 0; i < v.list.size(); ++i)
            out += '\n' + indent + "  " + scalar(v.list[i]);
        out += ')';
        break;
    case LayoutValue::Kind::Binary: {
        out += '{';
        const QByteArray hex = v.binary.toHex().toUpper();
        for (qsizetype i = 0; i < hex.size(); i += 64)
            out += '\n' + indent + "  " + hex.mid(i, 64);
        out += '}';
        break;
    }
    default: out += scalar(v);
    }
}

void writeObject(QByteArray& out, const LayoutObject& o, int depth)
{
    const QByteArray indent(depth * 2, ' ');
    out += indent + "object " + o.name.toLatin1() + ": " + o.className.toLatin1() + '\n';
    for (const auto& p : o.properties) {
        out += indent + "  " + p.name.toLatin1() + " = ";
        writeValue(out, p.value, indent + "  ");
        out += '\n';
    }
    for (const auto& c : o.children)
        writeObject(out, c, depth + 1);
    out += indent + "end\n";
}

} // namespace

namespace layouttext {

LayoutObject parse(const QByteArray& text, const QString& source)
{
    Parser p(text, source);
    return p.parseRoot();
}

QByteArray write(const LayoutObject& root)
{
    QByteArray out;
    writeObject(out, root, 0);
    return out;
}

QString formatNumber(long double v)
{
    // Fifteen significant digits, a point as the separator whatever the C locale.
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    if (r.ec != std::errc())
        return QStringLiteral("0");
    return QString::fromLatin1(buf, r.ptr - buf);
}

} // namespace layouttext
