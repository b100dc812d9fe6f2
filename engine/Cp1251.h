#pragma once
// Windows code page 1251 (Cyrillic), the code page of every text in our table files. Texts are
// QString inside the program and CP1251 bytes on disk; conversion happens only at the file
// boundary, through this unit.
//
// Decoding is total: every byte has a character (0x98, unassigned in CP1251, decodes to U+0098
// as Windows does), so reading never loses a byte and encode(decode(b)) == b for every b.
// Encoding refuses a character without a CP1251 byte instead of replacing it.
#include <QByteArray>
#include <QString>

namespace cp1251 {

// The character of one byte.
QChar toChar(unsigned char byte);
// The byte of one character, or -1 when CP1251 has none.
int toByte(QChar c);

QString decode(const char* data, qsizetype size);
// The same into out, in out's own memory when nothing else shares it and it is large enough:
// a caller that decodes text after text into one string allocates only now and then.
void decode(const char* data, qsizetype size, QString& out);
inline QString decode(const QByteArray& bytes) { return decode(bytes.constData(), bytes.size()); }

// Encodes text into out (replacing its content). On a character without a CP1251 byte returns
// false and, when badIndex is given, sets it to the character's position in text.
bool encode(const QString& text, QByteArray& out, qsizetype* badIndex = nullptr);

// The first character of text that has no CP1251 byte, or -1 when every character has one.
qsizetype firstUnencodable(const QString& text);

// How a message names the character that starts at text[at]: itself in quotes and its code,
// "'é' (U+00E9)". A character outside the first 65,536 is one character made of two
// code units, named whole ("U+1F600"); a lone half of such a pair can only be named by its code.
QString describeCharacter(const QString& text, qsizetype at);

} // namespace cp1251
