// ACK latency through a pseudo-terminal: from writing a frame's final LF to reading the ACK,
// through the serial link's reader thread and the frame receiver, against a bare echo loop on
// the same kind of terminal pair (the floor). One byte time at 9600 baud is 1.04 ms.
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

const QByteArray kFrame = QByteArray("\x02" "3R|1|^^^WBC|7.5|10^9/L|||N||||\r\x03" "4F\r\n");

// Sends frames, each waiting for its ACK; returns the latencies in microseconds.
std::vector<double> exchange(int master, int frames)
{
    std::vector<double> us;
    us.reserve(size_t(frames));
    char ack;
    for (int i = 0; i < frames; ++i) {
        const auto t0 = Clock::now();
        if (::write(master, kFrame.constData(), size_t(kFrame.size())) != kFrame.size())
            break;
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0 || ::read(master, &ack, 1) != 1)
            break;
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    return us;
}

double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))];
}

void BM_AckLatency(benchmark::State& state)
{
    const int frames = 1000;
    double median = 0, p99 = 0, floorMedian = 0, floorP99 = 0;
    for (auto _ : state) {
        {
            // The floor: a plain blocking reader that answers every LF at once.
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
                    if (n > 0 && buf[n - 1] == '\n')
                        (void)!::write(fd, "\x06", 1);
                }
            });
            const auto lat = exchange(pty.master, frames);
            stop = true;
            echo.join();
            ::close(fd);
            floorMedian = percentile(lat, 0.5);
            floorP99 = percentile(lat, 0.99);
        }
        {
            QTemporaryDir dir;
            QDir(dir.path()).mkpath("Temp");
            Pty pty;
            SerialLink* linkPtr = nullptr;
            FrameReceiver receiver(dir.path() + "/", [&] { linkPtr->SendAck(); });
            SerialLink link([&](const char* d, int n) { receiver.receive(d, n); });
            linkPtr = &link;
            link.Start(pty.slave);
            const auto lat = exchange(pty.master, frames);
            link.Stop();
            median = percentile(lat, 0.5);
            p99 = percentile(lat, 0.99);
        }
    }
    state.counters["median_us"] = median;
    state.counters["p99_us"] = p99;
    state.counters["floor_median_us"] = floorMedian;
    state.counters["floor_p99_us"] = floorP99;
    state.counters["median_vs_floor"] = floorMedian > 0 ? median / floorMedian : 0;
    state.counters["median_vs_byte_time"] = median / 1041.7;
}
BENCHMARK(BM_AckLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
