#include "platform/durable/DurableIo.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <stdio.h>  // renameat2
#include <unistd.h>

namespace durable {

namespace {

std::mutex observerMutex;
std::shared_ptr<Observer> currentObserver;

// 0 to go ahead; otherwise the errno the call fails with. writeAtMost, when given, receives the
// observer's cap on each system write (0: none).
int observe(Op op, const QString& path, const QString& target = {}, qint64 size = 0,
            qint64* writeAtMost = nullptr)
{
    std::shared_ptr<Observer> observer;
    {
        std::lock_guard<std::mutex> lock(observerMutex);
        observer = currentObserver;
    }
    if (!observer)
        return 0;
    Call call{op, path, target, size};
    const int err = (*observer)(call);
    if (writeAtMost)
        *writeAtMost = call.writeAtMost;
    return err;
}

// The bytes one system write is asked for: the rest, or less when an observer caps it.
size_t portion(qint64 left, qint64 writeAtMost)
{
    return size_t(writeAtMost > 0 ? std::min(left, writeAtMost) : left);
}

bool refuse(int err)
{
    errno = err;
    return false;
}

} // namespace

ScopedObserver::ScopedObserver(Observer observer)
{
    std::lock_guard<std::mutex> lock(observerMutex);
    currentObserver = std::make_shared<Observer>(std::move(observer));
}

ScopedObserver::~ScopedObserver()
{
    std::lock_guard<std::mutex> lock(observerMutex);
    currentObserver.reset();
}

int openForWrite(const QString& path, int flags, mode_t mode)
{
    if (const int err = observe(Op::Create, path)) {
        errno = err;
        return -1;
    }
    for (;;) {
        const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EINTR)
            return fd;
    }
}

bool writeAll(int fd, const QString& path, const char* data, qint64 size)
{
    qint64 cap = 0;
    if (const int err = observe(Op::Write, path, {}, size, &cap))
        return refuse(err);
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, portion(size - done, cap));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return refuse(n == 0 ? EIO : errno);
        done += n;
    }
    return true;
}

bool pwriteAll(int fd, const QString& path, const char* data, qint64 size, qint64 offset)
{
    qint64 cap = 0;
    if (const int err = observe(Op::Write, path, {}, size, &cap))
        return refuse(err);
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, portion(size - done, cap), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return refuse(n == 0 ? EIO : errno);
        done += n;
    }
    return true;
}

bool sync(int fd, const QString& path, bool dataOnly)
{
    if (const int err = observe(Op::Sync, path))
        return refuse(err);
    return (dataOnly ? ::fdatasync(fd) : ::fsync(fd)) == 0;
}

bool rename(const QString& from, const QString& to, bool noReplace)
{
    if (const int err = observe(Op::Rename, from, to))
        return refuse(err);
    const QByteArray a = QFile::encodeName(from);
    const QByteArray b = QFile::encodeName(to);
    if (noReplace)
        return ::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE) == 0;
    return ::rename(a.constData(), b.constData()) == 0;
}

bool syncFolder(const QString& folder)
{
    if (const int err = observe(Op::SyncFolder, folder))
        return refuse(err);
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    errno = err;
    return ok;
}

bool remove(const QString& path)
{
    if (const int err = observe(Op::Remove, path))
        return refuse(err);
    return ::unlink(QFile::encodeName(path).constData()) == 0;
}

int replaceWhole(const QString& path, const QByteArray& bytes)
{
    static std::atomic<unsigned> counter{0};
    const QFileInfo target(path);
    QString part;
    int fd = -1;
    // A name left by an earlier write that died is passed over, not reused.
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        part = QStringLiteral("%1/.%2.%3-%4.part")
                   .arg(target.absolutePath(), target.fileName())
                   .arg(::getpid())
                   .arg(counter.fetch_add(1));
        fd = openForWrite(part, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC);
        if (fd < 0 && errno != EEXIST)
            return errno;
    }
    if (fd < 0)
        return EEXIST;
    bool ok = writeAll(fd, part, bytes.constData(), bytes.size()) && sync(fd, part);
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && !rename(part, target.absoluteFilePath())) {
        ok = false;
        err = errno;
    }
    if (!ok)
        remove(part);
    return ok ? 0 : err;
}

const char* name(Op op)
{
    switch (op) {
    case Op::Create: return "create";
    case Op::Write: return "write";
    case Op::Sync: return "sync";
    case Op::Rename: return "rename";
    case Op::SyncFolder: return "sync folder";
    case Op::Remove: return "remove";
    }
    return "?";
}

} // namespace durable
