#include "sim/UpsLine.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

UpsLine::UpsLine(const std::string& port, const std::string& link, int baud)
    : link_(link), baud_(baud)
{
    if (!port.empty()) {
        if (!port_.Open(port, baud)) {
            throw std::runtime_error(port_.Error());
        }
        fd_ = port_.Fd();
        where_ = port;
        return;
    }
    OpenPseudoTerminal();
}

UpsLine::~UpsLine()
{
    Unlink();
    if (!port_.IsOpen()) {
        ::close(held_end_);
        ::close(fd_);
    }
}

void UpsLine::OpenPseudoTerminal()
{
    fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
        throw std::runtime_error(std::string("no pseudo-terminal: ") + std::strerror(errno));
    }
    const std::string path = ptsname(fd_);
    // Holding the host's end open keeps the terminal in being, and raw,
    // while a host closes and opens it again.
    held_end_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::string why;
    if (held_end_ < 0 || !SerialPort::MakeRaw(held_end_, baud_, why)) {
        throw std::runtime_error("cannot set up " + path + ": " + why);
    }
    if (!link_.empty()) {
        Link(path);
    }
    where_ = path + (link_.empty() ? "" : " (link " + link_ + ")");
}

// Points the link at the terminal; replaces an earlier link, never a file.
void UpsLine::Link(const std::string& path)
{
    struct stat existing {};
    if (::lstat(link_.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            throw std::runtime_error(link_ + " exists and is no symbolic link");
        }
        ::unlink(link_.c_str());
    }
    if (::symlink(path.c_str(), link_.c_str()) != 0) {
        throw std::runtime_error("cannot link " + link_ + ": " + std::strerror(errno));
    }
    linked_ = path;
}

// Removes the link if it still points at this simulator's terminal.
void UpsLine::Unlink() const
{
    char target[256] = {};
    if (!linked_.empty() && ::readlink(link_.c_str(), target, sizeof(target) - 1) > 0 &&
        linked_ == target) {
        ::unlink(link_.c_str());
    }
}

std::vector<std::string> UpsLine::Commands()
{
    std::vector<std::string> commands;
    pollfd in{fd_, POLLIN, 0};
    if (::poll(&in, 1, 200) <= 0) {
        return commands;
    }
    char bytes[256];
    const ssize_t got = ::read(fd_, bytes, sizeof(bytes));
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return commands;
    }
    if (got <= 0) {
        throw std::runtime_error(std::string("line lost: ") + std::strerror(errno));
    }
    pending_.append(bytes, static_cast<std::size_t>(got));
    for (std::size_t end; (end = pending_.find('\r')) != std::string::npos;) {
        commands.push_back(pending_.substr(0, end));
        pending_.erase(0, end + 1);
    }
    return commands;
}

void UpsLine::Send(const std::string& bytes, bool paced, const std::atomic<bool>& stop)
{
    using Clock = std::chrono::steady_clock;
    const auto per_byte = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(10.0 / baud_));
    auto next = Clock::now();
    const std::size_t step = paced ? 1 : bytes.size();
    for (std::size_t at = 0; at < bytes.size() && !stop; at += step) {
        Write(bytes.data() + at, std::min(step, bytes.size() - at), stop);
        next += per_byte;
        if (paced) {
            std::this_thread::sleep_until(next);
        }
    }
}

void UpsLine::Write(const char* data, std::size_t len, const std::atomic<bool>& stop)
{
    while (len > 0 && !stop) {
        const ssize_t written = ::write(fd_, data, len);
        if (written < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (written < 0) {
            throw std::runtime_error(std::string("cannot write: ") + std::strerror(errno));
        }
        data += written;
        len -= static_cast<std::size_t>(written);
    }
}
