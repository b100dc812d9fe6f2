// The frame receiver and the capture files it hands to the import.
#include "link/AstmFrame.h"
#include "link/CaptureFiles.h"
#include "link/FrameReceiver.h"
#include "support/TestSupport.h"
#include "link/LinkTestPrint.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

const QByteArray kEnq(1, astm::ENQ);
const QByteArray kEot(1, astm::EOT);

class FrameReceiverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        folder = dir.path() + QLatin1Char('/');
        ASSERT_TRUE(QDir(folder).mkpath(QStringLiteral("Temp")));
        receiver = std::make_unique<FrameReceiver>(folder, [this] { ++acks; });
    }
    QString temp(const QString& name) const { return folder + QStringLiteral("Temp/") + name; }
    QByteArray latest() const { return readFile(temp(QStringLiteral("Temp.log"))); }
    bool latestExists() const { return QFile::exists(temp(QStringLiteral("Temp.log"))); }
    void send(const QByteArray& chunk) { receiver->receive(chunk); }
    QStringList rejected() const
    {
        return QDir(folder + QStringLiteral("Temp/rejected")).entryList(QDir::Files, QDir::Name);
    }

    QTemporaryDir dir;
    QString folder;
    int acks = 0;
    std::unique_ptr<FrameReceiver> receiver;
};

const QByteArray frame1 = astm::frame(1, "H|\\^&|||HX^1|||||||P|1|20230605140307");
const QByteArray frame2 = astm::frame(2, "O|1|000012345||^^^CBC");

TEST_F(FrameReceiverTest, ExchangeOfWholeChunksAcknowledgesEachAndKeepsTheFramesAfterTheEnq)
{
    send(kEnq);
    send(frame1);
    send(frame2);
    send(kEot);
    EXPECT_EQ(acks, 4);
    EXPECT_EQ(latest(), kEnq + frame1 + frame2);
    EXPECT_EQ(latest().size(), 1 + frame1.size() + frame2.size());
}

TEST_F(FrameReceiverTest, EmptyChunkChangesNothingAndSendsNothing)
{
    receiver->receive(nullptr, 0);
    send(QByteArray());
    EXPECT_EQ(acks, 0);
    send(kEnq);
    send(QByteArray());
    send(frame1);
    send(kEot);
    EXPECT_EQ(latest(), kEnq + frame1);
}

TEST_F(FrameReceiverTest, ByteByByteGivesTheSameCaptureFileAsWholeFrames)
{
    send(kEnq);
    for (const QByteArray& f : {frame1, frame2})
        for (char c : f)
            send(QByteArray(1, c));
    send(kEot);
    EXPECT_EQ(latest(), kEnq + frame1 + frame2);
    EXPECT_EQ(acks, 4) << "one ACK per frame, after its lone LF";
}

TEST_F(FrameReceiverTest, LoneLfEndingAFrameIsStoredAndAcknowledged)
{
    send(kEnq);
    send(frame1.chopped(1));
    EXPECT_EQ(acks, 1);
    send(QByteArray(1, astm::LF));
    EXPECT_EQ(acks, 2);
    send(kEot);
    EXPECT_EQ(latest(), kEnq + frame1);
}

TEST_F(FrameReceiverTest, FrameInSeveralChunksIsStoredWholeAndAcknowledgedOnceAtItsEnd)
{
    send(kEnq);
    send(frame1.left(10));
    send(frame1.mid(10, 7));
    EXPECT_EQ(acks, 1);
    send(frame1.mid(17));
    EXPECT_EQ(acks, 2);
    // End of one frame and start of the next in one chunk: no LF at its end, so no ACK yet.
    send(frame2.left(3));
    send(frame2.mid(3));
    EXPECT_EQ(acks, 3);
    send(kEot);
    EXPECT_EQ(latest(), kEnq + frame1 + frame2);
}

TEST_F(FrameReceiverTest, ChunkEndingInEnqRestartsAndThenStoresItself)
{
    send(kEnq);
    send(frame1);
    send("xy" + kEnq);
    EXPECT_EQ(acks, 3);
    send(frame2);
    send(kEot);
    EXPECT_EQ(latest(), kEnq + "xy" + kEnq + frame2);
}

TEST_F(FrameReceiverTest, ChunkEndingInEotWritesTheMessageAsItStoodBeforeIt)
{
    send(kEnq);
    send(frame1);
    send("zz" + kEot);
    EXPECT_EQ(acks, 3);
    EXPECT_EQ(latest(), kEnq + frame1);
    // The chunk went after the EOT mark: a second EOT shows it.
    send(kEot);
    const QByteArray second = readFile(temp(QStringLiteral("Temp-00000001.log")));
    EXPECT_EQ(second, kEnq + frame1 + kEot + "zz" + kEot);
}

