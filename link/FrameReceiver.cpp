#include "link/FrameReceiver.h"

#include "link/AstmFrame.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>

FrameReceiver::FrameReceiver(QString programFolder, std::function<void()> sendAck)
    : programFolder_(std::move(programFolder)),
      sendAck_(std::move(sendAck)),
      writer_(programFolder_),
      buffer_(static_cast<size_t>(kBufferSize), '\0')
{
}

void FrameReceiver::receive(const char* chunk, int n)
{
    if (n <= 0 || chunk == nullptr)
        return;
    const char last = chunk[n - 1];
    if (last == astm::ENQ) {
        position_ = 0;
        buffer_[0] = astm::ENQ;
        overflowed_ = false;
        sendAck_();
    }
    if (last == astm::EOT) {
        endOfMessage();
        sendAck_();
    }
    // A lone ENQ or EOT is a control byte and nothing more; any other single byte is part of a
    // frame (reads often return one byte at a time), and a lone LF ends a frame like any other.
    const bool loneControl = n == 1 && (last == astm::ENQ || last == astm::EOT);
    if (!loneControl) {
        append(chunk, n);
        if (last == astm::LF)
            sendAck_();
    }
}

void FrameReceiver::append(const char* bytes, int n)
{
    const std::int32_t room = kBufferSize - 1 - position_;
    const std::int32_t fits = std::clamp<std::int32_t>(n, 0, std::max<std::int32_t>(room, 0));
    if (fits > 0)
        std::memcpy(buffer_.data() + position_ + 1, bytes, static_cast<size_t>(fits));
    position_ += fits;
    if (fits < n)
        overflowed_ = true;
}

void FrameReceiver::endOfMessage()
{
    lastWritten_.clear();
    lastError_.clear();
    // The EOT mark needs a place of its own; without one the message did not fit.
    if (position_ + 1 >= kBufferSize)
        overflowed_ = true;
    if (overflowed_) {
        // Keep what fitted for inspection, but never import a message cut short: its values would
        // come from the wrong lines or be missing. The analyser still gets its ACK.
        const QByteArray kept(buffer_.data(), position_ + 1);
        lastWritten_ = capture::keepRejected(
            programFolder_, QStringLiteral("overflow.log"), kept,
            QStringLiteral("Message longer than %1 bytes; only the first %2 bytes were kept and "
                           "it was not imported.")
                .arg(kBufferSize - 1)
                .arg(kept.size()),
            &lastError_);
        if (lastWritten_.isEmpty())
            qWarning("Receiver: cannot keep an oversize message: %s", qUtf8Printable(lastError_));
        return;
    }
    ++position_;
    buffer_[static_cast<size_t>(position_)] = astm::EOT;
    lastWritten_ = writer_.write(QByteArray(buffer_.data(), position_), &lastError_);
    // Nobody can be told on the reader thread; the log keeps the reason.
    if (lastWritten_.isEmpty())
        qWarning("Receiver: capture file not written: %s", qUtf8Printable(lastError_));
}
