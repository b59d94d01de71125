#include "tools/nut/SocketFile.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/common/ProcessName.h"

namespace nut {

namespace {

constexpr mode_t kSocketMode = 0660;
constexpr int kBacklog = 8;

// A socket address for `path`; false when the path is too long for one.
bool Address(const std::string& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// The file in the folder, reached through the folder's descriptor so that
// the folder cannot be swapped under the host; the folder's path where /proc
// is missing.
std::string ThroughFolder(const safe_file::Folder& folder, const std::string& name)
{
    const std::string through = "/proc/self/fd/" + std::to_string(folder.Fd());
    return ::access(through.c_str(), F_OK) == 0 ? through + "/" + name : folder.PathOf(name);
}

// Who listens on the socket at `path`: "" when nobody does; errno says why
// not (ECONNREFUSED: nobody listens).
std::string Listener(const std::string& path)
{
    sockaddr_un address;
    if (!Address(path, address)) {
        errno = ENAMETOOLONG;
        return "";
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return "";
    }
    std::string holder;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        ucred peer{};
        socklen_t size = sizeof(peer);
        holder = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0
                     ? process_name::Described(peer.pid)
                     : "another process";
    }
    const int code = errno;
    ::close(fd);
    errno = code;
    return holder;
}

}  // namespace

SocketFile::~SocketFile() { Remove(); }

bool SocketFile::Refuse(const struct stat& st, safe_file::Error& error) const
{
    if (!S_ISSOCK(st.st_mode)) {
        std::string what = "it is " + safe_file::KindOf(st) + ", not a socket";
        char target[512] = {};
        if (S_ISLNK(st.st_mode) &&
            ::readlinkat(folder_->Fd(), name_.c_str(), target, sizeof(target) - 1) > 0) {
            what += " (to " + std::string(target) + ")";
        }
        return safe_file::Failed(error, 0, "refusing " + path_ + ": " + what);
    }
    return safe_file::Failed(error, 0, "refusing " + path_ + ": it is a socket of user " +
                                           std::to_string(st.st_uid) + ", not yours (user " +
                                           std::to_string(::geteuid()) + ")");
}

SocketFile::Made SocketFile::Make(const safe_file::Folder& folder, const std::string& name,
                                  safe_file::Error& error)
{
    folder_ = &folder;
    name_ = name;
    path_ = folder.PathOf(name);
    Made made = Made::Fresh;
    struct stat st {};
    if (::fstatat(folder.Fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) {
            Refuse(st, error);
            return Made::Refused;
        }
        const std::string holder = Listener(ThroughFolder(folder, name));
        if (!holder.empty()) {
            safe_file::Failed(error, 0, "socket " + path_ + " is held by " + holder +
                                            "; one server per UPS");
            return Made::Refused;
        }
        if (errno != ECONNREFUSED) {
            safe_file::Failed(error, errno, "cannot tell who holds the socket " + path_);
            return Made::Refused;
        }
        if (::unlinkat(folder.Fd(), name.c_str(), 0) != 0) {
            safe_file::Failed(error, errno, "cannot remove the leftover socket " + path_);
            return Made::Refused;
        }
        made = Made::ReplacedLeftover;
    }
    return Bind(error) ? made : Made::Refused;
}

bool SocketFile::Bind(safe_file::Error& error)
{
    sockaddr_un address;
    if (!Address(ThroughFolder(*folder_, name_), address)) {
        return safe_file::Failed(error, ENAMETOOLONG, "cannot make the socket " + path_);
    }
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd_, kBacklog) != 0) {
        const int code = errno;
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        return safe_file::Failed(error, code, "cannot make the socket " + path_);
    }
    struct stat folder_st {};
    struct stat st {};
    ::fstat(folder_->Fd(), &folder_st);
    ::fchmodat(folder_->Fd(), name_.c_str(), kSocketMode, 0);
    ::fchownat(folder_->Fd(), name_.c_str(), static_cast<uid_t>(-1), folder_st.st_gid,
               AT_SYMLINK_NOFOLLOW);  // only root or a member of the group may; else ours stays
    if (::fstatat(folder_->Fd(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        dev_ = st.st_dev;
        ino_ = st.st_ino;
    }
    return true;
}

void SocketFile::Remove()
{
    if (fd_ < 0) {
        return;
    }
    ::close(fd_);
    fd_ = -1;
    struct stat st {};
    if (::fstatat(folder_->Fd(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISSOCK(st.st_mode) && st.st_dev == dev_ && st.st_ino == ino_) {
        ::unlinkat(folder_->Fd(), name_.c_str(), 0);
    }
}

}  // namespace nut
