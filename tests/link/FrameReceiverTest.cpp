// The frame receiver and the capture files it hands to the import.
#include "link/AstmFrame.h"
#include "link/CaptureFiles.h"
#include "link/FrameReceiver.h"
#include "support/TestSupport.h"
#include "link/LinkTestPrint.h"
#include "platform/durable/DurableIo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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
// Every message ends with its terminator record; only its acknowledgement makes a capture file.
const QByteArray lastFrame = astm::frame(3, "L|1|N");
const QByteArray lastFrame2 = astm::frame(2, "L|1|N");

TEST_F(FrameReceiverTest, ExchangeOfWholeChunksAcknowledgesEachAndKeepsTheFramesAfterTheEnq)
{
    send(kEnq);
    send(frame1);
    send(frame2);
    send(lastFrame);
    send(kEot);
    EXPECT_EQ(acks, 5);
    EXPECT_EQ(latest(), kEnq + frame1 + frame2 + lastFrame);
    EXPECT_EQ(latest().size(), 1 + frame1.size() + frame2.size() + lastFrame.size());
}

TEST_F(FrameReceiverTest, EmptyChunkChangesNothingAndSendsNothing)
{
    receiver->receive(nullptr, 0);
    send(QByteArray());
    EXPECT_EQ(acks, 0);
    send(kEnq);
    send(QByteArray());
    send(frame1);
    send(lastFrame2);
    send(kEot);
    EXPECT_EQ(latest(), kEnq + frame1 + lastFrame2);
}

TEST_F(FrameReceiverTest, ByteByByteGivesTheSameCaptureFileAsWholeFrames)
{
    send(kEnq);
    for (const QByteArray& f : {frame1, frame2, lastFrame})
        for (char c : f)
            send(QByteArray(1, c));
    send(kEot);
    EXPECT_EQ(latest(), kEnq + frame1 + frame2 + lastFrame);
    EXPECT_EQ(acks, 5) << "one ACK per frame, after its lone LF";
}

TEST_F(FrameReceiverTest, LoneLfEndingAFrameIsStoredAndAcknowledged)
{
    send(kEnq);
    send(frame1.chopped(1));
    EXPECT_EQ(acks, 1);
    send(QByteArray(1, astm::LF));
    EXPECT_EQ(acks, 2);
    send(lastFrame2.chopped(1));
    EXPECT_EQ(acks, 2);
    send(QByteArray(1, astm::LF));
    EXPECT_EQ(acks, 3);
    send(kEot);
    EXPECT_EQ(latest(), kEnq + frame1 + lastFrame2);
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
    send(lastFrame);
    send(kEot);
    EXPECT_EQ(latest(), kEnq + frame1 + frame2 + lastFrame);
}

TEST_F(FrameReceiverTest, ChunkEndingInEnqRestartsAndBytesBeforeTheEnqBelongToNoMessage)
{
    send(kEnq);
    send(frame1);
    send("xy" + kEnq);
    EXPECT_EQ(acks, 3);
    send(frame2);
    send(lastFrame);
    send(kEot);
    EXPECT_EQ(latest(), kEnq + frame2 + lastFrame);
}

TEST_F(FrameReceiverTest, ChunkEndingInEotWritesTheMessageAsItStoodBeforeIt)
{
    send(kEnq);
    send(frame1);
    send(lastFrame2);
    send("zz" + kEot);
    EXPECT_EQ(acks, 4);
    EXPECT_EQ(latest(), kEnq + frame1 + lastFrame2);
    // The message has ended: a second EOT writes nothing and is not answered.
    send(kEot);
    EXPECT_EQ(acks, 4);
    EXPECT_EQ(capture::waitingFiles(folder).size(), 1);
}

// Every row: the chunks as the line hands them over, the ACKs each one gets, and the capture
// files written, in order.
struct Exchange {
    const char* name;
    QList<QByteArray> chunks;
    QList<int> acks;
    QList<QByteArray> captures;
};

const QByteArray frame1b = astm::frame(1, "H|\\^&|||HX^1|||||||P|1|20230605140533");

