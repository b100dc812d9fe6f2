// The analyser simulator: framing and checksums, what it puts on the line, how it waits.
#include "engine/Cp1251.h"
#include "link/sim/AnalyserSimulator.h"
#include "link/AstmFrame.h"
#include "link/LinkTestPrint.h"
#include "platform/IniFile.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(AstmFrame, ChecksumSumsRawBytesFromFrameNumberThroughEtx)
{
    // '1' 'A' 'B' 'C' CR ETX = 0x31+0x41+0x42+0x43+0x0D+0x03 = 0x107 -> 07
    EXPECT_EQ(astm::frame(1, "ABC"), QByteArray("\x02" "1ABC\r\x03" "07\r\n"));
    // Bytes above 127 count as unsigned: CP1251 text must check the same as it travels.
    QByteArray cyr;
    ASSERT_TRUE(cp1251::encode(QStringLiteral("Ёлкина"), cyr));
    const QByteArray f = astm::frame(7, "P|1||" + cyr);
    unsigned sum = 0;
    for (char c : f.mid(1, f.size() - 5))
        sum += static_cast<unsigned char>(c);
    EXPECT_EQ(f.mid(f.size() - 4, 2), QByteArray::number(sum % 256, 16).toUpper().rightJustified(2, '0'));
    astm::ParsedFrame parsed;
    ASSERT_TRUE(astm::parseFrame(f, parsed));
    EXPECT_EQ(parsed.number, 7);
    EXPECT_EQ(parsed.text, "P|1||" + cyr);
    EXPECT_TRUE(parsed.last);
}

TEST(AstmFrame, FrameNumbersRunOneToSevenThenZero)
{
    EXPECT_EQ(astm::frame(8, "x").at(1), '0');
    int n = 1;
    QByteArray digits;
    for (int i = 0; i < 10; ++i, n = astm::nextFrameNumber(n))
        digits += char('0' + n);
    EXPECT_EQ(digits, "1234567012");
}

TEST(AstmFrame, LongRecordTravelsInEtbFramesEndingWithOneEtxFrame)
{
    const QByteArray record = QByteArray(600, 'r');
    const QList<QByteArray> frames = astm::recordFrames(6, record);
    ASSERT_EQ(frames.size(), 3);
    QByteArray joined;
    for (int i = 0; i < frames.size(); ++i) {
        astm::ParsedFrame p;
        ASSERT_TRUE(astm::parseFrame(frames[i], p));
        EXPECT_EQ(p.number, (6 + i) % 8);
        EXPECT_EQ(p.last, i == 2);
        EXPECT_LE(p.text.size(), astm::kMaxFrameText);
        joined += p.text;
    }
    EXPECT_EQ(joined, record);
    EXPECT_EQ(astm::recordFrames(1, QByteArray(239, 'r')).size(), 1);
    EXPECT_EQ(astm::recordFrames(1, QByteArray(240, 'r')).size(), 2);
}

TEST(AstmFrame, DamagedFramesAreRefusedWithAReason)
{
    const QByteArray good = astm::frame(3, "R|1|^^^WBC|7.5");
    astm::ParsedFrame p;
    QByteArray reason;
    QByteArray bad = good;
    bad[5] = 'X';
    EXPECT_FALSE(astm::parseFrame(bad, p, &reason));
    EXPECT_EQ(reason, "frame checksum does not match");
    EXPECT_FALSE(astm::parseFrame(good.chopped(1), p, &reason));
    EXPECT_FALSE(astm::parseFrame(good.mid(1), p, &reason));
    EXPECT_FALSE(astm::parseFrame("\x02\r\n", p, &reason));
    EXPECT_TRUE(astm::parseFrame(good, p, &reason));
}

TEST(SimulatedMessages, RecordsCarryWhatTheImportLooksFor)
{
    sim::MessageGenerator gen(7, QDateTime(QDate(2023, 6, 5), QTime(14, 3, 7)));
    const sim::Message m = gen.next();
    EXPECT_EQ(m.timestamp, "20230605140307");
    EXPECT_EQ(m.sample.size(), 9);
    const QList<QByteArray> recs = sim::records(m);
    ASSERT_EQ(recs.size(), 22);
    EXPECT_TRUE(recs[0].startsWith("H|\\^&|"));
    EXPECT_TRUE(recs[0].endsWith("P|1|20230605140307"));
    EXPECT_EQ(recs[0].indexOf("P|1|"), recs[0].size() - 18) << "only one P|1| in the header";
    EXPECT_TRUE(recs[1].startsWith("P|1|"));
    EXPECT_TRUE(recs[2].startsWith("O|1|" + m.sample + "|"));
    for (int i = 0; i < 18; ++i) {
        EXPECT_TRUE(recs[3 + i].contains(QByteArray("^^^") + sim::kResults[size_t(i)].tag + "|" + m.values[size_t(i)] + "|"))
            << recs[3 + i].toStdString();
    }
    EXPECT_EQ(recs[21], "L|1|N");
    // Same seed, same messages; the next one is later and has the next sample number.
    sim::MessageGenerator again(7, QDateTime(QDate(2023, 6, 5), QTime(14, 3, 7)));
    EXPECT_EQ(again.next().values, m.values);
    const sim::Message second = gen.next();
    EXPECT_GT(second.timestamp, m.timestamp);
    EXPECT_EQ(second.sample.toLongLong(), m.sample.toLongLong() + 1);
}

