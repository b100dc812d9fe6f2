#include "link/sim/AnalyserSimulator.h"

#include "engine/Cp1251.h"
#include "link/AstmFrame.h"
#include "platform/IniFile.h"

#include <QElapsedTimer>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace sim {

const std::array<ResultKind, 18> kResults{{
    {"WBC", "10^9/L"}, {"LY%", "%"},      {"MO%", "%"},     {"GR%", "%"},    {"LY#", "10^9/L"},
    {"MO#", "10^9/L"}, {"GR#", "10^9/L"}, {"RBC", "10^12/L"}, {"Hgb", "g/L"}, {"Hct", "%"},
    {"MCV", "fL"},     {"MCH", "pg"},     {"MCHC", "g/L"},  {"RDW", "%"},    {"Plt", "10^9/L"},
    {"MPV", "fL"},     {"Pct", "%"},      {"PDW", "%"},
}};

namespace {

struct Range {
    double low;
    double high;
    int decimals;
};

// Adult reference ranges, a little widened so that some results fall outside them.
constexpr std::array<Range, 18> kRanges{{
    {3.5, 11.5, 1}, {17, 46, 1},    {2, 9.5, 1},   {44, 74, 1},   {0.9, 3.9, 2},  {0.12, 0.9, 2},
    {1.8, 7.4, 2},  {3.7, 5.8, 2},  {110, 172, 0}, {34, 51, 1},   {79, 100, 1},   {26, 34.5, 1},
    {310, 362, 0},  {11.2, 15.5, 1}, {140, 440, 0}, {6.8, 11.8, 1}, {0.11, 0.39, 2}, {9.5, 18.5, 1},
}};

const char* const kSurnames[] = {"Иванов", "Петрова", "Сидоренко", "Кузнецова", "Смирнов",
                                 "Попова", "Волков", "Морозова", "Лебедев", "Ёлкина"};
const char* const kNames[] = {"Анна", "Игорь", "Ольга", "Сергей", "Мария", "Юрий"};

QByteArray cp1251Bytes(const char* utf8)
{
    QByteArray out;
    cp1251::encode(QString::fromUtf8(utf8), out);
    return out;
}

QString errnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

bool setRaw(int fd, bool serial)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return false;
    ::cfmakeraw(&t);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    if (serial) {
        ::cfsetispeed(&t, B9600);
        ::cfsetospeed(&t, B9600);
    }
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

} // namespace

QList<QByteArray> records(const Message& m)
{
    QList<QByteArray> out;
    out.append("H|\\^&|||HX-3^1.04^SN004217|||||||P|1|" + m.timestamp);
    out.append("P|1||" + m.sample + "||" + m.patient + "||||U");
    out.append("O|1|" + m.sample + "||^^^CBC|R|" + m.timestamp + "|||||N||||||||||||||F");
    for (size_t i = 0; i < kResults.size(); ++i) {
        out.append("R|" + QByteArray::number(static_cast<int>(i) + 1) + "|^^^" + kResults[i].tag +
                   "|" + m.values[i] + "|" + kResults[i].unit + "||N||F||||" + m.timestamp);
    }
    out.append("L|1|N");
    return out;
}

QByteArray wireBytes(const Message& m)
{
    QByteArray out(1, astm::ENQ);
    int number = 1;
    for (const QByteArray& r : records(m)) {
        for (const QByteArray& f : astm::recordFrames(number, r)) {
            out += f;
            number = astm::nextFrameNumber(number);
        }
    }
    out += astm::EOT;
    return out;
}

MessageGenerator::MessageGenerator(std::uint32_t seed, QDateTime start)
    : random_(seed),
      time_(start.isValid() ? start : QDateTime::currentDateTime()),
      sample_(100000000u + (seed % 8000u) * 100000u)
{
}