TEST_F(FrameReceiverTest, EotFollowedByEnqInOneChunkRestartsWithoutWritingAFile)
{
    send(kEnq);
    send(frame1);
    send(kEot + kEnq);
    EXPECT_FALSE(latestExists());
    EXPECT_EQ(acks, 3);
    send(frame2);
    send(kEot);
    EXPECT_EQ(latest(), kEnq + kEot + kEnq + frame2);
}

TEST_F(FrameReceiverTest, EotBeforeAnyEnqWritesAFileOfOneZeroByte)
{
    send(kEot);
    EXPECT_EQ(acks, 1);
    EXPECT_EQ(latest(), QByteArray(1, '\0'));
}

TEST_F(FrameReceiverTest, SecondEotWithoutEnqWritesEverythingSinceTheEnqIncludingTheFirstMark)
{
    send(kEnq);
    send(frame1);
    send(kEot);
    send(kEot);
    EXPECT_EQ(latest(), kEnq + frame1);
    EXPECT_EQ(readFile(temp(QStringLiteral("Temp-00000001.log"))), kEnq + frame1 + kEot);
}

TEST_F(FrameReceiverTest, MessageThatFillsTheBufferExactlyIsKept)
{
    // ENQ at 0, message bytes at 1 .. 49,999, the EOT mark at 50,000: the last place there is.
    send(kEnq);
    QByteArray body(FrameReceiver::kBufferSize - 2, 'a');
    body.back() = astm::LF;
    for (qsizetype at = 0; at < body.size(); at += 401)
        send(body.mid(at, 401));
    send(kEot);
    EXPECT_FALSE(receiver->overflowed());
    EXPECT_EQ(latest(), kEnq + body);
    EXPECT_TRUE(rejected().isEmpty());
}

TEST_F(FrameReceiverTest, MessageLengthOnTheBufferEdgeIsKeptOrSetAsideByItsEndMark)
{
    // The buffer holds the ENQ, the message and its EOT mark. A message that fills every place but
    // the mark's is kept; one byte more leaves no place for the mark and is set aside, even when
    // every byte of it was taken in.
    struct Case {
        int length;
        bool kept;
    };
    for (const Case c : {Case{FrameReceiver::kBufferSize - 3, true}, Case{FrameReceiver::kBufferSize - 2, true},
                         Case{FrameReceiver::kBufferSize - 1, false}, Case{FrameReceiver::kBufferSize, false}}) {
        SCOPED_TRACE(c.length);
        QDir(temp(QString())).removeRecursively();
        ASSERT_TRUE(QDir(folder).mkpath(QStringLiteral("Temp")));
        send(kEnq);
        QByteArray body(c.length, 'a');
        body.back() = astm::LF;
        for (qsizetype at = 0; at < body.size(); at += 400)
            send(body.mid(at, 400));
        send(kEot);
        EXPECT_EQ(receiver->overflowed(), !c.kept);
        EXPECT_EQ(latestExists(), c.kept);
        if (c.kept) {
            EXPECT_EQ(latest(), kEnq + body);
        }
        EXPECT_EQ(rejected().size(), c.kept ? 0 : 2);
    }
}

TEST_F(FrameReceiverTest, OversizeMessageIsSetAsideAcknowledgedAndTheNextOneStartsClean)
{
    send(kEnq);
    int expectedAcks = 1;
    // One byte more than fits with its EOT mark.
    QByteArray body(FrameReceiver::kBufferSize - 1, 'b');
    for (qsizetype at = 0; at < body.size(); at += 400) {
        QByteArray chunk = body.mid(at, 400);
        chunk.back() = astm::LF;
        body.replace(at, chunk.size(), chunk);
        send(chunk);
        ++expectedAcks;
    }
    // Far past the end: chunks keep being answered and nothing is written past the buffer.
    for (int i = 0; i < 50; ++i) {
        send(QByteArray(401, 'c').append(astm::LF));
        ++expectedAcks;
    }
    send(kEot);
    ++expectedAcks;
    EXPECT_EQ(acks, expectedAcks);
    EXPECT_FALSE(latestExists()) << "a message cut short must not be imported";
    const QStringList kept = rejected();
    ASSERT_EQ(kept.size(), 2) << kept.join(QLatin1Char(' ')).toStdString();
    ASSERT_TRUE(kept[1].endsWith(QStringLiteral(".error.txt"))) << kept[1].toStdString();
    const QByteArray keptBytes = readFile(folder + QStringLiteral("Temp/rejected/") + kept[0]);
    EXPECT_EQ(keptBytes, kEnq + body) << "what fitted is kept, byte for byte";
    EXPECT_FALSE(readFile(folder + QStringLiteral("Temp/rejected/") + kept[1]).isEmpty());

    send(kEnq);
    send(frame1);
    send(kEot);
    EXPECT_FALSE(receiver->overflowed());
    EXPECT_EQ(latest(), kEnq + frame1);
}