// The program's end of a pseudo-terminal, answering as a receiver would (or not at all).
class Peer {
public:
    enum class Mode { Ack, Silent, NakFirstFrameTwice };
    Peer(const QString& port, Mode mode) : mode_(mode)
    {
        fd_ = ::open(port.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
        thread_ = std::thread([this] { loop(); });
    }
    ~Peer()
    {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    QByteArray received() { std::lock_guard g(m_); return bytes_; }
    int reads() const { return reads_; }

private:
    void loop()
    {
        int naks = 0;
        QByteArray pending;
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buf[512];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0)
                continue;
            ++reads_;
            {
                std::lock_guard g(m_);
                bytes_.append(buf, n);
            }
            pending.append(buf, n);
            const char last = buf[n - 1];
            if (mode_ == Mode::Silent)
                continue;
            if (last == astm::ENQ || last == astm::EOT || last == astm::LF) {
                char reply = astm::ACK;
                if (mode_ == Mode::NakFirstFrameTwice && last == astm::LF && pending.contains("\x02" "1") && naks < 2) {
                    ++naks;
                    reply = astm::NAK;
                }
                pending.clear();
                (void)!::write(fd_, &reply, 1);
            }
        }
    }
    Mode mode_;
    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex m_;
    QByteArray bytes_;
    std::atomic<int> reads_{0};
};

sim::Options quickOptions(int count, sim::Split split)
{
    sim::Options o;
    o.count = count;
    o.intervalMs = 0;
    o.seed = 11;
    o.split = split;
    o.timeoutMs = 5000;
    o.start = QDateTime(QDate(2024, 1, 31), QTime(23, 59, 30));
    return o;
}

TEST(Simulator, EverySplitModePutsTheSameBytesOnTheLine)
{
    for (sim::Split split : {sim::Split::Frames, sim::Split::Random, sim::Split::Bytes}) {
        sim::Line line;
        QString error;
        ASSERT_TRUE(line.openPseudoTerminal(&error)) << error.toStdString();
        Peer peer(line.portName(), Peer::Mode::Ack);
        sim::Simulator s(line, quickOptions(3, split));
        ASSERT_TRUE(s.run()) << s.error().toStdString();
        EXPECT_EQ(s.sent(), 3);
        EXPECT_EQ(s.acknowledged(), 3);
        EXPECT_EQ(s.framesAcknowledged(), 3 * 22);
        QByteArray expected;
        for (const sim::Message& m : s.history())
            expected += sim::wireBytes(m);
        EXPECT_EQ(peer.received(), expected);
    }
}

TEST(Simulator, SilentReceiverMakesItGiveUpWithAMessage)
{
    sim::Line line;
    QString error;
    ASSERT_TRUE(line.openPseudoTerminal(&error));
    Peer peer(line.portName(), Peer::Mode::Silent);
    sim::Options o = quickOptions(2, sim::Split::Frames);
    o.timeoutMs = 300;
    sim::Simulator s(line, o);
    EXPECT_FALSE(s.run());
    EXPECT_EQ(s.sent(), 1);
    EXPECT_EQ(s.acknowledged(), 0);
    EXPECT_TRUE(s.error().contains(QStringLiteral("no ACK to ENQ"))) << s.error().toStdString();
}

TEST(Simulator, RefusedFrameIsSentAgain)
{
    sim::Line line;
    QString error;
    ASSERT_TRUE(line.openPseudoTerminal(&error));
    Peer peer(line.portName(), Peer::Mode::NakFirstFrameTwice);
    sim::Simulator s(line, quickOptions(1, sim::Split::Frames));
    ASSERT_TRUE(s.run()) << s.error().toStdString();
    const QByteArray first = astm::recordFrames(1, sim::records(s.history()[0])[0])[0];
    EXPECT_EQ(peer.received().count(first), 3);
}