Message MessageGenerator::next()
{
    Message m;
    m.timestamp = time_.toString(QStringLiteral("yyyyMMddhhmmss")).toLatin1();
    m.sample = QByteArray::number(static_cast<qulonglong>(sample_)).rightJustified(9, '0').right(9);
    std::uniform_int_distribution<int> surname(0, std::size(kSurnames) - 1);
    std::uniform_int_distribution<int> name(0, std::size(kNames) - 1);
    m.patient = cp1251Bytes(kSurnames[surname(random_)]) + '^' + cp1251Bytes(kNames[name(random_)]);
    std::uniform_int_distribution<int> oneIn(0, 39);
    for (size_t i = 0; i < kResults.size(); ++i) {
        const Range& r = kRanges[i];
        std::uniform_real_distribution<double> value(r.low, r.high);
        QByteArray text = QByteArray::number(value(random_), 'f', r.decimals);
        const int roll = oneIn(random_);
        if (roll == 0)
            text = "----";                      // no valid result for this parameter
        else if (roll == 1)
            text = text.rightJustified(5, ' '); // some analysers pad to a fixed width
        m.values[i] = text;
    }
    std::uniform_int_distribution<int> gap(30, 150);
    time_ = time_.addSecs(gap(random_));
    ++sample_;
    return m;
}

Line::~Line()
{
    if (slave_ >= 0)
        ::close(slave_);
    if (fd_ >= 0)
        ::close(fd_);
}

bool Line::openPseudoTerminal(QString* error)
{
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) {
        if (error)
            *error = QStringLiteral("Cannot open a pseudo-terminal: %1").arg(errnoText());
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(fd_, name, sizeof name) != 0) {
        if (error)
            *error = QStringLiteral("Cannot name the pseudo-terminal: %1").arg(errnoText());
        return false;
    }
    portName_ = QString::fromLocal8Bit(name);
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0 || !setRaw(slave_, false)) {
        if (error)
            *error = QStringLiteral("Cannot set up %1: %2").arg(portName_, errnoText());
        return false;
    }
    return true;
}

bool Line::openDevice(const QString& path, QString* error)
{
    fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        if (error)
            *error = QStringLiteral("Cannot open %1: %2").arg(path, errnoText());
        return false;
    }
    if (!::isatty(fd_) || !setRaw(fd_, true)) {
        if (error)
            *error = QStringLiteral("%1 is not a serial device that takes 9600 8N1: %2")
                         .arg(path, errnoText());
        return false;
    }
    portName_ = path;
    return true;
}

bool Line::write(const QByteArray& bytes, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return false;
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(std::min<qint64>(left, 100)));
    }
    return true;
}

int Line::readByte(int timeoutMs, const std::atomic<bool>* stop)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        unsigned char byte = 0;
        const ssize_t n = ::read(fd_, &byte, 1);
        if (n == 1)
            return byte;
        if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
            return -1;
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || (stop && stop->load()))
            return -1;
        pollfd p{fd_, POLLIN, 0};
        // Short slices: a stop request is seen quickly, and a master whose other end is
        // closed reports hang-up at once instead of waiting.
        if (::poll(&p, 1, static_cast<int>(std::min<qint64>(left, 50))) > 0 && !(p.revents & POLLIN))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void Line::releaseExclusive()
{
    if (slave_ >= 0)
        ::ioctl(slave_, TIOCNXCL);
}

void Line::drain()
{
    char buf[256];
    while (::read(fd_, buf, sizeof buf) > 0) {
    }
}

Simulator::Simulator(Line& line, Options options, Log log)
    : line_(line), options_(std::move(options)), log_(std::move(log)), splitRandom_(options_.seed ^ 0x5EEDu)
{
}

