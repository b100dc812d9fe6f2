#pragma once
// The analyser link: the serial port named in the settings and the reader thread that hands
// every read to the frame receiver. Nothing is received before Start; Stop ends the reader
// without waiting for the analyser.
//
// Knows: the serial port, the reader thread, the ACK byte. Must not know: frames, messages,
// capture files, the result table. Untrusted: the bytes read, handed on unexamined to the chunk
// handler, which judges them; the port name, which may name no device or one that refuses 9600 8N1.
#include "platform/SerialPort.h"

#include <QString>
#include <atomic>
#include <functional>
#include <thread>

class SerialLink {
public:
    // Bytes of one read; the chunk buffer holds at most this many.
    static constexpr int kChunkSize = 401;
    using ChunkHandler = std::function<void(const char* data, int length)>;

    // onChunk runs on the reader thread for every read, also an empty one.
    explicit SerialLink(ChunkHandler onChunk);
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Opens the port, sets 9600 8N1 raw and starts the reader thread. Returns true when the
    // link is listening afterwards (the caller then switches on the import timer). A port that
    // cannot be opened leaves the link closed; a second Start while listening changes nothing.
    // After the reader has ended by itself (the device was removed), Start opens the port again.
    bool Start(const QString& portName);
    // Ends the reader thread, then closes the port. Harmless when never started.
    void Stop();
    // Writes ACK (06h); called by the frame receiver on the reader thread.
    void SendAck();

    SerialPort::LineSettings lineSettings() const { return port_.lineSettings(); }
    bool listening() const { return reader_.joinable(); }
    // True while the reader thread runs; false once the other end has gone or after Stop.
    bool readerRunning() const { return running_.load(); }

private:
    void readLoop();

    ChunkHandler onChunk_;
    SerialPort port_;
    std::thread reader_;
    std::atomic<bool> running_{false};
};
