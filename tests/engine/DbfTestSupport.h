#pragma once
// Helpers for the dBase tests: tables made in a temporary folder and raw header edits.
#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <vector>

namespace dbftest {

// A table with one field of each type: NAME C 20, BORN D, AGE N 3, RATE N 6.2, RATIO F 8.3,
// OK L, NOTE M.
std::vector<DbfFieldSpec> everyType();
// A table of plain character fields: ID C 10, TEXT C 30.
std::vector<DbfFieldSpec> simple();

// Appends a row of the simple table.
void appendSimple(DbfFile& file, const QString& id, const QString& text);
// The ID values of the live rows in file order.
QStringList liveIds(DbfFile& file);

// Bytes of the file; rewrites it.
QByteArray bytesOf(const QString& path);
void setBytes(const QString& path, const QByteArray& bytes);
// Sets a little-endian value in the header.
void patch32(const QString& path, int offset, quint32 value);
void patch16(const QString& path, int offset, quint16 value);
void patch8(const QString& path, int offset, quint8 value);

} // namespace dbftest
