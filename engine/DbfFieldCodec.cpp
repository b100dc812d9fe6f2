#include "engine/DbfFieldCodec.h"

#include "engine/Cp1251.h"
#include "engine/DateFormat.h"
#include "engine/DbfMemo.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace dbfcodec {
namespace {

bool blankByte(char c) { return c == ' ' || c == '\0'; }

// The field's bytes without trailing blanks and NULs. Wide text fields are mostly padding and
// every text read trims, so many bytes are looked at together: a byte is a blank or a NUL
// exactly when OR-ing 0x20 into it leaves 0x20.
int trimmedLength(const char* p, int length)
{
#ifdef __SSE2__
    const __m128i blanks = _mm_set1_epi8(0x20);
    while (length >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + length - 16));
        const int padding = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(bytes, blanks), blanks));
        if (padding != 0xFFFF) // bit i clear: byte i is text; the highest such bit is the last
            return length - 16 + (31 - std::countl_zero(std::uint32_t(~padding & 0xFFFF))) + 1;
        length -= 16;
    }
#endif
    constexpr std::uint64_t kBlanks = 0x2020202020202020ULL, kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    while (length >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p + length - 8, sizeof word);
        if (const std::uint64_t text = (word | kBlanks) ^ kBlanks; text != 0) {
            // The top bit of each byte that is text; the last such byte in memory is found from
            // the highest (little-endian) or the lowest (big-endian) of them.
            const std::uint64_t marks = (((text & kLow7) + kLow7) | text) & ~kLow7;
            const int last = std::endian::native == std::endian::little ? 7 - std::countl_zero(marks) / 8
                                                                         : 7 - std::countr_zero(marks) / 8;
            return length - 8 + last + 1;
        }
        length -= 8;
    }
    while (length > 0 && blankByte(p[length - 1]))
        --length;
    return length;
}

bool allBlank(const char* p, int length)
{
    return trimmedLength(p, length) == 0;
}

QString shown(const QString& text)
{
    if (text.size() <= 60)
        return text;
    // Never cut between the two halves of one character.
    const qsizetype keep = text[56].isHighSurrogate() ? 56 : 57;
    return text.left(keep) + QStringLiteral("...");
}

[[noreturn]] void refuse(const DbfField& field, const QString& value, const QString& why)
{
    throw EDatabaseError(QStringLiteral("Value '%1' for field '%2' %3").arg(shown(value), field.name, why));
}

QByteArray toBytes(const DbfField& field, const QString& text)
{
    QByteArray out;
    qsizetype bad = -1;
    if (!cp1251::encode(text, out, &bad))
        refuse(field, text, QStringLiteral("holds the character %1, which code page 1251 cannot store")
                                .arg(cp1251::describeCharacter(text, bad)));
    return out;
}

