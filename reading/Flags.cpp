#include "reading/Flags.h"

#include <charconv>

namespace reading {

namespace {

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// Digits with at most one decimal point or comma, read from pos; pos is left after them. Read
// without allocating: the grid reads every value cell it paints.
std::optional<double> readNumber(QStringView text, qsizetype* pos)
{
    char buf[32];
    int n = 0;
    qsizetype i = *pos;
    auto take = [&](char c) {
        if (n >= int(sizeof buf))
            return false;
        buf[n++] = c;
        return true;
    };
    while (i < text.size() && isDigit(text[i]))
        if (!take(char(text[i++].unicode())))
            return std::nullopt;
    if (n == 0)
        return std::nullopt;
    if (i + 1 < text.size() && (text[i] == u'.' || text[i] == u',') && isDigit(text[i + 1])) {
        take('.');
        ++i;
        while (i < text.size() && isDigit(text[i]))
            if (!take(char(text[i++].unicode())))
                return std::nullopt;
    } else if (i < text.size() && text[i] == u'.') {
        // The import keeps a fixed number of characters, which can cut a padded value after its
        // point (" 47.1" kept as " 47."): the whole part is still the number.
        ++i;
    }
    double v = 0;
    const auto [end, ec] = std::from_chars(buf, buf + n, v);
    if (ec != std::errc() || end != buf + n)
        return std::nullopt;
    *pos = i;
    return v;
}

qsizetype skipBlanks(QStringView text, qsizetype i)
{
    while (i < text.size() && text[i].isSpace())
        ++i;
    return i;
}

} // namespace

std::optional<double> leadingNumber(QStringView text)
{
    qsizetype i = skipBlanks(text, 0);
    const std::optional<double> v = readNumber(text, &i);
    if (!v)
        return std::nullopt;
    // The analyser ends a value with "|" and what follows it; anything else after the digits
    // ("12abc", "7.5.1") is no value of ours, and guessing would flag it wrongly.
    i = skipBlanks(text, i);
    if (i < text.size() && text[i] != u'|')
        return std::nullopt;
    return v;
}

std::optional<double> ageInYears(QStringView doc)
{
    qsizetype i = skipBlanks(doc, 0);
    const qsizetype start = i;
    while (i < doc.size() && isDigit(doc[i]))
        ++i;
    if (i == start || i - start > 3)
        return std::nullopt;
    const double n = doc.mid(start, i - start).toString().toDouble();
    QString unit = doc.mid(i).trimmed().toString().toLower();
    if (unit.endsWith(u'.'))
        unit.chop(1);
    static const QStringList years = {QStringLiteral("год"), QStringLiteral("года"), QStringLiteral("лет")};
    static const QStringList months = {QStringLiteral("мес"), QStringLiteral("месяц"), QStringLiteral("месяца"),
                                       QStringLiteral("месяцев")};
    if (years.contains(unit))
        return n;
    if (months.contains(unit))
        return n / 12.0;
    return std::nullopt;
}

Flag flagAt(const ReferenceRanges& ranges, int field, QStringView text, std::optional<double> ageYears)
{
    if (field < 0 || field >= ReferenceRanges::kFieldCount)
        return Flag::None;
    const Limits l = ranges.limitsFor(field, ageYears);
    if (l.empty())
        return Flag::None;
    const std::optional<double> v = leadingNumber(text);
    if (!v)
        return Flag::None;
    if (l.high && *v > *l.high)
        return Flag::High;
    if (l.low && *v < *l.low)
        return Flag::Low;
    return Flag::None;
}

Flag flag(const ReferenceRanges& ranges, const QString& field, QStringView text, QStringView doc)
{
    return flagAt(ranges, ReferenceRanges::indexOf(field), text, ageInYears(doc));
}

QString marker(Flag f)
{
    switch (f) {
    case Flag::High:
        return QStringLiteral("↑");
    case Flag::Low:
        return QStringLiteral("↓");
    case Flag::None:
        break;
    }
    return {};
}

} // namespace reading
