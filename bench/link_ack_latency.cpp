// ACK latency through a pseudo-terminal: from writing a frame to reading its ACK, through the
// serial link's reader thread and the frame receiver, in whole exchanges as the analyser makes
// them (ENQ, numbered frames, EOT), against a bare echo loop on the same kind of terminal pair
// that answers the same steps (the floor). One byte time at 9600 baud is 1.04 ms.
#include "bench/support/Outcome.h"
#include "bench/support/RunTimes.h"
#include "link/sim/AnalyserSimulator.h"
#include "link/AstmFrame.h"
#include "link/CaptureFiles.h"
#include "link/FrameReceiver.h"
#include "link/SerialLink.h"

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Pty {
    int master = -1;
    QString slave;
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(master);
        ::unlockpt(master);
        termios t{};
        ::tcgetattr(master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
        slave = QString::fromLocal8Bit(::ptsname(master));
    }
    ~Pty() { ::close(master); }
};

// The messages of one run as the analyser frames them: per message its frames, numbered from 1
// after the ENQ, the terminator frame last.
std::vector<QList<QByteArray>> messageFrames(int count)
{
    sim::MessageGenerator gen(7, QDateTime(QDate(2023, 6, 5), QTime(8, 0, 0)));
    std::vector<QList<QByteArray>> out;
    for (int i = 0; i < count; ++i) {
        QList<QByteArray> frames;
        int number = 1;
        for (const QByteArray& record : sim::records(gen.next()))
            for (const QByteArray& f : astm::recordFrames(number, record)) {
                frames.append(f);
                number = astm::nextFrameNumber(number);
            }
        out.push_back(frames);
    }
    return out;
}

struct Exchange {
    std::vector<double> us;   // per timed frame
    int acks = 0;             // ACKs received, the ENQs' included
    int expectedAcks = 0;
};

// Writes bytes and waits up to two seconds for one ACK; the microseconds taken, or -1.
double step(int master, const QByteArray& bytes)
{
    const auto t0 = Clock::now();
    if (::write(master, bytes.constData(), size_t(bytes.size())) != bytes.size())
        return -1;
    char reply = 0;
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0 || ::read(master, &reply, 1) != 1 || reply != astm::ACK)
        return -1;
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

// Sends each message as the analyser does (ENQ, frames, EOT), every step but the EOT waiting for
// its ACK, and stops at the first step left unanswered. Every frame but the terminator is timed:
// the terminator's ACK waits for the capture file to reach the disk, a cost of the disk.
Exchange exchange(int master, const std::vector<QList<QByteArray>>& messages)
{
    Exchange e;
    for (const QList<QByteArray>& frames : messages)
        e.expectedAcks += 1 + int(frames.size());
    for (const QList<QByteArray>& frames : messages) {
        if (step(master, QByteArray(1, astm::ENQ)) < 0)
            return e;
        ++e.acks;
        for (qsizetype i = 0; i < frames.size(); ++i) {
            const double us = step(master, frames[i]);
            if (us < 0)
                return e;
            ++e.acks;
            if (i + 1 < frames.size())
                e.us.push_back(us);
        }
        if (::write(master, &astm::EOT, 1) != 1)
            return e;
    }
    return e;
}

using benchsupport::percentile;

void BM_AckLatency(benchmark::State& state)
{
    // 48 messages of 21 timed frames: about 1,000 ACKs.
    const auto messages = messageFrames(benchsupport::smoke() ? 2 : 48);
    double median = 0, p99 = 0, floorMedian = 0, floorP99 = 0;
    for (auto _ : state) {
        {
            // The floor: a plain blocking reader that answers every ENQ and every LF at once.
            Pty pty;
            const int fd = ::open(pty.slave.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
            termios t{};
            ::tcgetattr(fd, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd, TCSANOW, &t);
            std::atomic<bool> stop{false};
            std::thread echo([&] {
                char buf[512];
                while (!stop) {
                    pollfd p{fd, POLLIN, 0};
                    if (::poll(&p, 1, 100) <= 0)
                        continue;
                    const ssize_t n = ::read(fd, buf, sizeof buf);
                    if (n > 0 && (buf[n - 1] == astm::LF || buf[n - 1] == astm::ENQ))
                        (void)!::write(fd, &astm::ACK, 1);
                }
            });
            const Exchange e = exchange(pty.master, messages);
            stop = true;
            echo.join();
            ::close(fd);
            if (!benchsupport::check(state, e.acks == e.expectedAcks,
                                     "the floor answered " + std::to_string(e.acks) + " of " + std::to_string(e.expectedAcks) + " steps"))
                return;
            floorMedian = percentile(e.us, 0.5);
            floorP99 = percentile(e.us, 0.99);
        }
        {
            QTemporaryDir dir;
            const QString folder = dir.path() + "/";
            QDir(folder).mkpath("Temp");
            Pty pty;
            SerialLink* linkPtr = nullptr;
            FrameReceiver receiver(folder, [&] { linkPtr->SendAck(); });
            SerialLink link([&](const char* d, int n) { receiver.receive(d, n); });
            linkPtr = &link;
            link.Start(pty.slave);
            const Exchange e = exchange(pty.master, messages);
            link.Stop();
            if (!benchsupport::check(state, e.acks == e.expectedAcks,
                                     "the receiver answered " + std::to_string(e.acks) + " of " + std::to_string(e.expectedAcks) + " steps"))
                return;
            const qsizetype captured = capture::waitingFiles(folder).size();
            if (!benchsupport::check(state, captured == qsizetype(messages.size()),
                                     "the receiver captured " + std::to_string(captured) + " of " + std::to_string(messages.size()) + " messages"))
                return;
            median = percentile(e.us, 0.5);
            p99 = percentile(e.us, 0.99);
        }
    }
    state.counters["median_us"] = median;
    state.counters["p99_us"] = p99;
    state.counters["floor_median_us"] = floorMedian;
    state.counters["floor_p99_us"] = floorP99;
    state.counters["median_vs_floor"] = median / floorMedian;
    state.counters["median_vs_byte_time"] = median / 1041.7;
}
BENCHMARK(BM_AckLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchsupport::takeSmokeFlag(argc, argv);
    return benchsupport::runBenchmarks(argc, argv) ? 0 : 1;
}