std::optional<double> parseNumber(QString text)
{
    text = text.trimmed();
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    if (text.startsWith(QLatin1Char('+')))
        text.remove(0, 1);
    const QByteArray a = text.toLatin1();
    if (a.isEmpty() || a.size() > 64)
        return std::nullopt;
    for (char c : a)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'e' || c == 'E'))
            return std::nullopt;
    double v = 0;
    const auto [end, ec] = std::from_chars(a.constData(), a.constData() + a.size(), v);
    if (ec != std::errc() || end != a.constData() + a.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

void putNumber(const DbfField& field, char* record, double v, const QString& original)
{
    const int decimals = std::clamp(field.decimals, 0, 15);
    QString s = QString::number(v, 'f', decimals);
    bool allZero = true;
    for (QChar c : s)
        if (c != QLatin1Char('-') && c != QLatin1Char('0') && c != QLatin1Char('.'))
            allZero = false;
    if (allZero && s.startsWith(QLatin1Char('-')))
        s.remove(0, 1);
    if (s.size() > field.length)
        refuse(field, original, QStringLiteral("does not fit in %1 characters with %2 decimals").arg(field.length).arg(decimals));
    const QByteArray a = s.toLatin1();
    char* p = record + field.offset;
    std::memset(p, ' ', size_t(field.length));
    std::memcpy(p + field.length - a.size(), a.constData(), size_t(a.size()));
}

void putDate(const DbfField& field, char* record, const QDate& d, const QString& original)
{
    if (!d.isValid() || d.year() < 1 || d.year() > 9999)
        refuse(field, original, QStringLiteral("is not a valid date"));
    const QByteArray a = QStringLiteral("%1%2%3")
                             .arg(d.year(), 4, 10, QLatin1Char('0'))
                             .arg(d.month(), 2, 10, QLatin1Char('0'))
                             .arg(d.day(), 2, 10, QLatin1Char('0'))
                             .toLatin1();
    std::memcpy(record + field.offset, a.constData(), 8);
}

void putString(const DbfField& field, char* record, const QString& text)
{
    const QByteArray bytes = toBytes(field, text);
    if (bytes.size() > field.length)
        refuse(field, text, QStringLiteral("is too long: %1 characters, the field holds %2").arg(text.size()).arg(field.length));
    char* p = record + field.offset;
    std::memset(p, ' ', size_t(field.length));
    std::memcpy(p, bytes.constData(), size_t(bytes.size()));
}

std::optional<bool> parseLogical(const QString& text)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("t") || t == QLatin1String("y") || t == QLatin1String("true") || t == QLatin1String("yes") || t == QLatin1String("1"))
        return true;
    if (t == QLatin1String("f") || t == QLatin1String("n") || t == QLatin1String("false") || t == QLatin1String("no") || t == QLatin1String("0"))
        return false;
    return std::nullopt;
}

QString valueText(const DbfValue& v)
{
    if (const auto* s = std::get_if<QString>(&v))
        return *s;
    if (const auto* d = std::get_if<double>(&v))
        return QString::number(*d, 'g', 15);
    if (const auto* d = std::get_if<QDate>(&v))
        return d->toString(Qt::ISODate);
    if (const auto* b = std::get_if<bool>(&v))
        return *b ? QStringLiteral("T") : QStringLiteral("F");
    return {};
}

void checkWritableType(const DbfField& field)
{
    switch (field.type) {
    case 'C': case 'D': case 'N': case 'F': case 'L': case 'M':
        return;
    default:
        throw EDatabaseError(QStringLiteral("Field '%1' of type '%2' cannot be written").arg(field.name, QString(QLatin1Char(field.type))));
    }
}

} // namespace

TFieldType fieldType(const DbfField& field)
{
    switch (field.type) {
    case 'D': return TFieldType::Date;
    case 'N': case 'F': return field.decimals == 0 && field.length <= 9 ? TFieldType::Integer : TFieldType::Float;
    case 'L': return TFieldType::Boolean;
    case 'M': return TFieldType::Memo;
    default: return TFieldType::String;
    }
}

QString rawText(const DbfField& field, const char* record)
{
    const char* p = record + field.offset;
    return cp1251::decode(p, trimmedLength(p, field.length));
}

void rawText(const DbfField& field, const char* record, QString& out)
{
    const char* p = record + field.offset;
    cp1251::decode(p, trimmedLength(p, field.length), out);
}

static std::uint32_t memoBlock(const DbfField& field, const char* record)
{
    const auto* p = reinterpret_cast<const unsigned char*>(record + field.offset);
    if (field.length == 4)
        return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
    int from = 0;
    int to = field.length;
    while (from < to && blankByte(char(p[from])))
        ++from;
    while (to > from && blankByte(char(p[to - 1])))
        --to;
    std::uint64_t block = 0;
    for (int i = from; i < to; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return 0; // not a block number: no memo
        block = block * 10 + std::uint64_t(p[i] - '0');
        if (block > 0xFFFFFFFFULL)
            return 0;
    }
    return std::uint32_t(block);
}

bool isNull(const DbfField& field, const char* record)
{
    const char* p = record + field.offset;
    switch (field.type) {
    case 'D':
        return allBlank(p, 8) || std::memcmp(p, "00000000", 8) == 0;
    case 'L':
        return *p == ' ' || *p == '?' || *p == '\0';
    case 'M':
        return memoBlock(field, record) == 0;
    default:
        return allBlank(p, field.length);
    }
}

