#include "link/SerialLink.h"

SerialLink::SerialLink(ChunkHandler onChunk) : onChunk_(std::move(onChunk)) {}

SerialLink::~SerialLink() { Stop(); }

bool SerialLink::Start(const QString& portName)
{
    if (listening()) {
        if (running_.load())
            return true;
        // The reader has ended (the device went away): take the link down and open it anew.
        reader_.join();
        port_.close();
    }
    if (!port_.open(portName))
        return false;
    // A device that refuses the settings is used as it is, as a real port would be.
    port_.setLine9600_8N1();
    running_ = true;
    reader_ = std::thread([this] { readLoop(); });
    return true;
}

void SerialLink::Stop()
{
    if (reader_.joinable()) {
        port_.wake();
        reader_.join();
    }
    port_.close();
}

void SerialLink::SendAck()
{
    port_.writeByte('\x06');
}

void SerialLink::readLoop()
{
    char chunk[kChunkSize];
    for (;;) {
        const SerialPort::Wait w = port_.waitForInput();
        if (w != SerialPort::Wait::Input)
            break;
        // Take everything already waiting, a chunk at a time, before waiting again.
        do {
            const int n = port_.read(chunk, kChunkSize);
            if (n < 0) {
                running_ = false;
                return;
            }
            onChunk_(chunk, n);
        } while (port_.bytesWaiting() > 0);
    }
    running_ = false;
}