TEST_F(FrameReceiverTest, MissingTempFolderLosesOnlyThatMessageAndStillAcknowledges)
{
    ASSERT_TRUE(QDir(folder + QStringLiteral("Temp")).removeRecursively());
    send(kEnq);
    send(frame1);
    send(kEot);
    EXPECT_EQ(acks, 3);
    EXPECT_TRUE(receiver->lastWritten().isEmpty());
    EXPECT_TRUE(receiver->lastError().contains(QStringLiteral("Temp"))) << receiver->lastError().toStdString();
}

// Capture file names and their order.

TEST_F(FrameReceiverTest, MessagesArrivingBeforeTheImportTakesThemGetNumberedFiles)
{
    for (int i = 0; i < 3; ++i) {
        send(kEnq);
        send(astm::frame(1, "msg" + QByteArray::number(i)));
        send(kEot);
    }
    const QStringList waiting = capture::waitingFiles(folder);
    ASSERT_EQ(waiting.size(), 3);
    EXPECT_TRUE(waiting[0].endsWith(QStringLiteral("/Temp.log")));
    EXPECT_TRUE(readFile(waiting[0]).contains("msg0"));
    EXPECT_TRUE(readFile(waiting[1]).contains("msg1"));
    EXPECT_TRUE(readFile(waiting[2]).contains("msg2"));
}

TEST_F(FrameReceiverTest, NumbersContinueAfterFilesLeftByAnEarlierRunAndNeverGoBack)
{
    ASSERT_TRUE(writeFile(temp(QStringLiteral("Temp-00000041.log")), "old"));
    send(kEnq);
    send(kEot);
    EXPECT_TRUE(receiver->lastWritten().endsWith(QStringLiteral("Temp-00000042.log")));
    // Everything taken: the next message is Temp.log again ...
    for (const QString& f : capture::waitingFiles(folder))
        QFile::remove(f);
    send(kEnq);
    send(kEot);
    EXPECT_TRUE(receiver->lastWritten().endsWith(QStringLiteral("/Temp.log")));
    // ... and the numbers that follow are new ones.
    send(kEnq);
    send(kEot);
    EXPECT_TRUE(receiver->lastWritten().endsWith(QStringLiteral("Temp-00000043.log")));
}

TEST_F(FrameReceiverTest, NewTempLogNeverOvertakesNumberedFilesStillWaiting)
{
    for (int i = 0; i < 2; ++i) {
        send(kEnq);
        send(kEot);
    }
    QFile::remove(temp(QStringLiteral("Temp.log")));  // the import took the first
    send(kEnq);
    send(kEot);
    EXPECT_FALSE(latestExists());
    const QStringList waiting = capture::waitingFiles(folder);
    ASSERT_EQ(waiting.size(), 2);
    EXPECT_TRUE(waiting[0].endsWith(QStringLiteral("Temp-00000001.log")));
    EXPECT_TRUE(waiting[1].endsWith(QStringLiteral("Temp-00000002.log")));
}

TEST(CaptureFiles, WaitingFilesAreOrderedByNumberNotByName)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    QDir(folder).mkpath(QStringLiteral("Temp"));
    for (const char* name : {"Temp-10.log", "Temp-9.log", "Temp.log", "Temp-x.log", "Temp-.log",
                             "Temp-123456789012345678.log", "other.log", ".Temp.log.1.2.part"})
        writeFile(folder + QStringLiteral("Temp/") + QLatin1String(name), "x");
    QStringList names;
    for (const QString& f : capture::waitingFiles(folder))
        names.append(QFileInfo(f).fileName());
    EXPECT_EQ(names, (QStringList{QStringLiteral("Temp.log"), QStringLiteral("Temp-9.log"),
                                  QStringLiteral("Temp-10.log")}));
}

// The reader thread writes while the main thread takes and deletes: every message must come out
// once, whole, in the order it was received.
TEST(CaptureFiles, ReceiverAndTakerRacingLoseNothingAndKeepOrder)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    QDir(folder).mkpath(QStringLiteral("Temp"));
    constexpr int kMessages = 400;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        FrameReceiver receiver(folder, [] {});
        for (int i = 0; i < kMessages; ++i) {
            receiver.receive(kEnq);
            receiver.receive(astm::frame(1, "n=" + QByteArray::number(i)));
            receiver.receive(kEot);
        }
        done.store(true);
    });
    QList<int> taken;
    for (;;) {
        const bool last = done.load();
        for (const QString& f : capture::waitingFiles(folder)) {
            const QByteArray bytes = readFile(f);
            astm::ParsedFrame pf;
            ASSERT_TRUE(astm::parseFrame(bytes.mid(1), pf)) << f.toStdString();
            taken.append(pf.text.mid(2).toInt());
            ASSERT_TRUE(QFile::remove(f));
        }
        if (last && capture::waitingFiles(folder).isEmpty())
            break;
    }
    reader.join();
    ASSERT_EQ(taken.size(), kMessages);
    for (int i = 0; i < kMessages; ++i)
        ASSERT_EQ(taken[i], i);
}

} // namespace