QDate date(const DbfField& field, const char* record)
{
    if (field.type != 'D' || isNull(field, record))
        return {};
    const char* p = record + field.offset;
    int n[8];
    for (int i = 0; i < 8; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return {};
        n[i] = p[i] - '0';
    }
    return QDate(n[0] * 1000 + n[1] * 100 + n[2] * 10 + n[3], n[4] * 10 + n[5], n[6] * 10 + n[7]);
}

int dateDigits(const DbfField& field, const char* record)
{
    const char* p = record + field.offset;
    if constexpr (std::endian::native == std::endian::little) {
        // All eight bytes at once, as a scan asks this of every record: each byte is a digit when
        // its high half is 3 both before and after adding 6 ('9' + 6 is 0x3F, ':' + 6 is 0x40).
        constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL, kDigitHigh = 0x3030303030303030ULL;
        std::uint64_t v;
        std::memcpy(&v, p, sizeof v);
        if ((v & kHigh) != kDigitHigh || ((v + 0x0606060606060606ULL) & kHigh) != kDigitHigh)
            return -1;
        // Pairs, then fours, then all eight digits, the first byte being the most significant.
        v = ((v & 0x0F0F0F0F0F0F0F0FULL) * (10 * 256 + 1)) >> 8;
        v = ((v & 0x00FF00FF00FF00FFULL) * (100 * 65536 + 1)) >> 16;
        return int(((v & 0x0000FFFF0000FFFFULL) * (10000ULL * (1ULL << 32) + 1)) >> 32);
    }
    int n = 0;
    for (int i = 0; i < 8; ++i) {
        const unsigned digit = static_cast<unsigned char>(p[i]) - unsigned('0');
        if (digit > 9)
            return -1;
        n = n * 10 + int(digit);
    }
    return n;
}

double number(const DbfField& field, const char* record)
{
    if (isNull(field, record))
        return 0;
    const char* p = record + field.offset;
    int from = 0;
    int to = field.length;
    while (from < to && blankByte(p[from]))
        ++from;
    while (to > from && blankByte(p[to - 1]))
        --to;
    char buf[40];
    int n = 0;
    for (int i = from; i < to && n < int(sizeof buf); ++i)
        buf[n++] = p[i] == ',' ? '.' : p[i];
    const char* start = buf;
    if (n > 0 && buf[0] == '+')
        ++start;
    double v = 0;
    const auto [end, ec] = std::from_chars(start, buf + n, v);
    if (ec != std::errc() || end != buf + n || !std::isfinite(v))
        return 0; // overflow stars or junk
    return v;
}

DbfValue value(const DbfField& field, const char* record, const DbfMemo* memo)
{
    switch (field.type) {
    case 'D':
        // Bytes that are no calendar day give an invalid QDate, which no condition matches.
        if (isNull(field, record))
            return std::monostate{};
        return date(field, record);
    case 'N': case 'F': {
        if (isNull(field, record))
            return std::monostate{};
        return number(field, record);
    }
    case 'L': {
        const char c = record[field.offset];
        if (c == 'T' || c == 't' || c == 'Y' || c == 'y')
            return true;
        if (c == 'F' || c == 'f' || c == 'N' || c == 'n')
            return false;
        return std::monostate{};
    }
    case 'M': {
        const std::uint32_t block = memoBlock(field, record);
        if (block == 0 || !memo)
            return std::monostate{};
        return cp1251::decode(memo->read(block));
    }
    default:
        return rawText(field, record);
    }
}

QString text(const DbfField& field, const char* record, const DbfMemo* memo)
{
    switch (field.type) {
    case 'D': {
        if (isNull(field, record))
            return {};
        const QDate d = date(field, record);
        return d.isValid() ? datefmt::formatShortDate(d) : rawText(field, record).trimmed();
    }
    case 'N': case 'F':
        return rawText(field, record).trimmed();
    case 'L': {
        const DbfValue v = value(field, record, memo);
        if (const auto* b = std::get_if<bool>(&v))
            return *b ? QStringLiteral("True") : QStringLiteral("False");
        return {};
    }
    case 'M': {
        const DbfValue v = value(field, record, memo);
        if (const auto* s = std::get_if<QString>(&v))
            return *s;
        return {};
    }
    default:
        return rawText(field, record);
    }
}

