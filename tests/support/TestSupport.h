#pragma once
// Helpers shared by the test programs.
#include <QByteArray>
#include <QString>

#include <functional>

namespace testsupport {

// Folder of the source tree and of the built programs (hematix, hematix-*).
inline QString sourceDir() { return QStringLiteral(HEMATIX_SOURCE_DIR); }
inline QString binDir() { return QStringLiteral(HEMATIX_BIN_DIR); }

// Whole content of a file, or an empty array when it cannot be read.
QByteArray readFile(const QString& path);
// Writes the bytes, replacing the file; false when it cannot.
bool writeFile(const QString& path, const QByteArray& bytes);

// Runs call on a thread of its own with a named pipe at fifo that nobody writes; true when it
// returned by itself. A call that waits on the pipe is let go by opening the pipe's other end, so
// the test fails instead of hanging.
bool returnsWithoutAWriter(const QString& fifo, const std::function<void()>& call);

// Starts this test program again on one test (DISABLED_ tests included) with the extra
// environment entries (NAME=value); its output goes nowhere, its errors are appended to log.
// Returns its process id, -1 when it cannot start.
int spawnChildTest(const QString& test, const QStringList& environment, const QString& log);
// Kills it with SIGKILL and waits for it.
void killAndReap(int pid);

} // namespace testsupport
