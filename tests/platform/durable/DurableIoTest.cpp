// The durable layer's own writes. The capture files and the result table's records reach the disk
// through it; tests watch them through its observer.
#include "platform/durable/DurableIo.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using testsupport::readFile;

namespace {

// A system write may take fewer bytes than asked (a signal, a full disk, a quota). writeAll and
// pwriteAll go on from where it stopped, so the file holds exactly the bytes asked for, in order
// and in their place.
TEST(DurableIo, ShortWritesStillPutEveryByteInItsPlace)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // No two neighbouring runs alike, so that a byte written twice or skipped shows.
    QByteArray bytes;
    for (int i = 0; i < 1000; ++i)
        bytes.append(static_cast<char>(i * 7 % 251));
    const qint64 size = bytes.size();
    // Already in the file; the bytes go after it.
    const QByteArray before = "0123456789";

    struct Case {
        const char* name;
        bool positioned;  // pwriteAll at an offset; otherwise writeAll at the descriptor's place
        qint64 cap;       // bytes each system write takes at most
    };
    const QList<Case> cases = {
        {"writeAll, a byte at a time", false, 1},
        {"writeAll, seven at a time", false, 7},
        {"writeAll, one short", false, size - 1},
        {"writeAll, exactly all", false, size},
        {"writeAll, one more than all", false, size + 1},
        {"pwriteAll, a byte at a time", true, 1},
        {"pwriteAll, seven at a time", true, 7},
        {"pwriteAll, one short", true, size - 1},
        {"pwriteAll, exactly all", true, size},
        {"pwriteAll, one more than all", true, size + 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QStringLiteral("short-%1").arg(++n));
        ASSERT_TRUE(testsupport::writeFile(path, before));
        const int fd = durable::openForWrite(path, O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::lseek(fd, 0, SEEK_END), before.size());
        QList<qint64> seen;
        bool ok = false;
        {
            durable::ScopedObserver shorten([&](durable::Call& call) {
                if (call.op == durable::Op::Write) {
                    seen.append(call.size);
                    call.writeAtMost = c.cap;
                }
                return 0;
            });
            ok = c.positioned ? durable::pwriteAll(fd, path, bytes.constData(), size, before.size())
                              : durable::writeAll(fd, path, bytes.constData(), size);
        }
        ::close(fd);
        EXPECT_TRUE(ok);
        EXPECT_EQ(seen, QList<qint64>{size}) << "one call, however many system writes it takes";
        EXPECT_EQ(readFile(path), before + bytes);
    }
}

} // namespace
