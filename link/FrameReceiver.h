#pragma once
// Turns the analyser's byte stream into one capture file per message and answers it with ACK.
//
// A message runs from a chunk ending in ENQ to a chunk ending in EOT. Inside it, chunks are
// stored and a chunk ending in LF ends a frame, which is acknowledged. The rules that keep every
// message exactly once:
//  - Outside a message (from start until the first ENQ, and after an EOT) nothing is stored,
//    acknowledged or captured: the tail of a message begun before a restart gets no ACK, so the
//    analyser gives up and later sends it whole again.
//  - A frame starts at its STX: unanswered bytes before it (a frame cut short on the line) are
//    dropped, so the analyser's retry of that frame is stored whole, once.
//  - A frame is answered only when it is whole and its checksum matches (STX, frame number, text,
//    ETX or ETB, two hex digits, CR LF); otherwise it gets no ACK (never NAK) and is not kept, so
//    a frame damaged by line noise never reaches a row and the analyser's retry of it is new.
//  - A frame identical to the one just acknowledged (same number, same bytes: its ACK was lost)
//    is acknowledged again and not stored again.
//  - The terminator frame (record "L|") is acknowledged only once the message's capture file is
//    on disk. If that cannot be done, the frame is not acknowledged (nor kept), the error is
//    reported, and the analyser's retry of it tries again. So at any instant the analyser holds
//    either a message it will send again or a durable capture file.
//  - A message whose EOT comes before its terminator frame was acknowledged was given up by the
//    analyser, which sends it whole again later: it is dropped, nothing is captured. (A message
//    too long for the buffer is set aside in Temp/rejected/ instead, when its terminator frame
//    ends or, when none could be seen, at its EOT: all of it was answered.) An EOT
//    never writes a capture file for the import.
//  - A chunk ending in ENQ that holds an EOT (EOT and the next ENQ in one read) first ends the
//    message, then starts the next; it gets one ACK, for the ENQ.
//  - At most one ACK per chunk, earned by what its last byte did; bytes the analyser has not
//    gone past are never kept (a whole frame followed by the next one in the same read is kept:
//    the analyser sending the next frame shows it took the first as answered).
// Runs on the reader thread only; it needs no serial port, only the send-ACK operation.
// Knows: the line protocol's control bytes and frames, capture files through CaptureWriter.
// Must not know: the serial port, what records hold (beyond the terminator's "L|"), the result
// table, windows.
// Untrusted: every byte of every chunk (any length, any content).
#include "link/AstmFrame.h"
#include "link/CaptureFiles.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

class FrameReceiver {
public:
    // Positions 0 to 50,000: the ENQ, then the message, then room for its EOT mark.
    static constexpr std::int32_t kBufferSize = 50001;
    static constexpr int kMaxChunk = 401;

    using ErrorReport = std::function<void(const QString&)>;

    // reportError, when given, hears once of a capture file that cannot be written (again after
    // one has been written); it runs on the reader thread.
    FrameReceiver(QString programFolder, std::function<void()> sendAck, ErrorReport reportError = {});

    // One read's bytes, n >= 0 (an empty read changes nothing).
    void receive(const char* chunk, int n);
    void receive(const QByteArray& chunk) { receive(chunk.constData(), static_cast<int>(chunk.size())); }

    // Told (on the reader thread) of a message set aside because it did not fit, once it is
    // kept in Temp/rejected/: its bytes as kept, its ENQ time, where and why (for the archive).
    using SetAside = std::function<void(const QByteArray& bytes, const QDateTime& enq, const QString& keptAs,
                                        const QString& reason)>;
    void setOnSetAside(SetAside hook) { onSetAside_ = std::move(hook); }

    // What the last capture did, for logs and tests: the file written (a capture file, or the
    // kept copy of a message that did not fit) and the error when none could be written.
    const QString& lastWritten() const { return lastWritten_; }
    const QString& lastError() const { return lastError_; }
    // True from a message's first byte that did not fit until the next ENQ.
    bool overflowed() const { return overflowed_; }
    bool inMessage() const { return inMessage_; }

private:
    void startMessage();
    void endMessage();
    // True when the frame just ended is to be answered.
    bool frameEnded();
    bool capture();
    void append(const char* bytes, int n);
    QByteArray pendingFrame() const;

    QString programFolder_;
    std::function<void()> sendAck_;
    ErrorReport reportError_;
    SetAside onSetAside_;
    capture::CaptureWriter writer_;
    std::vector<char> buffer_;
    std::int32_t position_ = 0;    // last byte stored; the ENQ is at 0
    std::int32_t frameStart_ = 0;  // last byte of the last acknowledged frame
    QByteArray lastFrame_;         // the last acknowledged frame, for spotting its repeat
    QDateTime enqTime_;            // when this message's ENQ arrived
    astm::FrameCheck check_;       // the frame now arriving, checked byte by byte
    bool inMessage_ = false;
    bool captured_ = false;
    bool overflowed_ = false;
    bool errorReported_ = false;
    QString lastWritten_;
    QString lastError_;
};