void putNull(const DbfField& field, char* record)
{
    std::memset(record + field.offset, ' ', size_t(field.length));
}

void putMemoBlock(const DbfField& field, char* record, std::uint32_t block)
{
    char* p = record + field.offset;
    if (field.length == 4) {
        for (int i = 0; i < 4; ++i)
            p[i] = char((block >> (8 * i)) & 0xFF);
        return;
    }
    std::memset(p, ' ', size_t(field.length));
    if (block == 0)
        return;
    const QByteArray digits = QByteArray::number(block);
    if (digits.size() > field.length)
        throw EDatabaseError(QStringLiteral("Memo block %1 does not fit field '%2'").arg(block).arg(field.name));
    std::memcpy(p + field.length - digits.size(), digits.constData(), size_t(digits.size()));
}

void put(const DbfField& field, char* record, const DbfValue& v, std::optional<QByteArray>* memoBytes)
{
    checkWritableType(field);
    if (std::holds_alternative<std::monostate>(v)) {
        putNull(field, record);
        if (memoBytes)
            memoBytes->reset();
        return;
    }
    const QString original = valueText(v);
    switch (field.type) {
    case 'C':
        putString(field, record, original);
        return;
    case 'D': {
        if (const auto* d = std::get_if<QDate>(&v))
            return putDate(field, record, *d, original);
        if (const auto* s = std::get_if<QString>(&v)) {
            if (s->trimmed().isEmpty())
                return putNull(field, record);
            QDate d = datefmt::parseMonthDayYear(*s);
            if (!d.isValid())
                d = QDate::fromString(s->trimmed(), Qt::ISODate);
            return putDate(field, record, d, original);
        }
        refuse(field, original, QStringLiteral("is not a date"));
    }
    case 'N': case 'F': {
        if (const auto* d = std::get_if<double>(&v))
            return putNumber(field, record, *d, original);
        if (const auto* s = std::get_if<QString>(&v)) {
            if (s->trimmed().isEmpty())
                return putNull(field, record);
            const auto n = parseNumber(*s);
            if (!n)
                refuse(field, original, QStringLiteral("is not a number"));
            return putNumber(field, record, *n, original);
        }
        if (const auto* b = std::get_if<bool>(&v))
            return putNumber(field, record, *b ? 1 : 0, original);
        refuse(field, original, QStringLiteral("is not a number"));
    }
    case 'L': {
        std::optional<bool> b;
        if (const auto* x = std::get_if<bool>(&v))
            b = *x;
        else if (const auto* s = std::get_if<QString>(&v)) {
            if (s->trimmed().isEmpty())
                return putNull(field, record);
            b = parseLogical(*s);
        } else if (const auto* d = std::get_if<double>(&v))
            b = *d != 0;
        if (!b)
            refuse(field, original, QStringLiteral("is not a logical value (T or F)"));
        record[field.offset] = *b ? 'T' : 'F';
        return;
    }
    case 'M': {
        if (!memoBytes)
            throw EDatabaseError(QStringLiteral("Field '%1': memo values cannot be written here").arg(field.name));
        QByteArray bytes = toBytes(field, original);
        if (bytes.isEmpty()) {
            memoBytes->reset();
            putNull(field, record);
        } else {
            *memoBytes = std::move(bytes);
        }
        return;
    }
    default:
        break;
    }
}

void putText(const DbfField& field, char* record, const QString& text, std::optional<QByteArray>* memoBytes)
{
    checkWritableType(field);
    if (field.type == 'C' || field.type == 'M')
        return put(field, record, text, memoBytes);
    if (text.trimmed().isEmpty()) {
        putNull(field, record);
        return;
    }
    if (field.type == 'D')
        return putDate(field, record, datefmt::parseUserDate(text), text);
    put(field, record, text, memoBytes);
}

} // namespace dbfcodec
