#include "tools/common/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

struct Speed {
    int baud;
    speed_t code;
};

constexpr Speed kSpeeds[] = {
    {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
};

bool SpeedCode(int baud, speed_t& code)
{
    for (const Speed& speed : kSpeeds) {
        if (speed.baud == baud) {
            code = speed.code;
            return true;
        }
    }
    return false;
}

int RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

bool SerialPort::MakeRaw(int fd, int baud, std::string& error)
{
    speed_t code;
    if (!SpeedCode(baud, code)) {
        error = std::to_string(baud) + " bit/s is no speed of a serial line";
        return false;
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        error = std::string("not a serial line: ") + std::strerror(errno);
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, code) != 0 || cfsetospeed(&tio, code) != 0 ||
        tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = std::string("cannot set the line: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool SerialPort::Open(const std::string& path, int baud)
{
    Close();
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        code_ = errno;
        error_ = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string why;
    if (!MakeRaw(fd_, baud, why)) {
        code_ = isatty(fd_) ? EINVAL : ENOTTY;
        Close();
        error_ = path + ": " + why;
        return false;
    }
    tcflush(fd_, TCIOFLUSH);
    error_.clear();
    code_ = 0;
    return true;
}

void SerialPort::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool SerialPort::Failed(const std::string& what)
{
    code_ = errno;
    error_ = what + " " + path_ + ": " + std::strerror(errno);
    return false;
}

bool SerialPort::Write(const void* data, std::size_t len)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (len > 0) {
        const ssize_t written = ::write(fd_, bytes, len);
        if (written < 0 && (errno == EINTR || errno == EAGAIN)) {
            pollfd out{fd_, POLLOUT, 0};
            ::poll(&out, 1, 100);
            continue;
        }
        if (written < 0) {
            return Failed("cannot write to");
        }
        bytes += written;
        len -= static_cast<std::size_t>(written);
    }
    return true;
}

ssize_t SerialPort::Read(void* buffer, std::size_t size, std::chrono::milliseconds timeout,
                         int wake)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake, POLLIN, 0}};
        pollfd& in = fds[0];
        const int ready = ::poll(fds, wake >= 0 ? 2 : 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            Failed("cannot wait on");
            return -1;
        }
        if (ready == 0 || (in.revents == 0 && fds[1].revents != 0)) {
            return 0;
        }
        const ssize_t got = ::read(fd_, buffer, size);
        if (got > 0) {
            return got;
        }
        const bool hung_up = (in.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (got < 0 && (errno == EINTR || errno == EAGAIN) && !hung_up) {
            continue;
        }
        if (got == 0) {
            errno = ENODEV;
        }
        Failed("lost");
        return -1;
    }
}

ssize_t SerialPort::ReadAfter(void* buffer, std::size_t size, std::chrono::milliseconds pause,
                              int wake)
{
    const auto deadline = std::chrono::steady_clock::now() + pause;
    for (int left = static_cast<int>(pause.count()); left > 0; left = RemainingMs(deadline)) {
        pollfd woken{wake, POLLIN, 0};
        const int ready = ::poll(&woken, wake >= 0 ? 1 : 0, left);
        if (ready > 0) {
            return 0;
        }
        if (ready < 0 && errno != EINTR) {
            Failed("cannot wait on");
            return -1;
        }
    }
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, size);
        if (got > 0) {
            return got;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno == EAGAIN) {
            return 0;
        }
        if (got == 0) {
            errno = ENODEV;
        }
        Failed("lost");
        return -1;
    }
}

std::string SerialPort::DiscardInput()
{
    constexpr std::size_t kKept = 64 * 1024;
    std::string discarded;
    if (fd_ < 0) {
        return discarded;
    }
    char bytes[512];
    for (ssize_t got; discarded.size() < kKept && (got = ::read(fd_, bytes, sizeof(bytes))) > 0;) {
        discarded.append(bytes, static_cast<std::size_t>(got));
    }
    tcflush(fd_, TCIFLUSH);
    return discarded;
}

std::vector<int> SerialPort::Speeds()
{
    std::vector<int> speeds;
    for (const Speed& speed : kSpeeds) {
        speeds.push_back(speed.baud);
    }
    return speeds;
}