// The frame with one bit of byte `at` flipped, as line noise leaves it.
QByteArray flipped(QByteArray f, qsizetype at, char bit = 0x01)
{
    f[at] = static_cast<char>(f[at] ^ bit);
    return f;
}
// The frame with its two checksum digits replaced.
QByteArray withDigits(QByteArray f, const QByteArray& digits)
{
    f.replace(f.size() - 4, 2, digits);
    return f;
}
// A frame whose checksum has a letter in it, and the same frame with the letters in lower case.
const QByteArray frameHex = astm::frame(2, "R|1|^^^WBC|7.5|10^9/L||N");  // sum FE
const QByteArray frameHexLower = withDigits(frameHex, frameHex.mid(frameHex.size() - 4, 2).toLower());

TEST_F(FrameReceiverTest, ExchangesAcknowledgeAndCaptureEachMessageExactlyOnce)
{
    const QList<Exchange> exchanges = {
        // EOT and the next ENQ in one read: the first message is kept, the chunk answered once.
        {"eot and enq in one read", {kEnq, frame1, frame2, lastFrame, kEot + kEnq, frame1b, lastFrame2, kEot},
         {1, 1, 1, 1, 1, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame, kEnq + frame1b + lastFrame2}},
        {"frame bytes, eot and enq in one read", {kEnq, frame1, lastFrame2, "zz" + kEot + kEnq, kEot},
         {1, 1, 1, 1, 1}, {kEnq + frame1 + lastFrame2}},
        // Started in the middle of a message: its tail is neither answered nor kept.
        {"tail before the first enq", {frame2, lastFrame, kEot, kEnq, frame1, lastFrame2, kEot},
         {0, 0, 0, 1, 1, 1, 1}, {kEnq + frame1 + lastFrame2}},
        {"eot before any enq", {kEot}, {0}, {}},
        {"eot and enq before any enq", {kEot + kEnq, frame1, lastFrame2, kEot}, {1, 1, 1, 1}, {kEnq + frame1 + lastFrame2}},
        {"second eot", {kEnq, frame1, lastFrame2, kEot, kEot}, {1, 1, 1, 1, 0}, {kEnq + frame1 + lastFrame2}},
        {"frames after the eot", {kEnq, frame1, lastFrame2, kEot, frame2, lastFrame, kEot},
         {1, 1, 1, 1, 0, 0, 0}, {kEnq + frame1 + lastFrame2}},
        {"enq then eot without frames", {kEnq, kEot}, {1, 1}, {}},
        // Given up before its terminator was answered (six tries without an ACK, or a line that
        // dropped): the analyser sends the whole message again later, so this part is not kept,
        // or its values would be blank in one row and whole in a second.
        {"given up before the terminator", {kEnq, frame1, frame2, kEot}, {1, 1, 1, 1}, {}},
        {"given up, then sent whole again", {kEnq, frame1, frame2, kEot, kEnq, frame1, frame2, lastFrame, kEot},
         {1, 1, 1, 1, 1, 1, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        {"given up with the terminator cut short", {kEnq, frame1, frame2, lastFrame.left(6), kEot}, {1, 1, 1, 0, 1}, {}},
        {"given up, the next enq in the same read", {kEnq, frame1, frame2, kEot + kEnq, frame1, frame2, lastFrame, kEot},
         {1, 1, 1, 1, 1, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        {"given up, bytes, eot and enq in one read", {kEnq, frame1, "zz" + kEot + kEnq, frame1b, lastFrame2, kEot},
         {1, 1, 1, 1, 1, 1}, {kEnq + frame1b + lastFrame2}},
        {"given up after a lost ack", {kEnq, frame1, frame2, frame2, kEot}, {1, 1, 1, 1, 1}, {}},
        // A frame whose ACK was lost comes again: answered again, kept once.
        {"repeated frame", {kEnq, frame1, frame2, frame2, lastFrame, kEot},
         {1, 1, 1, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        {"repeated frame in other pieces", {kEnq, frame1, frame2, frame2.left(5), frame2.mid(5), lastFrame, kEot},
         {1, 1, 1, 0, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        {"repeated terminator", {kEnq, frame1, lastFrame, lastFrame, kEot},
         {1, 1, 1, 1, 1}, {kEnq + frame1 + lastFrame}},
        // Not a repeat of the frame just answered: the same text under another number is new.
        {"same text, next number", {kEnq, astm::frame(1, "R|1"), astm::frame(2, "R|1"), lastFrame, kEot},
         {1, 1, 1, 1, 1}, {kEnq + astm::frame(1, "R|1") + astm::frame(2, "R|1") + lastFrame}},
        // A frame cut short on the line gets no ACK; its retry is kept whole, once.
        {"frame cut short, then sent again", {kEnq, frame1, frame2.left(9), frame2, lastFrame, kEot},
         {1, 1, 0, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        // The analyser went on to the next frame (it took an ACK for this one): the whole frame
        // before it in the same read is kept, and the read is not answered until a frame ends it.
        {"whole frame and the start of the next in one read",
         {kEnq, frame1 + frame2.left(5), frame2.mid(5), lastFrame, kEot},
         {1, 0, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        {"eot and enq in separate reads", {kEnq, frame1, lastFrame2, kEot, kEnq, frame1b, lastFrame2, kEot},
         {1, 1, 1, 1, 1, 1, 1, 1}, {kEnq + frame1 + lastFrame2, kEnq + frame1b + lastFrame2}},
        // The terminator is answered once its capture file is written; the EOT adds nothing.
        {"terminator", {kEnq, frame1, lastFrame, kEot}, {1, 1, 1, 1}, {kEnq + frame1 + lastFrame}},

        // A frame damaged on the line (its sum does not match) or not a frame at all gets no ACK
        // and is not kept; the analyser's retry of it is taken as new, and kept once.
        {"one bit flipped in the text, then the retry", {kEnq, frame1, flipped(frame2, 8), frame2, lastFrame, kEot},
         {1, 1, 0, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        {"flipped bit in the frame number", {kEnq, frame1, flipped(frame2, 1), frame2, lastFrame, kEot},
         {1, 1, 0, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        {"flipped bit in a checksum digit", {kEnq, frame1, flipped(frame2, frame2.size() - 3), frame2, lastFrame, kEot},
         {1, 1, 0, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        {"damaged frame in pieces, its LF alone", {kEnq, frame1, flipped(frame2, 8).chopped(1), QByteArray(1, astm::LF),
                                                   frame2.chopped(1), QByteArray(1, astm::LF), lastFrame, kEot},
         {1, 1, 0, 0, 0, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        {"damaged twice, then whole", {kEnq, frame1, flipped(frame2, 8), flipped(frame2, 12, 0x10), frame2, lastFrame, kEot},
         {1, 1, 0, 0, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        // A damaged retry of the frame just answered is neither a repeat nor new.
        {"damaged repeat of the last frame", {kEnq, frame1, frame2, flipped(frame2, 8), frame2, lastFrame, kEot},
         {1, 1, 1, 0, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        {"no stx", {kEnq, frame1, frame2.mid(1), frame2, lastFrame, kEot},
         {1, 1, 0, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        {"no etx or etb", {kEnq, frame1, QByteArray(frame2).remove(frame2.size() - 5, 1), frame2, lastFrame, kEot},
         {1, 1, 0, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        {"no cr before the lf", {kEnq, frame1, QByteArray(frame2).remove(frame2.size() - 2, 1), frame2, lastFrame, kEot},
         {1, 1, 0, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        {"checksum digits not hex", {kEnq, frame1, withDigits(frame2, "G0"), withDigits(frame2, " 7"), frame2, lastFrame, kEot},
         {1, 1, 0, 0, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        {"only the framing", {kEnq, frame1, "\x02\x03" "00\r\n", "\x02" "1\r\n", frame2, lastFrame, kEot},
         {1, 1, 0, 0, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
        // The sum, not the case of its digits, proves the text whole: lower case is accepted.
        {"lower-case checksum digits", {kEnq, frame1, frameHexLower, lastFrame, kEot},
         {1, 1, 1, 1, 1}, {kEnq + frame1 + frameHexLower + lastFrame}},
        // A damaged terminator writes nothing; its retry writes the message once.
        {"bad checksum on the terminator, then the retry", {kEnq, frame1, withDigits(lastFrame, "00"), lastFrame, kEot},
         {1, 1, 0, 1, 1}, {kEnq + frame1 + lastFrame}},
        {"bad terminator six times, given up", {kEnq, frame1, flipped(lastFrame, 3), flipped(lastFrame, 3),
                                                flipped(lastFrame, 3), flipped(lastFrame, 3), flipped(lastFrame, 3),
                                                flipped(lastFrame, 3), kEot},
         {1, 1, 0, 0, 0, 0, 0, 0, 1}, {}},
        {"damaged frame given up, then sent whole again", {kEnq, frame1, flipped(frame2, 8), kEot,
                                                           kEnq, frame1, frame2, lastFrame, kEot},
         {1, 1, 0, 1, 1, 1, 1, 1, 1}, {kEnq + frame1 + frame2 + lastFrame}},
    };
    ASSERT_NE(frameHexLower, frameHex) << "the checksum must have a letter for the lower-case case";
    for (const Exchange& x : exchanges) {
        SCOPED_TRACE(x.name);
        ASSERT_EQ(x.chunks.size(), x.acks.size());
        for (const QString& f : capture::waitingFiles(folder))
            QFile::remove(f);
        FrameReceiver r(folder, [this] { ++acks; });
        for (qsizetype i = 0; i < x.chunks.size(); ++i) {
            acks = 0;
            r.receive(x.chunks[i]);
            EXPECT_EQ(acks, x.acks[i]) << "chunk " << i;
        }
        QList<QByteArray> written;
        for (const QString& f : capture::waitingFiles(folder))
            written.append(readFile(f));
        EXPECT_EQ(written, x.captures);
    }
}

TEST_F(FrameReceiverTest, TerminatorIsAnsweredOnlyOnceItsCaptureFileIsOnDisk)
{
    send(kEnq);
    send(frame1);
    EXPECT_FALSE(latestExists());
    const int before = acks;
    send(lastFrame);
    EXPECT_EQ(acks, before + 1);
    EXPECT_EQ(latest(), kEnq + frame1 + lastFrame);
}

// A message of the given length: one long frame of filler, then the terminator frame.
QByteArray longMessage(int length)
{
    // STX, number, CR, ETX, two digits, CR, LF around the text.
    const QByteArray body = astm::frame(1, QByteArray(length - lastFrame.size() - 8, 'a'));
    EXPECT_EQ(body.size() + lastFrame.size(), length);
    return body + lastFrame;
}

// A whole frame of exactly `size` bytes (ETB, so seven around its text) filled with `fill`.
QByteArray frameOfSize(int number, qsizetype size, char fill)
{
    return astm::frame(number, QByteArray(size - 7, fill), false);
}

TEST_F(FrameReceiverTest, MessageThatFillsTheBufferExactlyIsKept)
{
    // ENQ at 0, message bytes at 1 .. 49,999, the EOT mark at 50,000: the last place there is.
    send(kEnq);
    const QByteArray body = longMessage(FrameReceiver::kBufferSize - 2);
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
        QString archivedAs;  // what the archive hears of a message set aside
        receiver->setOnSetAside([&](const QByteArray& bytes, const QDateTime& enq, const QString& kept, const QString&) {
            EXPECT_TRUE(enq.isValid());
            EXPECT_EQ(bytes, testsupport::readFile(kept));
            archivedAs = kept;
        });
        send(kEnq);
        const QByteArray body = longMessage(c.length);
        for (qsizetype at = 0; at < body.size(); at += 400)
            send(body.mid(at, 400));
        send(kEot);
        EXPECT_EQ(receiver->overflowed(), !c.kept);
        EXPECT_EQ(latestExists(), c.kept);
        if (c.kept) {
            EXPECT_EQ(latest(), kEnq + body);
        }
        EXPECT_EQ(rejected().size(), c.kept ? 0 : 2);
        EXPECT_EQ(archivedAs.isEmpty(), c.kept);
    }
}

TEST_F(FrameReceiverTest, OversizeMessageIsSetAsideAcknowledgedAndTheNextOneStartsClean)
{
    // How the message ends and the next begins: the EOT counts wherever it stands in its read,
    // so an EOT read together with the next ENQ still sets the message aside.
    struct Case {
        const char* name;
        QList<QByteArray> reads;  // each answered once
    };
    for (const Case& c : {Case{"eot, then enq", {kEot, kEnq}}, Case{"eot and enq in one read", {kEot + kEnq}}}) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir(temp(QString())).removeRecursively());
        ASSERT_TRUE(QDir(folder).mkpath(QStringLiteral("Temp")));
        acks = 0;
        send(kEnq);
        int expectedAcks = 1;
        // One byte more than fits with its EOT mark.
        QByteArray body;
        static_assert((FrameReceiver::kBufferSize - 1) % 400 == 0);
        for (int i = 0; i < (FrameReceiver::kBufferSize - 1) / 400; ++i) {
            // Frames of a message differ (their numbers and texts do); a repeat of the last one is
            // not kept.
            const QByteArray chunk = frameOfSize(i + 1, 400, char('a' + i % 26));
            body += chunk;
            send(chunk);
            ++expectedAcks;
        }
        // Far past the end: whole frames keep being answered (their sums are checked on every
        // byte, kept or not) and nothing is written past the buffer.
        for (int i = 0; i < 50; ++i) {
            send(frameOfSize(i, 401, char('A' + i % 26)));
            ++expectedAcks;
        }
        // A damaged one there is still refused.
        send(flipped(frameOfSize(3, 401, 'Q'), 20));
        EXPECT_EQ(acks, expectedAcks);
        for (const QByteArray& read : c.reads) {
            send(read);
            ++expectedAcks;
        }
        EXPECT_EQ(acks, expectedAcks);
        EXPECT_FALSE(latestExists()) << "a message cut short must not be imported";
        const QStringList kept = rejected();
        ASSERT_EQ(kept.size(), 2) << kept.join(QLatin1Char(' ')).toStdString();
        ASSERT_TRUE(kept[1].endsWith(QStringLiteral(".error.txt"))) << kept[1].toStdString();
        const QByteArray keptBytes = readFile(folder + QStringLiteral("Temp/rejected/") + kept[0]);
        // What fitted, the place of the EOT mark aside, is kept byte for byte.
        EXPECT_EQ(keptBytes, kEnq + body.left(FrameReceiver::kBufferSize - 2));
        EXPECT_FALSE(readFile(folder + QStringLiteral("Temp/rejected/") + kept[1]).isEmpty());

        send(frame1);
        send(lastFrame2);
        send(kEot);
        EXPECT_FALSE(receiver->overflowed());
        EXPECT_EQ(latest(), kEnq + frame1 + lastFrame2);
    }
}

TEST_F(FrameReceiverTest, MissingTempFolderWithholdsOnlyTheTerminatorsAck)
{
    ASSERT_TRUE(QDir(folder + QStringLiteral("Temp")).removeRecursively());
    send(kEnq);
    send(frame1);
    send(lastFrame2);
    send(kEot);
    EXPECT_EQ(acks, 3);
    EXPECT_TRUE(receiver->lastWritten().isEmpty());
    EXPECT_TRUE(receiver->lastError().contains(QStringLiteral("Temp"))) << receiver->lastError().toStdString();
}

// The analyser is told a message is delivered (the ACK of its terminator) only after its
// capture file is whole on disk under its name: written, flushed, renamed, folder flushed.
// A failure at any of these leaves no ACK and no capture file; the retry of the terminator
// tries again, and the user hears of the trouble once.
TEST_F(FrameReceiverTest, TerminatorAckFollowsTheDurableCaptureAndAFailureAtAnyStepWithholdsIt)
{
    QStringList log;
    std::optional<durable::Op> failing;
    int reports = 0;
    durable::ScopedObserver watch([&](const durable::Call& c) {
        log.append(QStringLiteral("%1 %2").arg(QLatin1String(durable::name(c.op)),
                                               QFileInfo(c.path).fileName().section(QLatin1Char('.'), 0, 2)));
        return failing == c.op ? ENOSPC : 0;
    });
    FrameReceiver r(folder, [&] { log.append(QStringLiteral("ACK")); }, [&](const QString&) { ++reports; });
    r.receive(kEnq);
    r.receive(frame1);
    log.clear();
    r.receive(lastFrame);
    EXPECT_EQ(log, (QStringList{"create .Temp.log", "write .Temp.log", "sync .Temp.log",
                                "rename .Temp.log", "sync folder Temp", "ACK"}))
        << log.join(", ").toStdString();
    r.receive(kEot);
    ASSERT_EQ(capture::waitingFiles(folder).size(), 1);
    QFile::remove(temp(QStringLiteral("Temp.log")));

    for (durable::Op op : {durable::Op::Create, durable::Op::Write, durable::Op::Sync, durable::Op::Rename,
                           durable::Op::SyncFolder}) {
        SCOPED_TRACE(durable::name(op));
        reports = 0;
        r.receive(kEnq);
        r.receive(frame1);
        failing = op;
        for (int retry = 0; retry < 3; ++retry) {
            log.clear();
            r.receive(lastFrame);
            EXPECT_FALSE(log.contains(QStringLiteral("ACK")));
        }
        EXPECT_EQ(reports, 1);
        // A folder that cannot be flushed leaves a whole file that may not survive a crash; the
        // analyser sends the message again and the import stores it once.
        if (op != durable::Op::SyncFolder) {
            EXPECT_TRUE(capture::waitingFiles(folder).isEmpty());
        }
        EXPECT_TRUE(QDir(folder + QStringLiteral("Temp")).entryList(QDir::Hidden | QDir::Files).filter(".part").isEmpty());
        failing.reset();
        log.clear();
        r.receive(lastFrame);
        EXPECT_TRUE(log.endsWith(QStringLiteral("ACK")));
        r.receive(kEot);
        const QStringList waiting = capture::waitingFiles(folder);
        ASSERT_FALSE(waiting.isEmpty());
        EXPECT_EQ(readFile(waiting.back()), kEnq + frame1 + lastFrame) << "the terminator once";
        for (const QString& f : waiting)
            QFile::remove(f);
    }
}

// Capture file names and their order.

TEST_F(FrameReceiverTest, MessagesArrivingBeforeTheImportTakesThemGetNumberedFiles)
{
    for (int i = 0; i < 3; ++i) {
        send(kEnq);
        send(astm::frame(1, "msg" + QByteArray::number(i)));
        send(lastFrame2);
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
    send(frame1);
    send(lastFrame2);
    send(kEot);
    EXPECT_TRUE(receiver->lastWritten().endsWith(QStringLiteral("Temp-00000042.log")));
    // Everything taken: the next message is Temp.log again ...
    for (const QString& f : capture::waitingFiles(folder))
        QFile::remove(f);
    send(kEnq);
    send(frame1);
    send(lastFrame2);
    send(kEot);
    EXPECT_TRUE(receiver->lastWritten().endsWith(QStringLiteral("/Temp.log")));
    // ... and the numbers that follow are new ones.
    send(kEnq);
    send(frame1);
    send(lastFrame2);
    send(kEot);
    EXPECT_TRUE(receiver->lastWritten().endsWith(QStringLiteral("Temp-00000043.log")));
}

TEST_F(FrameReceiverTest, NewTempLogNeverOvertakesNumberedFilesStillWaiting)
{
    for (int i = 0; i < 2; ++i) {
        send(kEnq);
        send(frame1);
        send(lastFrame2);
        send(kEot);
    }
    QFile::remove(temp(QStringLiteral("Temp.log")));  // the import took the first
    send(kEnq);
    send(frame1);
    send(lastFrame2);
    send(kEot);
    EXPECT_FALSE(latestExists());
    const QStringList waiting = capture::waitingFiles(folder);
    ASSERT_EQ(waiting.size(), 2);
    EXPECT_TRUE(waiting[0].endsWith(QStringLiteral("Temp-00000001.log")));
    EXPECT_TRUE(waiting[1].endsWith(QStringLiteral("Temp-00000002.log")));
}

TEST(CaptureFiles, TemporaryFilesOfWritersThatDiedGoAndOthersStay)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    QDir(folder).mkpath(QStringLiteral("Temp"));
    const pid_t dead = ::fork();
    if (dead == 0)
        ::_exit(0);
    ASSERT_GT(dead, 0);
    ::waitpid(dead, nullptr, 0);
    const QString ofDead = QStringLiteral(".Temp.log.%1.3.part").arg(dead);
    const QString ofLiving = QStringLiteral(".Temp.log.%1.0.part").arg(::getppid());
    const QString ofThis = QStringLiteral(".Temp.log.%1.7.part").arg(::getpid());
    for (const QString& name : {ofDead, ofLiving, ofThis, QStringLiteral(".notours.part")})
        writeFile(folder + QStringLiteral("Temp/") + name, "half a message");
    FrameReceiver receiver(folder, [] {});
    const QStringList left = QDir(folder + QStringLiteral("Temp")).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    EXPECT_FALSE(left.contains(ofDead));
    EXPECT_TRUE(left.contains(ofLiving));
    EXPECT_TRUE(left.contains(ofThis));
    EXPECT_TRUE(left.contains(QStringLiteral(".notours.part")));
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

// Two messages set aside under the same name within one second (two Temp.log files the import
// gives up on, two oversize messages) are both kept: the second takes a name of its own and
// never replaces the first.
TEST(CaptureFiles, SetAsideUnderANameAlreadyTakenKeepsBoth)
{
    using SetAside = std::function<QString(const QString& folder, const QByteArray& bytes, QString* error)>;
    struct Case {
        const char* name;
        SetAside setAside;
    };
    const QList<Case> cases = {
        {"moved there by the import",
         [](const QString& folder, const QByteArray& bytes, QString* error) {
             const QString path = capture::tempFolder(folder) + QStringLiteral("Temp.log");
             if (!writeFile(path, bytes))
                 return QString();
             return capture::moveToRejected(folder, path, QString::fromLatin1("why " + bytes), error);
         }},
        {"written there by the receiver",
         [](const QString& folder, const QByteArray& bytes, QString* error) {
             return capture::keepRejected(folder, QStringLiteral("overflow.log"), bytes,
                                          QString::fromLatin1("why " + bytes), error);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString folder = dir.path() + QLatin1Char('/');
        ASSERT_TRUE(QDir(folder).mkpath(QStringLiteral("Temp")));
        // Names carry the second they were made in; a pair that straddles a second does not
        // meet, so it is tried again.
        QString first;
        QString second;
        for (int attempt = 0; attempt < 5; ++attempt) {
            QDir(capture::rejectedFolder(folder)).removeRecursively();
            QString error;
            first = c.setAside(folder, "first", &error);
            ASSERT_FALSE(first.isEmpty()) << error.toStdString();
            second = c.setAside(folder, "second", &error);
            ASSERT_FALSE(second.isEmpty()) << error.toStdString();
            if (QFileInfo(second).fileName().startsWith(QFileInfo(first).fileName()))
                break;
        }
        ASSERT_TRUE(QFileInfo(second).fileName().startsWith(QFileInfo(first).fileName()))
            << "no two set aside in one second: " << first.toStdString() << ", " << second.toStdString();
        EXPECT_NE(first, second);
        EXPECT_EQ(readFile(first), "first");
        EXPECT_EQ(readFile(second), "second");
        EXPECT_EQ(readFile(first + QStringLiteral(".error.txt")), "why first\n");
        EXPECT_EQ(readFile(second + QStringLiteral(".error.txt")), "why second\n");
        EXPECT_EQ(QDir(capture::rejectedFolder(folder)).entryList(QDir::Files).size(), 4);
    }
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
            receiver.receive(lastFrame2);
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
            ASSERT_TRUE(astm::parseFrame(bytes.mid(1).chopped(lastFrame2.size()), pf)) << f.toStdString();
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