bool Simulator::run()
{
    MessageGenerator generator(options_.seed, options_.start);
    for (int i = 0; options_.count == 0 || i < options_.count; ++i) {
        // An EOT held back goes out at once with the next ENQ: the analyser does not wait.
        if (i > 0 && !eotPending_ && !sleepMs(options_.intervalMs))
            break;
        if (stop_.load())
            break;
        const Message m = generator.next();
        if (options_.count > 0)  // an endless run keeps no history
            history_.append(m);
        ++sent_;
        if (!deliver(m, options_.count > 0 && i + 1 == options_.count)) {
            if (log_)
                log_(QStringLiteral("Message %1 (sample %2): %3")
                         .arg(i + 1)
                         .arg(QString::fromLatin1(m.sample), error_));
            return false;
        }
        ++acknowledged_;
        if (log_)
            log_(QStringLiteral("Message %1 (sample %2, %3): acknowledged")
                     .arg(i + 1)
                     .arg(QString::fromLatin1(m.sample), QString::fromLatin1(m.timestamp)));
    }
    if (eotPending_ && !stop_.load()) {
        eotPending_ = false;
        sendPieces(QByteArray(1, astm::EOT));
    }
    if (stop_.load() && error_.isEmpty())
        error_ = QStringLiteral("Stopped");
    return error_.isEmpty();
}

bool Simulator::roll(int oneIn)
{
    if (oneIn <= 0)
        return false;
    std::uniform_int_distribution<int> dice(1, oneIn);
    return dice(splitRandom_) == 1;
}

bool Simulator::deliver(const Message& m, bool lastOne)
{
    for (;;) {
        if (sendMessage(m, lastOne)) {
            error_.clear();
            return true;
        }
        if (!options_.persistent || stop_.load() || lineFailed_)
            return false;
        // Given up: EOT, then the whole message again later.
        ++givenUp_;
        eotPending_ = false;
        if (!sendPieces(QByteArray(1, astm::EOT)) || !sleepMs(options_.resendDelayMs))
            return false;
    }
}

bool Simulator::sendMessage(const Message& m, bool lastOne)
{
    line_.drain();  // a late ACK from an earlier exchange must not answer this one
    QByteArray enq(1, astm::ENQ);
    const bool packet = eotPending_;
    if (eotPending_) {
        enq.prepend(astm::EOT);
        eotPending_ = false;
        ++eotEnqPackets_;
    }
    if (!sendAndWaitAck(enq, packet ? QStringLiteral("EOT+ENQ") : QStringLiteral("ENQ"), packet))
        return false;
    int number = 1;
    int index = 0;
    for (const QByteArray& record : records(m)) {
        for (const QByteArray& f : astm::recordFrames(number, record)) {
            if (!sendAndWaitAck(f, QStringLiteral("frame %1").arg(++index)))
                return false;
            ++framesAcknowledged_;
            // As if that ACK had been lost: the same frame again, which must be answered again.
            if (roll(options_.repeatOneIn)) {
                if (!sendAndWaitAck(f, QStringLiteral("repeated frame %1").arg(index)))
                    return false;
                ++framesRepeated_;
            }
            number = astm::nextFrameNumber(number);
        }
    }
    // The last frame answered: the message is delivered. Its EOT may go with the next ENQ.
    if (!lastOne && roll(options_.eotEnqOneIn)) {
        eotPending_ = true;
        return true;
    }
    if (options_.persistent) {
        // Answered or not, the message is delivered; a late answer is drained before the next.
        sendPieces(QByteArray(1, astm::EOT));
        int reply = -1;
        do
            reply = line_.readByte(options_.timeoutMs, &stop_);
        while (reply >= 0 && reply != astm::ACK && reply != astm::NAK);
        return !lineFailed_;
    }
    // The receiver answers the EOT too, once the message is safely kept.
    return sendAndWaitAck(QByteArray(1, astm::EOT), QStringLiteral("EOT"));
}

