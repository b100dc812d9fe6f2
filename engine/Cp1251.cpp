#include "engine/Cp1251.h"

#include <array>

namespace cp1251 {
namespace {

// Characters of bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
constexpr std::array<char16_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98 (0x98 unassigned)
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
};

constexpr char16_t charOf(unsigned byte)
{
    if (byte < 0x80)
        return char16_t(byte);
    if (byte >= 0xC0)
        return char16_t(0x0410 + (byte - 0xC0));
    return kHigh[byte - 0x80];
}

// Every byte's character, for decoding long texts without a branch per byte.
constexpr std::array<char16_t, 256> kChars = [] {
    std::array<char16_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b)
        t[b] = charOf(b);
    return t;
}();

} // namespace

QChar toChar(unsigned char byte)
{
    return QChar(kChars[byte]);
}

int toByte(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80)
        return u;
    if (u >= 0x0410 && u <= 0x044F)
        return 0xC0 + (u - 0x0410);
    for (int i = 0; i < 64; ++i)
        if (kHigh[size_t(i)] == u)
            return 0x80 + i;
    return -1;
}

QString decode(const char* data, qsizetype size)
{
    QString s(size, Qt::Uninitialized);
    auto* out = reinterpret_cast<char16_t*>(s.data());
    const auto* in = reinterpret_cast<const unsigned char*>(data);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = kChars[in[i]];
    return s;
}

void decode(const char* data, qsizetype size, QString& out)
{
    if (!out.isDetached())
        out = QString(size, Qt::Uninitialized); // resizing would copy what is about to be replaced
    else if (out.size() != size)
        out.resize(size);
    auto* to = reinterpret_cast<char16_t*>(out.data());
    const auto* in = reinterpret_cast<const unsigned char*>(data);
    for (qsizetype i = 0; i < size; ++i)
        to[i] = kChars[in[i]];
}

bool encode(const QString& text, QByteArray& out, qsizetype* badIndex)
{
    out.resize(text.size());
    char* p = out.data();
    const QChar* in = text.constData();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int b = toByte(in[i]);
        if (b < 0) {
            if (badIndex)
                *badIndex = i;
            out.clear();
            return false;
        }
        p[i] = static_cast<char>(b);
    }
    return true;
}

qsizetype firstUnencodable(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if (toByte(text[i]) < 0)
            return i;
    return -1;
}

QString describeCharacter(const QString& text, qsizetype at)
{
    if (at < 0 || at >= text.size())
        return {};
    char32_t code = text[at].unicode();
    qsizetype units = 1;
    if (QChar::isHighSurrogate(code) && at + 1 < text.size() && text[at + 1].isLowSurrogate()) {
        code = QChar::surrogateToUcs4(text[at], text[at + 1]);
        units = 2;
    }
    const QString number = QStringLiteral("U+%1").arg(uint(code), 4, 16, QLatin1Char('0')).toUpper();
    // A lone surrogate or a control character shows as nothing a reader could see.
    const bool visible = !QChar::isSurrogate(code) && QChar::isPrint(code);
    if (!visible)
        return number;
    return QStringLiteral("'%1' (%2)").arg(text.mid(at, units), number);
}

} // namespace cp1251
