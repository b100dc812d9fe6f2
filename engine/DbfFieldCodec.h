#pragma once
// Field values of dBase records: reading a field's bytes as a value or a text, and writing a
// value into a record. Texts are code page 1251 on disk and QString here; a text that does not
// fit its field, or holds a character without a 1251 byte, is refused, never cut or replaced.
//
//   C  blank-padded text             -> QString (trailing blanks and NULs removed)
//   D  YYYYMMDD                      -> QDate; blank or zeros null, bytes that are no day invalid
//   N  right-aligned ASCII number    -> double; all blanks null
//   F  same as N
//   L  T t Y y / F f N n             -> bool; '?' or blank null
//   M  block number in the memo file -> QString of the memo; blank or 0 null
// A field of any other type reads as its raw text and cannot be written.
#include "engine/DbTypes.h"
#include "engine/DbfFile.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <optional>
#include <variant>

// The same alternatives, in the same order, as the SQL core's value, so the two are one type.
using DbfValue = std::variant<std::monostate, QString, double, QDate, bool>;

namespace dbfcodec {

TFieldType fieldType(const DbfField& field);

bool isNull(const DbfField& field, const char* record);
// The value; memo fields read through memo (null when there is no memo file).
DbfValue value(const DbfField& field, const char* record, const DbfMemo* memo);
// The field as shown: dates in the short date format (bytes that are no date as they stand),
// numbers as written without leading blanks, logicals "True"/"False", empty when null.
QString text(const DbfField& field, const char* record, const DbfMemo* memo);
// The field's own bytes, trailing blanks removed, decoded from 1251.
QString rawText(const DbfField& field, const char* record);
// The same into out, reusing out's memory as cp1251::decode() does.
void rawText(const DbfField& field, const char* record, QString& out);
QDate date(const DbfField& field, const char* record);
// A D field's eight bytes as the number yyyymmdd when they are all digits, whether or not they
// name a calendar day; -1 otherwise (blank, NULs, junk). Ordering rows by date needs no more:
// for digits the number orders as the date does.
int dateDigits(const DbfField& field, const char* record);
double number(const DbfField& field, const char* record);

// Writes value into the field of record (recordLength bytes). Texts given for dates are read
// as month/day/year; for numbers with '.' or ',' as the decimal point; for logicals as T/F,
// Y/N, True/False or 1/0. A memo's bytes are not written here: they are returned in memoBytes
// (nullopt for a null memo) for the caller to store before it calls putMemoBlock().
// Raises EDatabaseError naming the field and the value when the value does not convert or fit.
void put(const DbfField& field, char* record, const DbfValue& value, std::optional<QByteArray>* memoBytes = nullptr);
// As put() for a text typed by a user: dates also in the short date format; an empty text
// makes the field null.
void putText(const DbfField& field, char* record, const QString& text, std::optional<QByteArray>* memoBytes = nullptr);
void putMemoBlock(const DbfField& field, char* record, std::uint32_t block);
void putNull(const DbfField& field, char* record);

} // namespace dbfcodec