bool Simulator::sendPieces(const QByteArray& bytes, bool whole)
{
    QList<QByteArray> pieces;
    switch (whole ? Split::Frames : options_.split) {
    case Split::Frames:
        pieces.append(bytes);
        break;
    case Split::Bytes:
        for (char c : bytes)
            pieces.append(QByteArray(1, c));
        break;
    case Split::Random: {
        std::uniform_int_distribution<int> length(1, 32);
        for (qsizetype at = 0; at < bytes.size();) {
            const qsizetype n = std::min<qsizetype>(length(splitRandom_), bytes.size() - at);
            pieces.append(bytes.mid(at, n));
            at += n;
        }
        break;
    }
    }
    for (const QByteArray& piece : pieces) {
        if (!line_.write(piece, options_.timeoutMs)) {
            lineFailed_ = true;
            error_ = QStringLiteral("cannot write to %1: %2").arg(line_.portName(), errnoText());
            return false;
        }
        if (options_.paceBytesPerSecond > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(
                piece.size() * 1000000 / options_.paceBytesPerSecond));
    }
    return true;
}

bool Simulator::sendAndWaitAck(const QByteArray& bytes, const QString& what, bool whole)
{
    // A NAK asks for the same bytes again; six refusals end the message, as the analyser does.
    constexpr int kMaxTries = 6;
    for (int tries = 1;; ++tries) {
        if (!sendPieces(bytes, whole))
            return false;
        int reply = -1;
        // Anything but ACK or NAK is noise on the line; keep waiting for the answer.
        do
            reply = line_.readByte(options_.timeoutMs, &stop_);
        while (reply >= 0 && reply != astm::ACK && reply != astm::NAK);
        if (reply == astm::ACK)
            return true;
        if (reply < 0 && (stop_.load() || !options_.persistent)) {
            error_ = stop_.load() ? QStringLiteral("Stopped")
                                  : QStringLiteral("no ACK to %1 within %2 s, giving up")
                                        .arg(what)
                                        .arg(options_.timeoutMs / 1000.0);
            return false;
        }
        if (tries >= kMaxTries) {
            error_ = QStringLiteral("%1 not acknowledged after %2 tries, giving up").arg(what).arg(tries);
            return false;
        }
        if (reply < 0) {
            // Nothing came back: the same bytes again, anything late dropped first.
            ++retries_;
            line_.drain();
        }
    }
}

bool Simulator::sleepMs(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        if (stop_.load())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<qint64>(50, ms - clock.elapsed())));
    }
    return true;
}

QString usage()
{
    return QStringLiteral(
        "Usage: hematix-sim [options]\n"
        "Plays the haematology analyser: sends result messages and waits for ACK.\n"
        "  --device PATH      send on this serial device (default: a new pseudo-terminal)\n"
        "  --ini FILE         write the port name into FILE as Port= in section MAIN\n"
        "  --count N          messages to send, 0 for no end (default 1)\n"
        "  --interval MS      pause between messages in milliseconds (default 1000)\n"
        "  --seed N           seed of the values and splits (default 1)\n"
        "  --split MODE       frames, random or bytes: how writes cut the frames (default frames)\n"
        "  --timeout S        seconds to wait for each ACK (default 15)\n"
        "  --pace BPS         at most this many bytes per second (default: no limit)\n"
        "  --start STAMP      time of the first message, YYYYMMDDhhmmss (default: now)\n"
        "  --persistent       send a step again when unanswered, give a message up with EOT\n"
        "                     after six tries and send it again whole until it is delivered\n"
        "  --resend MS        pause before a given-up message is sent again (default 2000)\n"
        "  --repeat N         send one frame in N twice, as after a lost ACK (default: none)\n"
        "  --eot-enq N        send one EOT in N with the next ENQ in one write (default: none)\n"
        "  --help             this text\n");
}

