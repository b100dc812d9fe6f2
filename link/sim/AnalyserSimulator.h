#pragma once
// Plays the haematology analyser on a line: result messages with realistic values, sent the way
// the analyser sends them (ENQ, one frame per record, EOT), waiting for ACK after each step.
// The program hematix-sim is a thin front to this unit; tests drive it directly.
//
// Knows: the analyser's records and their framing, raw terminals (a new pseudo-terminal or a
// device at 9600 8N1), its command line, and Port= in an INI file to hand the port name over.
// Must not know: the receiver, capture files, the result table, windows. Untrusted: every byte
// the other end sends (anything but ACK or NAK is noise) and the command line's arguments.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <random>

namespace sim {

// The eighteen results in the order the analyser sends them.
struct ResultKind {
    const char* tag;   // as it appears in the record's test id, "^^^WBC"
    const char* unit;
};
extern const std::array<ResultKind, 18> kResults;

struct Message {
    QByteArray timestamp;            // YYYYMMDDhhmmss
    QByteArray sample;               // 9 characters
    QByteArray patient;              // CP1251 bytes
    std::array<QByteArray, 18> values; // in kResults order, as sent (padding or dashes kept)
};

// The records of a message: header, patient, order, the eighteen results, terminator.
QList<QByteArray> records(const Message& m);
// The bytes of the whole message as framed on the line: ENQ, frames, EOT.
QByteArray wireBytes(const Message& m);

// Messages with realistic values; the same seed and start give the same messages.
class MessageGenerator {
public:
    MessageGenerator(std::uint32_t seed, QDateTime start);
    Message next();

private:
    std::mt19937 random_;
    QDateTime time_;
    std::uint64_t sample_;
};

enum class Split { Frames, Random, Bytes };

struct Options {
    int count = 1;               // 0: until stopped
    int intervalMs = 1000;       // pause between messages
    std::uint32_t seed = 1;
    Split split = Split::Frames;
    int timeoutMs = 15000;       // wait for each reply
    int paceBytesPerSecond = 0;  // 0: as fast as the line takes them
    QDateTime start;             // first message's time; invalid: now
    // As an analyser does when the receiver is away: a step without an answer is sent again,
    // after six tries the message is given up with EOT, and after resendDelayMs it is sent
    // again whole, from its ENQ, until it is delivered. Off: the first step without an
    // answer ends the run.
    bool persistent = false;
    int resendDelayMs = 2000;
    // One frame in repeatOneIn (0: none) is sent a second time once acknowledged, as after
    // a lost ACK.
    int repeatOneIn = 0;
    // One message end in eotEnqOneIn (0: none) goes out as EOT and the next ENQ in one write,
    // as an analyser that does not wait after EOT and a USB adapter's packets give them.
    int eotEnqOneIn = 0;
};

// One end of a line, opened raw: the master of a new pseudo-terminal or a serial device.
class Line {
public:
    Line() = default;
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // A new pseudo-terminal; portName() is the end the program opens. The simulator keeps that
    // end open too, so that bytes sent before the program opens it wait in its queue.
    bool openPseudoTerminal(QString* error);
    // A serial device at 9600 8N1.
    bool openDevice(const QString& path, QString* error);

    const QString& portName() const { return portName_; }
    int fd() const { return fd_; }

    // Lets the port be opened again after a program holding it died without closing it: the
    // terminal, not the process, keeps it for exclusive use.
    void releaseExclusive();

    // Writes every byte, waiting at most timeoutMs for the line to take them.
    bool write(const QByteArray& bytes, int timeoutMs);
    // One byte, or -1 after timeoutMs (or when stop is set).
    int readByte(int timeoutMs, const std::atomic<bool>* stop);
    // Discards bytes already received.
    void drain();

private:
    int fd_ = -1;
    int slave_ = -1;
    QString portName_;
};

class Simulator {
public:
    using Log = std::function<void(const QString&)>;

    Simulator(Line& line, Options options, Log log = {});

    // Sends the messages; false at the first one not acknowledged (error() says why) or when
    // stopped. Safe to stop from another thread.
    bool run();
    void stop() { stop_.store(true); }
    bool stopped() const { return stop_.load(); }

    int sent() const { return sent_; }
    // Messages delivered: their last frame acknowledged.
    int acknowledged() const { return acknowledged_; }
    int framesAcknowledged() const { return framesAcknowledged_; }
    int framesRepeated() const { return framesRepeated_; }
    int eotEnqPackets() const { return eotEnqPackets_; }
    // Steps sent again for want of an answer, and messages given up with EOT (to be sent again).
    int retries() const { return retries_; }
    int givenUp() const { return givenUp_; }
    const QString& error() const { return error_; }
    // The messages sent so far, in order (kept only when a count is given).
    const QList<Message>& history() const { return history_; }

private:
    bool deliver(const Message& m, bool lastOne);
    bool sendMessage(const Message& m, bool lastOne);
    bool roll(int oneIn);
    // whole: in one write whatever the split mode (a packet of the adapter).
    bool sendPieces(const QByteArray& bytes, bool whole = false);
    bool sendAndWaitAck(const QByteArray& bytes, const QString& what, bool whole = false);
    bool sleepMs(int ms);

    Line& line_;
    Options options_;
    Log log_;
    std::mt19937 splitRandom_;
    std::atomic<bool> stop_{false};
    int sent_ = 0;
    int acknowledged_ = 0;
    int framesAcknowledged_ = 0;
    int framesRepeated_ = 0;
    int eotEnqPackets_ = 0;
    int retries_ = 0;
    int givenUp_ = 0;
    bool eotPending_ = false;  // the last message's EOT goes out with the next ENQ
    bool lineFailed_ = false;
    QString error_;
    QList<Message> history_;
};

// Parses the program's command line into options; false with a message on a bad argument.
struct CommandLine {
    Options options;
    QString device;   // empty: a new pseudo-terminal
    QString iniFile;  // when set, Port= is written there, section MAIN
    bool help = false;
};
bool parseCommandLine(const QStringList& args, CommandLine& out, QString* error);
QString usage();

// The whole program: opens the line, announces the port, sends, reports. Returns the exit
// status. out receives the report lines, err the errors.
int runProgram(const QStringList& args, const Simulator::Log& out, const Simulator::Log& err,
               std::atomic<bool>* stopFlag = nullptr);

} // namespace sim
