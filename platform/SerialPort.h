#pragma once
// A serial device opened for the analyser link: raw 8-bit bytes, no echo, no flow control, no
// line discipline, so that every byte the analyser sends arrives as sent.
#include <QString>

class SerialPort {
public:
    enum class Wait { Input, Woken, Closed };

    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the device for reading and writing, held exclusively: a second open of the same
    // device, from this process or another, fails. False when it cannot be opened.
    bool open(const QString& name);
    bool isOpen() const { return fd_ >= 0; }
    void close();

    // 9600 baud, 8 data bits, no parity, one stop bit, raw. False when the device refuses.
    bool setLine9600_8N1();

    // What the device is set to now, for diagnostics and tests.
    struct LineSettings {
        int baud = 0;
        int dataBits = 0;
        bool parity = false;
        int stopBits = 0;
        bool raw = false; // no translation, no flow control, no echo, no signals
    };
    LineSettings lineSettings() const;

    // Blocks until bytes are waiting, wake() is called, or the other end has gone.
    Wait waitForInput();
    // Bytes waiting in the input queue.
    int bytesWaiting() const;
    // Reads at most max bytes of what is waiting without blocking; 0 when none, -1 on error.
    int read(char* buffer, int max);
    // Writes one byte, waiting until the device has taken it. False on error.
    bool writeByte(char byte);
    // Makes a waitForInput() in another thread return Woken. Safe from any thread.
    void wake();

    // Tests put a read of their own in place of the system's, for what a real device does only
    // now and then (a read that finds nothing after the wait said bytes had come). Null restores
    // the system's read. Not for use while a reader thread runs.
    using ReadFunction = long (*)(int fd, char* buffer, unsigned long max);
    static void setReadForTesting(ReadFunction read);

private:
    int fd_ = -1;
    int wakeFd_ = -1;
};
