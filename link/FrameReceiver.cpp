#include "link/FrameReceiver.h"

#include "link/AstmFrame.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>

FrameReceiver::FrameReceiver(QString programFolder, std::function<void()> sendAck, ErrorReport reportError)
    : programFolder_(std::move(programFolder)),
      sendAck_(std::move(sendAck)),
      reportError_(std::move(reportError)),
      writer_(programFolder_),
      buffer_(static_cast<size_t>(kBufferSize), '\0')
{
}

void FrameReceiver::receive(const char* chunk, int n)
{
    if (n <= 0 || chunk == nullptr)
        return;
    // The chunk is taken byte by byte (runs of frame bytes at once), but answered once, by what
    // its last byte did: an ACK more or less than the analyser waits for would shift every later
    // answer by a step.
    bool answer = false;
    int run = 0;  // first byte of the frame bytes not yet stored
    auto storeRun = [&](int end) {
        if (inMessage_ && end > run)
            append(chunk + run, end - run);
        run = end;
    };
    for (int i = 0; i < n; ++i) {
        const char c = chunk[i];
        if (c == astm::STX)
            check_.start();
        else if (c == astm::ENQ || c == astm::EOT)
            check_.reset();
        else
            check_.add(c);
        if (c == astm::ENQ) {
            // A message not ended by EOT is dropped unless its capture is already made; the
            // analyser never saw it acknowledged. EOT and the next ENQ in one read end the first
            // message at its EOT, without an ACK of its own.
            startMessage();
            run = i + 1;
            answer = true;
        } else if (c == astm::EOT) {
            answer = inMessage_;
            if (inMessage_)
                endMessage();
            run = i + 1;
        } else if (c == astm::STX) {
            storeRun(i);
            // A frame starts at its STX: unanswered bytes before it, not ended by LF, were a
            // frame cut short, and the frame now arriving is the analyser's retry of it.
            if (inMessage_ && position_ > frameStart_)
                position_ = frameStart_;
        } else if (c == astm::LF) {
            storeRun(i + 1);
            answer = inMessage_ && frameEnded();
            // The next frame begins at its own STX.
            check_.reset();
        }
    }
    const char last = chunk[n - 1];
    if (last != astm::ENQ && last != astm::EOT && last != astm::LF) {
        storeRun(n);
        answer = false;
    }
    if (answer)
        sendAck_();
}

void FrameReceiver::startMessage()
{
    position_ = 0;
    frameStart_ = 0;
    buffer_[0] = astm::ENQ;
    lastFrame_.clear();
    enqTime_ = QDateTime::currentDateTime();
    inMessage_ = true;
    captured_ = false;
    overflowed_ = false;
}

void FrameReceiver::endMessage()
{
    // Bytes after the last acknowledged frame were never answered: the analyser counts them
    // as not sent.
    position_ = frameStart_;
    // A message whose terminator was not acknowledged was given up part-way: the analyser sends
    // it whole again later, so keeping this part would give a blank row and then a second one.
    // A message that did not fit is the exception: every frame of it was answered, so it never
    // comes again, and its part is set aside for inspection.
    if (!captured_ && overflowed_ && frameStart_ > 0)
        capture();
    inMessage_ = false;
}

QByteArray FrameReceiver::pendingFrame() const
{
    return QByteArray(buffer_.data() + frameStart_ + 1, position_ - frameStart_);
}

bool FrameReceiver::frameEnded()
{
    if (!check_.intact()) {
        // Damaged on the line (its sum does not match) or not a frame at all: storing it would
        // give the row a wrong value. Unanswered, it is dropped, and the analyser's retry of it
        // is taken as new. Only ACK is ever sent, so silence is the refusal.
        position_ = frameStart_;
        return false;
    }
    const QByteArray frame = pendingFrame();
    if (!overflowed_ && frame == lastFrame_) {
        // Its ACK was lost and the analyser sent it again: answer, keep it once.
        position_ = frameStart_;
        return true;
    }
    // STX, frame number, then the record: "L|" is the message's last record.
    const bool terminator = frame.size() >= 4 && frame[0] == astm::STX && frame[2] == 'L' && frame[3] == '|';
    if (terminator && !captured_) {
        if (!capture()) {
            // Not acknowledged, so not kept: the analyser's retry brings it again.
            position_ = frameStart_;
            return false;
        }
    }
    lastFrame_ = overflowed_ ? QByteArray() : frame;
    frameStart_ = position_;
    return true;
}

void FrameReceiver::append(const char* bytes, int n)
{
    // The last position stays free: it is where the EOT mark would go, and a message counts as
    // fitting only when that still fits.
    const std::int32_t room = kBufferSize - 2 - position_;
    const std::int32_t fits = std::clamp<std::int32_t>(n, 0, std::max<std::int32_t>(room, 0));
    if (fits > 0)
        std::memcpy(buffer_.data() + position_ + 1, bytes, static_cast<size_t>(fits));
    position_ += fits;
    if (fits < n)
        overflowed_ = true;
}

bool FrameReceiver::capture()
{
    lastWritten_.clear();
    lastError_.clear();
    const QByteArray bytes(buffer_.data(), position_ + 1);
    if (overflowed_) {
        // Keep what fitted for inspection, but never import a message cut short: its values
        // would come from the wrong lines or be missing. Sending it again cannot make it fit,
        // so the analyser still gets its ACK.
        const QString reason = QStringLiteral("Message longer than %1 bytes; only the first %2 bytes were kept and "
                                              "it was not imported.")
                                   .arg(kBufferSize - 1)
                                   .arg(bytes.size());
        lastWritten_ = capture::keepRejected(programFolder_, QStringLiteral("overflow.log"), bytes, reason, &lastError_);
        if (lastWritten_.isEmpty())
            qWarning("Receiver: cannot keep an oversize message: %s", qUtf8Printable(lastError_));
        else if (onSetAside_)
            onSetAside_(bytes, enqTime_, lastWritten_, reason);
        captured_ = true;
        return true;
    }
    lastWritten_ = writer_.write(bytes, &lastError_, capture::timesText(enqTime_, QDateTime::currentDateTime(), bytes));
    if (lastWritten_.isEmpty()) {
        qWarning("Receiver: capture file not written: %s", qUtf8Printable(lastError_));
        if (!errorReported_ && reportError_)
            reportError_(QStringLiteral("A result from the analyser cannot be stored: %1").arg(lastError_));
        errorReported_ = true;
        return false;
    }
    errorReported_ = false;
    captured_ = true;
    return true;
}
