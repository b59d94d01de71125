#include "tools/smdhost/PortSession.h"

#include <sys/stat.h>

#include <cerrno>

#include "tools/smdhost/PortAccess.h"
#include "tools/smdhost/PortOwner.h"
#include "tools/smdhost/StopSignal.h"

namespace {

// What a path that is no terminal is, for the refusal.
std::string KindOfPath(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return "no terminal";
    }
    if (S_ISREG(st.st_mode)) {
        return "a regular file, not a terminal";
    }
    if (S_ISDIR(st.st_mode)) {
        return "a folder, not a terminal";
    }
    return S_ISCHR(st.st_mode) ? "a character device that is no terminal" : "no terminal";
}

}  // namespace

bool PortSession::Open(int baud)
{
    if (!port_.Open(path_, baud)) {
        open_code_ = port_.ErrorCode();
        open_error_ = open_code_ == EBUSY ? port_owner::HeldMessage(path_) : port_.Error();
        if (open_code_ == EACCES) {
            open_error_ += ": " + port_access::DeniedHint(path_);
        }
        return false;
    }
    if (!port_owner::Take(port_.Fd(), path_, open_error_)) {
        open_code_ = EBUSY;
        port_.Close();
        return false;
    }
    return true;
}

void PortSession::Close()
{
    unread_.clear();
    if (port_.IsOpen()) {
        port_owner::Release(port_.Fd());
        port_.Close();
    }
}

std::string PortSession::Refusal() const
{
    if (open_code_ == ENOTTY || open_code_ == EISDIR) {
        return "port " + path_ + " is " + KindOfPath(path_) +
               ": give the serial device of the UPS, such as /dev/ttyUSB0";
    }
    if (open_code_ == EBUSY || open_code_ == EACCES) {
        return open_error_;
    }
    const std::string meant = port_access::DevicePathMeant(path_);
    if (open_code_ == ENOENT && !meant.empty()) {
        return "port " + path_ + " does not exist; did you mean " + meant +
               "? Give the device's full path";
    }
    return "";
}

bool PortSession::Write(const unsigned char* data, std::size_t len)
{
    return port_.IsOpen() && port_.Write(data, len);
}

ssize_t PortSession::Read(unsigned char* buffer, std::size_t size,
                          std::chrono::milliseconds timeout)
{
    return port_.Read(buffer, size, timeout, StopSignal::WakeFd());
}

ssize_t PortSession::ReadAfter(unsigned char* buffer, std::size_t size,
                               std::chrono::milliseconds pause)
{
    return port_.ReadAfter(buffer, size, pause, StopSignal::WakeFd());
}

void PortSession::Unread(const unsigned char* data, std::size_t len)
{
    unread_.append(reinterpret_cast<const char*>(data), len);
}

std::string PortSession::DiscardInput(std::chrono::milliseconds until_quiet,
                                      std::chrono::milliseconds at_most)
{
    std::string discarded;
    discarded.swap(unread_);
    const auto end = std::chrono::steady_clock::now() + at_most;
    unsigned char bytes[512];
    while (until_quiet.count() > 0 && std::chrono::steady_clock::now() < end) {
        const ssize_t got = ReadAfter(bytes, sizeof(bytes), until_quiet);
        if (got <= 0) {
            break;
        }
        discarded.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(got));
    }
    return discarded + port_.DiscardInput();
}