bool parseCommandLine(const QStringList& args, CommandLine& out, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            out.help = true;
            continue;
        }
        if (a == QLatin1String("--persistent")) {
            out.options.persistent = true;
            continue;
        }
        if (i + 1 >= args.size())
            return fail(QStringLiteral("%1 needs a value, or is not an option").arg(a));
        const QString v = args[++i];
        bool ok = true;
        auto number = [&](qlonglong low, qlonglong high) {
            const qlonglong n = v.toLongLong(&ok);
            ok = ok && n >= low && n <= high;
            return n;
        };
        if (a == QLatin1String("--device")) {
            out.device = v;
        } else if (a == QLatin1String("--ini")) {
            out.iniFile = v;
        } else if (a == QLatin1String("--count")) {
            out.options.count = static_cast<int>(number(0, 100000000));
        } else if (a == QLatin1String("--interval")) {
            out.options.intervalMs = static_cast<int>(number(0, 86400000));
        } else if (a == QLatin1String("--seed")) {
            out.options.seed = static_cast<std::uint32_t>(number(0, 0xFFFFFFFFll));
        } else if (a == QLatin1String("--timeout")) {
            out.options.timeoutMs = static_cast<int>(number(1, 3600) * 1000);
        } else if (a == QLatin1String("--pace")) {
            out.options.paceBytesPerSecond = static_cast<int>(number(1, 100000000));
        } else if (a == QLatin1String("--resend")) {
            out.options.resendDelayMs = static_cast<int>(number(0, 3600000));
        } else if (a == QLatin1String("--repeat")) {
            out.options.repeatOneIn = static_cast<int>(number(0, 1000000));
        } else if (a == QLatin1String("--eot-enq")) {
            out.options.eotEnqOneIn = static_cast<int>(number(0, 1000000));
        } else if (a == QLatin1String("--start")) {
            out.options.start = QDateTime::fromString(v, QStringLiteral("yyyyMMddhhmmss"));
            ok = out.options.start.isValid();
        } else if (a == QLatin1String("--split")) {
            if (v == QLatin1String("frames"))
                out.options.split = Split::Frames;
            else if (v == QLatin1String("random"))
                out.options.split = Split::Random;
            else if (v == QLatin1String("bytes"))
                out.options.split = Split::Bytes;
            else
                ok = false;
        } else {
            return fail(QStringLiteral("Unknown option %1").arg(a));
        }
        if (!ok)
            return fail(QStringLiteral("Bad value for %1: %2").arg(a, v));
    }
    return true;
}

int runProgram(const QStringList& args, const Simulator::Log& out, const Simulator::Log& err, std::atomic<bool>* stopFlag)
{
    CommandLine cl;
    QString error;
    if (!parseCommandLine(args, cl, &error)) {
        err(error + QLatin1Char('\n') + usage());
        return 2;
    }
    if (cl.help) {
        out(usage());
        return 0;
    }
    Line line;
    const bool opened = cl.device.isEmpty() ? line.openPseudoTerminal(&error)
                                            : line.openDevice(cl.device, &error);
    if (!opened) {
        err(error);
        return 1;
    }
    // The port name first and alone, so that scripts can take it from the first line.
    out(line.portName());
    if (!cl.iniFile.isEmpty()) {
        try {
            IniFile(cl.iniFile).writeString(QStringLiteral("MAIN"), QStringLiteral("Port"), line.portName());
        } catch (const Exception& e) {
            err(e.message());
            return 1;
        }
    }
    Simulator simulator(line, cl.options, out);
    std::thread watcher;
    std::atomic<bool> done{false};
    if (stopFlag) {
        watcher = std::thread([&] {
            while (!done.load()) {
                if (stopFlag->load()) {
                    simulator.stop();
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    }
    const bool ok = simulator.run();
    done.store(true);
    if (watcher.joinable())
        watcher.join();
    out(QStringLiteral("Messages sent: %1, acknowledged: %2").arg(simulator.sent()).arg(simulator.acknowledged()));
    if (cl.options.persistent || cl.options.repeatOneIn > 0 || cl.options.eotEnqOneIn > 0)
        out(QStringLiteral("Frames repeated: %1, EOT+ENQ packets: %2, steps sent again: %3, messages given up and sent again: %4")
                .arg(simulator.framesRepeated())
                .arg(simulator.eotEnqPackets())
                .arg(simulator.retries())
                .arg(simulator.givenUp()));
    // Being asked to stop is not a failure; a message left unanswered is.
    if (!ok && !simulator.stopped()) {
        err(QStringLiteral("hematix-sim: %1").arg(simulator.error()));
        return 1;
    }
    return 0;
}

} // namespace sim
