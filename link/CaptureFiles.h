#pragma once
// The capture files: the one hand-over between the reader thread, which writes one file per
// received message, and the import on the main thread, which reads them and takes them away.
//
// Names in the folder Temp of the program folder:
//   Temp.log          the message written when no other capture file was waiting;
//   Temp-NNNNNNNN.log a message that arrived while another was still waiting; NNNNNNNN only grows;
//   rejected/         messages that cannot be imported, each beside a text file saying why;
//   imported/         messages already stored, waiting to be removed while the import is idle.
// Order of arrival is Temp.log first, then the numbered files by number.
//
// Knows: the folder Temp, its names and their order, and the order of a capture's writes and
// syncs (through platform/durable/DurableIo). Must not know: what a message's bytes mean, the
// line protocol, the result table. Untrusted: the folder's entries (any name, any kind: a number
// too long to be ours is not ours); message bytes pass through unread.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace capture {

// programFolder ends with a path separator; the result does too.
QString tempFolder(const QString& programFolder);
QString rejectedFolder(const QString& programFolder);
QString importedFolder(const QString& programFolder);

// Full paths of the capture files waiting in the folder Temp, in order of arrival.
QStringList waitingFiles(const QString& programFolder);

// Writes bytes to path whole: into a temporary file beside it, flushed to disk, then renamed
// over path, so that nobody ever sees a half-written file. False with a reason on failure, and
// then nothing is left behind.
bool writeWhole(const QString& path, const QByteArray& bytes, QString* error);

// Keeps bytes in the folder rejected/ under a new name made from baseName, with a text file
// "<name>.error.txt" beside it holding reason. Returns the path of the kept file, or an empty
// text with error set. Safe to call from both threads at once: names are claimed exclusively.
QString keepRejected(const QString& programFolder, const QString& baseName,
                     const QByteArray& bytes, const QString& reason, QString* error);

// Moves an existing file into rejected/ with its reason beside it; same naming as keepRejected.
// Its times file, if any, is removed: the archive has them.
QString moveToRejected(const QString& programFolder, const QString& path, const QString& reason,
                       QString* error);

// Takes a capture file whose message is stored out of the waiting files, into imported/ (its
// times file is removed). A rename
// costs next to nothing, while freeing a file's blocks can cost more than the row's own syncs;
// so the removal proper waits for removeImported. Nothing needs syncing: should a crash undo
// the rename, the file waits again and the store knows its row. False when it cannot be moved
// (imported/ missing among others: the caller makes the folder).
bool setImported(const QString& programFolder, const QString& path);
// Removes what setImported moved aside; returns how many files could not be removed.
int removeImported(const QString& programFolder);

// The times of a capture file (when its ENQ and terminator arrived), beside it under the same
// name with ".times" added: one JSON object {"enq":…,"end":…,"sha256":<hex of the capture's
// bytes>}, the hash tying them to the capture they belong to (Temp.log's name comes again).
QString timesFile(const QString& capturePath);
QByteArray timesText(const QDateTime& enq, const QDateTime& end, const QByteArray& bytes);
// The times of a capture read from beside it; false (both invalid) when missing, not a regular
// file, garbled or of another capture.
bool readTimes(const QString& capturePath, const QByteArray& bytes, QDateTime* enq, QDateTime* end);

// Writer side, used only on the reader thread.
//
// Where a message goes is decided by looking at the folder: when no capture file is waiting the
// message becomes Temp.log, otherwise the next numbered file. The rename is the hand-over, and
// the import only ever removes files, so the decision cannot go wrong in a way that loses or
// reorders a message:
//  - If the import removes Temp.log (or a numbered file) just after we saw it, we still write a
//    numbered file; the import finds it at its next pass, after everything older.
//  - We write Temp.log only when nothing at all was waiting; the import never creates files, so
//    nothing older can appear before our rename, and the one file it finds is ours.
//  - Temp.log is taken only when no numbered file waits, so a new Temp.log can never jump ahead
//    of numbered files still waiting.
// Numbers continue after the highest one present, including files left by an earlier run, and
// never go back within a run even when the folder empties.
// On construction it removes the temporary files of writers that died before their rename.
class CaptureWriter {
public:
    explicit CaptureWriter(QString programFolder);

    // Writes one message; returns the path it now has, or an empty text with error set. With
    // times, the message's times go beside it first (timesFile), unsynced: the capture's folder
    // sync carries their name, and times a crash garbled only read as unknown.
    QString write(const QByteArray& bytes, QString* error, const QByteArray& times = {});

private:
    QString programFolder_;
    std::uint64_t nextNumber_ = 1;
};

} // namespace capture
