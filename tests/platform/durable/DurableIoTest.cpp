// The durable layer's own writes. The capture files and the result table's records reach the disk
// through it; tests watch them through its observer.
#include "platform/durable/DurableIo.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <string>

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

    int n = 0;
    // pwriteAll at an offset, or writeAll at the descriptor's place; each system write taking at
    // most cap bytes.
    for (const bool positioned : {false, true})
        for (const qint64 cap : {qint64(1), qint64(7), size - 1, size, size + 1}) {
            SCOPED_TRACE((positioned ? "pwriteAll, cap " : "writeAll, cap ") + std::to_string(cap));
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
                        call.writeAtMost = cap;
                    }
                    return 0;
                });
                ok = positioned ? durable::pwriteAll(fd, path, bytes.constData(), size, before.size())
                                : durable::writeAll(fd, path, bytes.constData(), size);
            }
            ::close(fd);
            EXPECT_TRUE(ok);
            EXPECT_EQ(seen, QList<qint64>{size}) << "one call, however many system writes it takes";
            EXPECT_EQ(readFile(path), before + bytes);
        }
}

} // namespace
