#include "tools/smdhost/PortOwner.h"

#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/common/ProcessName.h"

namespace port_owner {

namespace {

// /proc/locks names each lock's file as "major:minor:inode", the device
// numbers in hex.
std::string LockedFile(const struct stat& st)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    return text;
}

}  // namespace

bool Take(int fd, const std::string& path, std::string& why)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        why = errno == EWOULDBLOCK ? HeldMessage(path)
                                   : "cannot lock port " + path + ": " + std::strerror(errno);
        return false;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        why = "cannot take port " + path + " for this host alone: " + std::strerror(errno);
        ::flock(fd, LOCK_UN);
        return false;
    }
    return true;
}

void Release(int fd)
{
    if (fd >= 0) {
        ::ioctl(fd, TIOCNXCL);
    }
}

std::string Holder(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return "";
    }
    const std::string file = LockedFile(st);
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, locked;
        fields >> number >> kind;
        if (kind == "->") {
            continue;  // a waiter, not the holder
        }
        fields >> mode >> access >> pid >> locked;
        if (kind == "FLOCK" && locked == file) {
            const long holder = std::strtol(pid.c_str(), nullptr, 10);
            return process_name::Described(static_cast<pid_t>(holder));
        }
    }
    return "";
}

std::string OtherOpeners(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path device = fs::canonical(path, error);
    if (error) {
        return "";
    }
    const std::string self = std::to_string(::getpid());
    std::string openers;
    for (const auto& process : fs::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) {
            continue;
        }
        std::error_code unseen;  // another user's process, or one that has ended
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", unseen)) {
            if (fs::read_symlink(fd.path(), unseen) == device) {
                openers += (openers.empty() ? "" : ", ") +
                           process_name::Described(static_cast<pid_t>(std::stol(pid)));
                break;
            }
        }
    }
    return openers;
}

std::string HeldMessage(const std::string& path)
{
    const std::string holder = Holder(path);
    return "port " + path + " is held by " +
           (holder.empty() ? "another program (the system does not say which)" : holder) +
           "; one host per line";
}

}  // namespace port_owner
