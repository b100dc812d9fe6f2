#include "link/SerialLink.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The analyser's end of a pseudo-terminal pair; the link opens the other end by name.
class PtyAnalyser {
public:
    PtyAnalyser()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        termios t{};
        ::tcgetattr(master_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master_, TCSANOW, &t);
        name_ = QString::fromLocal8Bit(::ptsname(master_));
    }
    ~PtyAnalyser() { closeEnd(); }
    const QString& portName() const { return name_; }
    void send(const QByteArray& bytes) { ASSERT_EQ(::write(master_, bytes.constData(), size_t(bytes.size())), bytes.size()); }
    // Bytes the link wrote back, waiting up to timeoutMs for at least one.
    QByteArray receive(int timeoutMs = 2000)
    {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return {};
        char buf[256];
        ssize_t n = ::read(master_, buf, sizeof buf);
        return n > 0 ? QByteArray(buf, int(n)) : QByteArray();
    }
    void closeEnd()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    QString name_;
};

// Collects what the reader thread hands over and answers ACK after every chunk ending in LF,
// as the frame receiver does.
struct Collector {
    std::mutex m;
    QByteArray bytes;
    std::atomic<int> chunks{0};
    SerialLink* link = nullptr;
    void onChunk(const char* data, int n)
    {
        {
            std::lock_guard lock(m);
            bytes.append(data, n);
        }
        ++chunks;
        if (n > 0 && data[n - 1] == '\n')
            link->SendAck();
    }
    QByteArray snapshot()
    {
        std::lock_guard lock(m);
        return bytes;
    }
};

bool waitFor(const std::function<bool()>& cond, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return false;
        QThread::msleep(2);
    }
    return true;
}

double processCpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST(SerialLink, LineIsRaw9600_8N1AndEveryByteArrivesUnchanged)
{
    PtyAnalyser analyser;
    ASSERT_FALSE(analyser.portName().isEmpty());
    Collector c;
    SerialLink link([&](const char* d, int n) { c.onChunk(d, n); });
    c.link = &link;
    ASSERT_TRUE(link.Start(analyser.portName()));
    const auto ls = link.lineSettings();
    EXPECT_EQ(ls.baud, 9600);
    EXPECT_EQ(ls.dataBits, 8);
    EXPECT_FALSE(ls.parity);
    EXPECT_EQ(ls.stopBits, 1);
    EXPECT_TRUE(ls.raw);

    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    all.append("\x11\x13\x7f\r\n\r\x00\n", 8);
    analyser.send(all);
    ASSERT_TRUE(waitFor([&] { return c.snapshot().size() >= all.size(); }));
    EXPECT_EQ(c.snapshot(), all);
    EXPECT_EQ(analyser.receive(), QByteArray("\x06"));
    link.Stop();
}

TEST(SerialLink, EachFrameIsAcknowledged)
{
    PtyAnalyser analyser;
    Collector c;
    SerialLink link([&](const char* d, int n) { c.onChunk(d, n); });
    c.link = &link;
    ASSERT_TRUE(link.Start(analyser.portName()));
    for (int i = 0; i < 20; ++i) {
        analyser.send(QByteArray("\x02") + QByteArray::number(i % 8) + "R|1|^^^WBC|7.5|\r\x03" "AB\r\n");
        EXPECT_EQ(analyser.receive(), QByteArray("\x06")) << "frame " << i;
    }
}

TEST(SerialLink, SecondStartKeepsTheOneReaderAndBadPortsStayClosed)
{
    PtyAnalyser analyser;
    Collector c;
    SerialLink link([&](const char* d, int n) { c.onChunk(d, n); });
    c.link = &link;
    EXPECT_FALSE(link.Start("ERROR"));
    EXPECT_FALSE(link.Start("/dev/null")) << "not a terminal";
    EXPECT_FALSE(link.listening());
    ASSERT_TRUE(link.Start(analyser.portName()));
    EXPECT_TRUE(link.Start(analyser.portName()));
    // Another link cannot take the port while this one holds it.
    SerialLink other([](const char*, int) {});
    EXPECT_FALSE(other.Start(analyser.portName()));
    analyser.send("ab\n");
    ASSERT_TRUE(waitFor([&] { return c.snapshot() == "ab\n"; }));
    EXPECT_EQ(analyser.receive(), QByteArray("\x06")) << "exactly one reader answered";
    EXPECT_TRUE(analyser.receive(200).isEmpty());
}

