#include "platform/SerialPort.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

SerialPort::SerialPort() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

SerialPort::~SerialPort()
{
    close();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

bool SerialPort::open(const QString& name)
{
    if (fd_ >= 0 || name.isEmpty())
        return false;
    const QByteArray path = name.toLocal8Bit();
    int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Only terminals are serial ports; and nobody else may hold this one at the same time.
    if (!::isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    ::ioctl(fd, TIOCEXCL);
    fd_ = fd;
    return true;
}

void SerialPort::close()
{
    if (fd_ < 0)
        return;
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

bool SerialPort::setLine9600_8N1()
{
    termios t{};
    if (fd_ < 0 || ::tcgetattr(fd_, &t) != 0)
        return false;
    // Raw: no CR/LF translation, no XON/XOFF, no echo, no signals; every byte is data.
    ::cfmakeraw(&t);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
}

SerialPort::LineSettings SerialPort::lineSettings() const
{
    LineSettings ls;
    termios t{};
    if (fd_ < 0 || ::tcgetattr(fd_, &t) != 0)
        return ls;
    switch (::cfgetispeed(&t)) {
    case B1200: ls.baud = 1200; break;
    case B2400: ls.baud = 2400; break;
    case B4800: ls.baud = 4800; break;
    case B9600: ls.baud = 9600; break;
    case B19200: ls.baud = 19200; break;
    case B38400: ls.baud = 38400; break;
    case B57600: ls.baud = 57600; break;
    case B115200: ls.baud = 115200; break;
    default: ls.baud = -1;
    }
    switch (t.c_cflag & CSIZE) {
    case CS5: ls.dataBits = 5; break;
    case CS6: ls.dataBits = 6; break;
    case CS7: ls.dataBits = 7; break;
    default: ls.dataBits = 8;
    }
    ls.parity = (t.c_cflag & PARENB) != 0;
    ls.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    ls.raw = !(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) && !(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP))
        && !(t.c_oflag & OPOST);
    return ls;
}

SerialPort::Wait SerialPort::waitForInput()
{
    if (fd_ < 0)
        return Wait::Closed;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    for (;;) {
        int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return Wait::Closed;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t n;
            while (::read(wakeFd_, &n, sizeof n) > 0) {}
            return Wait::Woken;
        }
        // The other end has gone (or the device was removed): what is still queued is read,
        // then the wait ends for good, since waiting again would return at once, forever.
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
            return bytesWaiting() > 0 ? Wait::Input : Wait::Closed;
        if (fds[0].revents & POLLIN)
            return Wait::Input;
    }
}

int SerialPort::bytesWaiting() const
{
    int n = 0;
    if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &n) != 0)
        return 0;
    return n;
}

namespace {
SerialPort::ReadFunction readForTesting = nullptr;
}

void SerialPort::setReadForTesting(ReadFunction read) { readForTesting = read; }

int SerialPort::read(char* buffer, int max)
{
    if (fd_ < 0 || max <= 0)
        return max == 0 ? 0 : -1;
    for (;;) {
        const ssize_t r = readForTesting ? ssize_t(readForTesting(fd_, buffer, size_t(max))) : ::read(fd_, buffer, size_t(max));
        if (r >= 0)
            return int(r);
        if (errno == EINTR)
            continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }
}

bool SerialPort::writeByte(char byte)
{
    if (fd_ < 0)
        return false;
    for (;;) {
        ssize_t w = ::write(fd_, &byte, 1);
        if (w == 1)
            return true;
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
                return false;
            continue;
        }
        return false;
    }
}

void SerialPort::wake()
{
    uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(wakeFd_, &one, sizeof one);
}
