#pragma once
// The one road of the program's durable writes: the capture files and the result table's
// records go to disk through these calls (create, write, sync, rename, folder sync, remove),
// each a thin wrapper over the system call of the same purpose.
//
// Crash safety rests on the order of those calls, which no ordinary test can see; so, as a
// file system layer does for a database, this unit lets a test watch every call before it
// happens and make any one of them fail. Without an observer the calls go straight through.
//
// Knows: POSIX file calls. Must not know: what the bytes mean, tables, messages, windows.
// Untrusted: nothing; callers pass their own paths and bytes.
#include <QByteArray>
#include <QString>

#include <functional>
#include <sys/types.h>

namespace durable {

enum class Op { Create, Write, Sync, Rename, SyncFolder, Remove };

// One call as an observer sees it. path is the file (or folder) acted on; target the new name
// of a rename; size the bytes of a write.
struct Call {
    Op op;
    QString path;
    QString target;
    qint64 size = 0;
    // Set by the observer of a write to let each system write of this call take at most this
    // many bytes, as a short write does (a signal, a full disk, a quota); 0 leaves it alone.
    qint64 writeAtMost = 0;
};

// Called before each call is carried out, on the thread that makes it. Returning 0 lets the
// call go ahead; returning an errno value makes it fail with that value without touching disk.
// The observer may shorten a write's system writes through writeAtMost.
using Observer = std::function<int(Call&)>;

// Installs observer for the whole process until the guard ends. One at a time.
class ScopedObserver {
public:
    explicit ScopedObserver(Observer observer);
    ~ScopedObserver();
    ScopedObserver(const ScopedObserver&) = delete;
    ScopedObserver& operator=(const ScopedObserver&) = delete;
};

// Each returns false (or -1) with errno set when it fails; none retries beyond EINTR.

// Opens path for writing with flags (O_CREAT, O_EXCL, ... ; O_WRONLY or O_RDWR included).
int openForWrite(const QString& path, int flags, mode_t mode = 0644);
// Writes every byte at the descriptor's position.
bool writeAll(int fd, const QString& path, const char* data, qint64 size);
// Writes every byte at offset.
bool pwriteAll(int fd, const QString& path, const char* data, qint64 size, qint64 offset);
// Flushes the file's data (and, unless dataOnly, its metadata) to disk.
bool sync(int fd, const QString& path, bool dataOnly = false);
// Renames from over to; with noReplace, fails with EEXIST when to exists.
bool rename(const QString& from, const QString& to, bool noReplace = false);
// Flushes a folder, so that names created, renamed or removed in it survive a crash.
bool syncFolder(const QString& folder);
// Removes a file.
bool remove(const QString& path);

// Puts bytes under path whole: into a new file beside it (a hidden name of its own), synced, then
// renamed over it, so the name holds the older file or the whole new one, never a part. The folder
// is not synced: a rename lost in a crash leaves the older file, as if nothing had been written.
// Returns 0, or the errno of the step that failed, with nothing left beside the path.
int replaceWhole(const QString& path, const QByteArray& bytes);

// Names of the operations, for test messages.
const char* name(Op op);

} // namespace durable
