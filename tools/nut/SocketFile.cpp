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

// The file `name` in the folder open as `fd`, reached through the descriptor
// so that the folder cannot be swapped under the host; through the folder's
// path `folder` where /proc is missing.
std::string ThroughFolder(int fd, const std::string& folder, const std::string& name)
{
    const std::string through = "/proc/self/fd/" + std::to_string(fd);
    return ::access(through.c_str(), F_OK) == 0 ? through + "/" + name : folder + "/" + name;
}

std::string ThroughFolder(const safe_file::Folder& folder, const std::string& name)
{
    return ThroughFolder(folder.Fd(), folder.Path(), name);
}

// A folder only this user may enter, made beside the socket's name and
// removed with what is in it when it goes.
class PrivateFolder {
public:
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    PrivateFolder(const safe_file::Folder& folder, const std::string& socket)
        : folder_(folder), socket_(socket)
    {
    }
    ~PrivateFolder()
    {
        if (fd_ >= 0) {
            ::unlinkat(fd_, socket_.c_str(), 0);
            ::close(fd_);
            ::unlinkat(folder_.Fd(), name_.c_str(), AT_REMOVEDIR);
        }
    }

    bool Make(safe_file::Error& error)
    {
        std::string path = ThroughFolder(folder_, "." + socket_ + ".new-XXXXXX");
        if (::mkdtemp(&path[0]) == nullptr) {
            return safe_file::Failed(error, errno, "cannot make the socket " + folder_.PathOf(socket_));
        }
        name_ = path.substr(path.rfind('/') + 1);
        fd_ = ::openat(folder_.Fd(), name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
            if (fd_ >= 0) {
                ::close(fd_);  // not ours: left as it is
                fd_ = -1;
            }
            return safe_file::Failed(error, 0, "refusing " + folder_.PathOf(name_) +
                                                   ": another user swapped the folder the socket "
                                                   "was made in");
        }
        return true;
    }

    int Fd() const { return fd_; }
    // The socket's path in it.
    std::string Socket() const { return ThroughFolder(fd_, folder_.PathOf(name_), socket_); }

private:
    const safe_file::Folder& folder_;
    const std::string socket_;
    std::string name_;
    int fd_ = -1;
};

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
                                           safe_file::UserName(st.st_uid) + ", not yours (user " +
                                           safe_file::UserName(::geteuid()) + ")");
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

bool SocketFile::Listen(const std::string& path, safe_file::Error& error)
{
    sockaddr_un address;
    if (!Address(path, address)) {
        return safe_file::Failed(error, ENAMETOOLONG, "cannot make the socket " + path_);
    }
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd_, kBacklog) != 0) {
        const int code = errno;
        Close();
        return safe_file::Failed(error, code, "cannot make the socket " + path_);
    }
    return true;
}

void SocketFile::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

// Made, given mode and group where nobody else may write, then linked under
// its name: linkat never replaces what is there.
bool SocketFile::Bind(safe_file::Error& error)
{
    PrivateFolder place(*folder_, name_);
    if (!place.Make(error) || !Listen(place.Socket(), error)) {
        return false;
    }
    struct stat folder_st {};
    struct stat st {};
    ::fstat(folder_->Fd(), &folder_st);
    ::fchownat(place.Fd(), name_.c_str(), static_cast<uid_t>(-1), folder_st.st_gid,
               AT_SYMLINK_NOFOLLOW);  // only root or a member of the group may; else ours stays
    if (::fchmodat(place.Fd(), name_.c_str(), kSocketMode, 0) != 0 ||
        ::fstatat(place.Fd(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        const int code = errno;
        Close();
        return safe_file::Failed(error, code, "cannot set the mode of the socket " + path_);
    }
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    if (before_naming_) {
        before_naming_();
    }
    if (::linkat(place.Fd(), name_.c_str(), folder_->Fd(), name_.c_str(), 0) != 0) {
        const int code = errno;
        Close();
        return code == EEXIST ? safe_file::Failed(error, 0, "refusing " + path_ +
                                                                ": another process put a file "
                                                                "there while the socket was made")
                              : safe_file::Failed(error, code, "cannot name the socket " + path_);
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
