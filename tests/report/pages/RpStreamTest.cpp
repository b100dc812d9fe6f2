#include "report/pages/RpError.h"
#include "report/pages/RpStream.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray pattern(qsizetype n, int salt = 0)
{
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char((i * 31 + salt) & 0xFF);
    return b;
}

TEST(RpStream, MemoryReadWriteSeekFromEveryOrigin)
{
    TRpStream s(0);
    EXPECT_EQ(s.Write("abcdef", 6), 6);
    EXPECT_EQ(s.Seek(-2, TRpSeekOrigin::FromEnd), 4);
    char buf[8] = {};
    EXPECT_EQ(s.Read(buf, 8), 2);
    EXPECT_EQ(QByteArray(buf, 2), "ef");
    EXPECT_EQ(s.Seek(1, TRpSeekOrigin::FromBeginning), 1);
    EXPECT_EQ(s.Seek(2, TRpSeekOrigin::FromCurrent), 3);
    EXPECT_EQ(s.Write("XY", 2), 2);
    EXPECT_EQ(s.ReadAll(), "abcXYf");
    EXPECT_EQ(s.Seek(-100, TRpSeekOrigin::FromCurrent), 0);
    EXPECT_EQ(s.Read(buf, 0), 0);
}

TEST(RpStream, MovesToTemporaryFileOnlyPastTheLimit)
{
    QString tempName;
    {
        TRpStream s(TRpStream::kDefaultMemoryLimit);
        const QByteArray first = pattern(100000);
        s.Write(first.constData(), first.size());
        EXPECT_TRUE(s.InMemory()) << "exactly at the limit stays in memory";
        s.Write("z", 1);
        ASSERT_FALSE(s.InMemory());
        tempName = s.FileName();
        const QFileInfo info(tempName);
        EXPECT_TRUE(info.exists());
        EXPECT_TRUE(info.fileName().startsWith("HRP")) << tempName.toStdString();
        EXPECT_EQ(QDir(info.absolutePath()).canonicalPath(), QDir(QDir::tempPath()).canonicalPath());
        // Writing continues at the end, and everything written before is there.
        EXPECT_EQ(s.Position(), 100001);
        s.Write("!", 1);
        EXPECT_EQ(s.ReadAll(), first + "z!");
        // Overwriting in the middle works in the file as in memory.
        s.Seek(10, TRpSeekOrigin::FromBeginning);
        s.Write("MID", 3);
        s.Seek(10, TRpSeekOrigin::FromBeginning);
        char buf[3];
        EXPECT_EQ(s.Read(buf, 3), 3);
        EXPECT_EQ(QByteArray(buf, 3), "MID");
    }
    EXPECT_FALSE(QFileInfo::exists(tempName)) << "the temporary file goes with the stream";
}

TEST(RpStream, ReportFileIsReadOnlyAndKept)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("kept.hrp");
    ASSERT_TRUE(testsupport::writeFile(path, "0123456789"));
    {
        auto s = TRpStream::openForReading(path);
        EXPECT_FALSE(s->InMemory());
        EXPECT_EQ(s->Size(), 10);
        EXPECT_THROW(s->Write("x", 1), ERpError);
        // Another reader may open it at the same time.
        auto other = TRpStream::openForReading(path);
        EXPECT_EQ(other->ReadAll(), "0123456789");
    }
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_THROW(TRpStream::openForReading(dir.filePath("missing.hrp")), ERpError);
}

TEST(RpStream, SaveCopiesEveryByteWhateverTheBlockBoundary)
{
    QTemporaryDir dir;
    for (qsizetype n : {qsizetype(0), qsizetype(1), TRpStream::kCopyBlock, TRpStream::kCopyBlock * 3,
                        TRpStream::kCopyBlock * 3 + 7, qsizetype(150000)}) {
        TRpStream s(TRpStream::kDefaultMemoryLimit);
        const QByteArray data = pattern(n, int(n));
        s.Write(data.constData(), data.size());
        const QString path = dir.filePath(QStringLiteral("copy%1.hrp").arg(n));
        s.SaveToFile(path);
        EXPECT_EQ(testsupport::readFile(path), data) << n;
        TRpStream target(0);
        EXPECT_EQ(s.CopyTo(target), n);
        EXPECT_EQ(target.ReadAll(), data);
    }
    TRpStream s(0);
    EXPECT_THROW(s.SaveToFile(dir.filePath("no/such/folder/x.hrp")), ERpError);
}

} // namespace
