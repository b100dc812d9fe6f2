#pragma once
// Helpers shared by the test programs.
#include <QByteArray>
#include <QString>

namespace testsupport {

// Folder of the source tree and of the built programs (hematix, hematix-*).
inline QString sourceDir() { return QStringLiteral(HEMATIX_SOURCE_DIR); }
inline QString binDir() { return QStringLiteral(HEMATIX_BIN_DIR); }

// Whole content of a file, or an empty array when it cannot be read.
QByteArray readFile(const QString& path);
// Writes the bytes, replacing the file; false when it cannot.
bool writeFile(const QString& path, const QByteArray& bytes);

} // namespace testsupport
