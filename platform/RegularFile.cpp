#include "platform/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace regularfile {

namespace {

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("an entry of another kind");
}

} // namespace

Read readWhole(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* error)
{
    bytes->clear();
    const QByteArray name = QFile::encodeName(path);
    auto refuse = [&](Read why, const QString& text) {
        bytes->clear();
        *error = text;
        return why;
    };
    // Looked at before opening: opening some devices does something (a serial line raises its
    // control lines), and nothing here needs to open what it will not read.
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        const int err = errno;
        struct stat link {};
        if (err == ENOENT && ::lstat(name.constData(), &link) == 0)
            return refuse(Read::NotRegular, QStringLiteral("%1 is a link to nothing").arg(path));
        if (err == ENOENT)
            return refuse(Read::Missing, QStringLiteral("%1 does not exist").arg(path));
        return refuse(Read::Failed, QStringLiteral("%1 cannot be opened: %2").arg(path, errnoText(err)));
    }
    if (!S_ISREG(st.st_mode))
        return refuse(Read::NotRegular, QStringLiteral("%1 is %2, not a file").arg(path, kindOf(st.st_mode)));

    // Non-blocking: what was a file a moment ago may be a pipe by now, and opening a pipe for
    // reading would wait for a writer. No terminal may become ours by being opened.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int err = errno;
        return refuse(err == ENOENT ? Read::Missing : Read::Failed,
                      QStringLiteral("%1 cannot be opened: %2").arg(path, errnoText(err)));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::fstat(fd, &st) != 0)
        return refuse(Read::Failed, QStringLiteral("%1 cannot be read: %2").arg(path, errnoText(errno)));
    if (!S_ISREG(st.st_mode))
        return refuse(Read::NotRegular, QStringLiteral("%1 is %2, not a file").arg(path, kindOf(st.st_mode)));
    auto tooLarge = [&] {
        return refuse(Read::TooLarge,
                      QStringLiteral("%1 is larger than %2 bytes, more than such a file ever holds").arg(path).arg(maxBytes));
    };
    if (st.st_size > maxBytes)
        return tooLarge();

    // The size is a hint only (the file may grow while read): read to the end, never past the bound.
    bytes->reserve(qsizetype(st.st_size));
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refuse(Read::Failed, QStringLiteral("%1 cannot be read: %2").arg(path, errnoText(errno)));
        if (n == 0)
            return Read::Done;
        if (bytes->size() + n > maxBytes)
            return tooLarge();
        bytes->append(chunk, qsizetype(n));
    }
}

} // namespace regularfile