TEST(SerialLink, StopReturnsPromptlyWhileTheReaderWaits)
{
    PtyAnalyser analyser;
    SerialLink link([](const char*, int) {});
    ASSERT_TRUE(link.Start(analyser.portName()));
    QThread::msleep(50);
    QElapsedTimer t;
    t.start();
    link.Stop();
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_FALSE(link.readerRunning());
    SerialLink never([](const char*, int) {});
    never.Stop(); // never started: nothing to end, no error
}

TEST(SerialLink, ClosingTheOtherEndStopsTheReaderWithoutSpinning)
{
    PtyAnalyser analyser;
    Collector c;
    SerialLink link([&](const char* d, int n) { c.onChunk(d, n); });
    c.link = &link;
    ASSERT_TRUE(link.Start(analyser.portName()));
    analyser.send("xy");
    ASSERT_TRUE(waitFor([&] { return c.snapshot() == "xy"; }));
    analyser.closeEnd();
    const double before = processCpuSeconds();
    QThread::msleep(1000);
    const double used = processCpuSeconds() - before;
    EXPECT_LT(used, 0.2) << "the reader spins after the other end closed";
    EXPECT_TRUE(waitFor([&] { return !link.readerRunning(); }));
    link.Stop();
}

namespace {
std::atomic<int> emptyReadsToGive{0};
long readThatFindsNothingFirst(int fd, char* buffer, unsigned long max)
{
    if (emptyReadsToGive.fetch_sub(1) > 0)
        return 0;
    return long(::read(fd, buffer, max));
}
} // namespace

TEST(SerialLink, ReadThatFindsNothingKeepsTheReaderListening)
{
    // A wait that ends with bytes announced, then a read that finds none: the line is still there,
    // only the device had nothing yet. The reader goes on and takes what comes next.
    PtyAnalyser analyser;
    Collector c;
    SerialLink link([&](const char* d, int n) { c.onChunk(d, n); });
    c.link = &link;
    emptyReadsToGive = 1;
    SerialPort::setReadForTesting(readThatFindsNothingFirst);
    ASSERT_TRUE(link.Start(analyser.portName()));
    analyser.send("ab");
    EXPECT_TRUE(waitFor([&] { return c.snapshot() == "ab"; })) << c.snapshot().toStdString();
    EXPECT_LE(emptyReadsToGive.load(), 0) << "the empty read was given";
    analyser.send("cd");
    EXPECT_TRUE(waitFor([&] { return c.snapshot() == "abcd"; })) << c.snapshot().toStdString();
    EXPECT_TRUE(link.readerRunning());
    link.Stop();
    SerialPort::setReadForTesting(nullptr);
}

// An unplugged adapter ends the reader; Start must then open the port again, not count the
// dead link as listening.
TEST(SerialLink, StartAfterTheDeviceVanishedOpensThePortAgain)
{
    auto unplugged = std::make_unique<PtyAnalyser>();
    Collector c;
    SerialLink link([&](const char* d, int n) { c.onChunk(d, n); });
    c.link = &link;
    ASSERT_TRUE(link.Start(unplugged->portName()));
    const QString gone = unplugged->portName();
    unplugged.reset();
    ASSERT_TRUE(waitFor([&] { return !link.readerRunning(); }));
    // Still away: Start fails and the link is closed.
    EXPECT_FALSE(link.Start(gone));
    EXPECT_FALSE(link.listening());
    // Plugged in again (a new terminal stands for it): Start listens and answers.
    PtyAnalyser back;
    ASSERT_TRUE(link.Start(back.portName()));
    EXPECT_TRUE(link.readerRunning());
    back.send("cd\n");
    ASSERT_TRUE(waitFor([&] { return c.snapshot().endsWith("cd\n"); }));
    EXPECT_EQ(back.receive(), QByteArray("\x06"));
    link.Stop();
}
