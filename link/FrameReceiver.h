#pragma once
// Turns the analyser's byte stream into one capture file per message and answers it with ACK.
//
// Every decision rests on a chunk's length and its last byte, never on what the frames hold:
//  - a chunk ending in ENQ restarts the message (ENQ kept at position 0) and is acknowledged;
//  - a chunk ending in EOT counts an EOT mark and writes the bytes before it as a capture file,
//    then is acknowledged;
//  - every chunk except a lone ENQ or EOT is then appended, and acknowledged when it ends in LF.
// Runs on the reader thread only; it needs no serial port, only the send-ACK operation.
#include "link/CaptureFiles.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

class FrameReceiver {
public:
    // Positions 0 to 50,000: the ENQ, then the message and its EOT mark.
    static constexpr std::int32_t kBufferSize = 50001;
    static constexpr int kMaxChunk = 401;

    FrameReceiver(QString programFolder, std::function<void()> sendAck);

    // One read's bytes, n >= 0 (an empty read changes nothing).
    void receive(const char* chunk, int n);
    void receive(const QByteArray& chunk) { receive(chunk.constData(), static_cast<int>(chunk.size())); }

    // What the last end of message did, for logs and tests: the file written (a capture file, or
    // the kept copy of a message that did not fit) and the error when none could be written.
    const QString& lastWritten() const { return lastWritten_; }
    const QString& lastError() const { return lastError_; }
    // True from a message's first byte that did not fit until the next ENQ.
    bool overflowed() const { return overflowed_; }

private:
    void endOfMessage();
    void append(const char* bytes, int n);

    QString programFolder_;
    std::function<void()> sendAck_;
    capture::CaptureWriter writer_;
    std::vector<char> buffer_;
    std::int32_t position_ = 0;
    bool overflowed_ = false;
    QString lastWritten_;
    QString lastError_;
};