TEST(Simulator, BytesSentBeforeTheProgramOpensThePortWaitForIt)
{
    sim::Line line;
    QString error;
    ASSERT_TRUE(line.openPseudoTerminal(&error));
    sim::Simulator s(line, quickOptions(1, sim::Split::Frames));
    std::thread sender([&] { s.run(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    {
        Peer peer(line.portName(), Peer::Mode::Ack);
        sender.join();
        EXPECT_EQ(s.acknowledged(), 1) << s.error().toStdString();
        EXPECT_EQ(peer.received(), sim::wireBytes(s.history()[0]));
    }
}

TEST(SimulatorCommandLine, OptionsAreReadAndBadOnesRefused)
{
    sim::CommandLine cl;
    QString error;
    ASSERT_TRUE(sim::parseCommandLine({"--count", "5", "--interval", "250", "--seed", "9", "--split",
                                       "bytes", "--timeout", "3", "--start", "20230605140307"},
                                      cl, &error))
        << error.toStdString();
    EXPECT_EQ(cl.options.count, 5);
    EXPECT_EQ(cl.options.intervalMs, 250);
    EXPECT_EQ(cl.options.seed, 9u);
    EXPECT_EQ(cl.options.split, sim::Split::Bytes);
    EXPECT_EQ(cl.options.timeoutMs, 3000);
    EXPECT_EQ(cl.options.start, QDateTime(QDate(2023, 6, 5), QTime(14, 3, 7)));
    EXPECT_FALSE(cl.options.persistent);
    sim::CommandLine analyser;
    ASSERT_TRUE(sim::parseCommandLine({"--persistent", "--resend", "500", "--repeat", "20", "--eot-enq", "4"},
                                      analyser, &error))
        << error.toStdString();
    EXPECT_TRUE(analyser.options.persistent);
    EXPECT_EQ(analyser.options.resendDelayMs, 500);
    EXPECT_EQ(analyser.options.repeatOneIn, 20);
    EXPECT_EQ(analyser.options.eotEnqOneIn, 4);
    for (const QStringList& bad : {QStringList{"--count"}, QStringList{"--count", "-1"},
                                   QStringList{"--repeat", "-2"}, QStringList{"--eot-enq", "x"},
                                   QStringList{"--split", "words"}, QStringList{"--start", "2023"},
                                   QStringList{"--frobnicate", "1"}, QStringList{"--timeout", "0"}}) {
        sim::CommandLine c;
        EXPECT_FALSE(sim::parseCommandLine(bad, c, &error)) << bad.join(' ').toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(SimulatorProgram, AnnouncesThePortWritesItToSetIniAndReportsTheCounts)
{
    QTemporaryDir dir;
    const QString ini = dir.path() + QStringLiteral("/set.ini");
    ASSERT_TRUE(testsupport::writeFile(ini, "[MAIN]\r\nRate=9600\r\nPort=COM1\r\n"));
    QStringList out;
    QStringList err;
    std::atomic<bool> stop{false};
    // Nobody answers: the program must still name its port first, then fail with status 1.
    const int status = sim::runProgram({"--count", "1", "--timeout", "1", "--ini", ini},
                                       [&](const QString& s) { out.append(s); },
                                       [&](const QString& s) { err.append(s); }, &stop);
    EXPECT_EQ(status, 1);
    ASSERT_FALSE(out.isEmpty());
    EXPECT_TRUE(out.first().startsWith(QStringLiteral("/dev/pts/"))) << out.first().toStdString();
    EXPECT_EQ(IniFile(ini).readString("MAIN", "Port", "ERROR"), out.first());
    EXPECT_EQ(IniFile(ini).readString("MAIN", "Rate", "ERROR"), QStringLiteral("9600"));
    EXPECT_EQ(out.last(), QStringLiteral("Messages sent: 1, acknowledged: 0"));
    EXPECT_TRUE(err.join(' ').contains(QStringLiteral("no ACK to ENQ"))) << err.join(' ').toStdString();
}

TEST(SimulatorProgram, BuiltProgramRefusesBadArgumentsWithItsUsage)
{
    const QString exe = testsupport::binDir() + QStringLiteral("/hematix-sim");
    if (!QFile::exists(exe))
        GTEST_SKIP() << "hematix-sim is not built in " << testsupport::binDir().toStdString();
    QProcess p;
    p.start(exe, {"--split", "sideways"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 2);
    EXPECT_TRUE(p.readAllStandardError().contains("Usage: hematix-sim"));
}

} // namespace
