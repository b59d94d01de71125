#include "tools/common/SafeFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

namespace safe_file {

namespace {

constexpr mode_t kFolderMode = 0755;
constexpr int kTemporaryAttempts = 16;
constexpr std::size_t kSuffixDigits = 12;  // RandomSuffix's

// The name of a temporary file of Replace(name), before its suffix.
std::string TemporaryPrefix(const std::string& name) { return "." + name + ".tmp-"; }

bool IsSuffix(const std::string& text)
{
    return text.size() == kSuffixDigits &&
           text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string Octal(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof(text), "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Why a file of this kind may not be written, or "" when it may.
std::string Unfit(const struct stat& st)
{
    if (!S_ISREG(st.st_mode)) {
        return "it is " + KindOf(st) + ", not a regular file";
    }
    if (st.st_uid != geteuid()) {
        return "it belongs to user " + UserName(st.st_uid) + ", not to you (user " +
               UserName(geteuid()) + ")";
    }
    if (st.st_nlink > 1) {
        return "it has " + std::to_string(st.st_nlink) + " names (a hard link)";
    }
    return "";
}

// Why others may write into a folder, or "" when they may not. Members of
// `writer_group` may.
std::string Shared(const struct stat& st, gid_t writer_group)
{
    if (st.st_uid != geteuid() && st.st_uid != 0) {
        return "it belongs to user " + UserName(st.st_uid) + ", not to you (user " +
               UserName(geteuid()) + ") or root";
    }
    if ((st.st_mode & S_ISVTX) != 0) {
        return "";
    }
    const std::string mode = " (mode " + Octal(st.st_mode) + ", no sticky bit)";
    if ((st.st_mode & S_IWOTH) != 0) {
        return "others can write to it" + mode;
    }
    if ((st.st_mode & S_IWGRP) != 0 && st.st_gid != writer_group) {
        return "group " + GroupName(st.st_gid) + " can write to it" + mode;
    }
    return "";
}

std::string RandomSuffix()
{
    unsigned char bytes[6] = {};
    if (getrandom(bytes, sizeof(bytes), 0) != static_cast<ssize_t>(sizeof(bytes))) {
        // Without randomness the exclusive create still keeps the name safe.
        const auto now = static_cast<unsigned long>(::getpid()) ^ static_cast<unsigned long>(
                                                                     ::time(nullptr));
        std::memcpy(bytes, &now, std::min(sizeof(bytes), sizeof(now)));
    }
    char text[16];
    std::snprintf(text, sizeof(text), "%02x%02x%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2],
                  bytes[3], bytes[4], bytes[5]);
    return text;
}

// mkdir -p, each folder made with kFolderMode; `made` tells whether the last
// one was made.
bool MakeFolders(const std::string& path, bool& made, Error& error)
{
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string prefix = path.substr(0, end);
        made = !prefix.empty() && ::mkdir(prefix.c_str(), kFolderMode) == 0;
        if (!made && !prefix.empty() && errno != EEXIST) {
            return Failed(error, errno, "cannot make the folder " + prefix);
        }
        if (end == std::string::npos) {
            return true;
        }
    }
}

// The folder just made gets the group of the rules and their mode, when
// they name a group; else it keeps what mkdir and the umask gave it.
bool SetMade(int fd, const std::string& path, const FolderRules& rules, Error& error)
{
    if (rules.create_group == kNoGroup) {
        return true;
    }
    if (::fchown(fd, static_cast<uid_t>(-1), rules.create_group) != 0) {
        return Failed(error, errno, "cannot give the folder " + path + " the group " +
                                        GroupName(rules.create_group));
    }
    if (::fchmod(fd, rules.create_mode) != 0) {
        return Failed(error, errno, "cannot set the mode of the folder " + path);
    }
    return true;
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

std::string KindOf(const struct stat& st)
{
    switch (st.st_mode & S_IFMT) {
    case S_IFLNK: return "a symbolic link";
    case S_IFDIR: return "a folder";
    case S_IFIFO: return "a FIFO";
    case S_IFSOCK: return "a socket";
    case S_IFCHR: return "a character device";
    case S_IFBLK: return "a block device";
    default: return "a regular file";
    }
}

std::string UserName(uid_t uid)
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return std::to_string(uid);
}

std::string GroupName(gid_t gid)
{
    group entry{};
    group* found = nullptr;
    char buffer[16384];
    if (::getgrgid_r(gid, &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr) {
        return found->gr_name;
    }
    return std::to_string(gid);
}

bool Failed(Error& error, int code, const std::string& text)
{
    error.code = code;
    error.text = text + (code != 0 ? std::string(": ") + std::strerror(code) : "");
    return false;
}

bool WriteAll(int fd, const void* data, std::size_t len)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (len > 0) {
        const ssize_t written = ::write(fd, bytes, len);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        bytes += written;
        len -= static_cast<std::size_t>(written);
    }
    return true;
}

Folder::Folder(Folder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_))
{
}

Folder& Folder::operator=(Folder&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

Folder::~Folder()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool Folder::Open(const std::string& path, const FolderRules& rules, Error& error)
{
    path_ = path;
    bool made = false;
    if (rules.create && !MakeFolders(path, made, error)) {
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return Failed(error, errno, "cannot open the folder " + path);
    }
    if (made && !SetMade(fd, path, rules, error)) {
        ::close(fd);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int code = errno;
        ::close(fd);
        return Failed(error, code, "cannot examine the folder " + path);
    }
    const std::string shared = Shared(st, rules.writer_group);
    if (!shared.empty() && !rules.accept_shared) {
        ::close(fd);
        return Failed(error, 0, "refusing the folder " + path + ": " + shared +
                                    (rules.shared_hint.empty() ? "" : "; " + rules.shared_hint));
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
    return true;
}

std::string Folder::PathOf(const std::string& name) const
{
    return path_.empty() || path_.back() == '/' ? path_ + name : path_ + "/" + name;
}

// Names what is in the way where `name` should be a file of the user's own.
bool Folder::Refuse(const std::string& name, Error& error) const
{
    struct stat st {};
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return Failed(error, errno, "cannot open " + PathOf(name));
    }
    std::string what = Unfit(st);
    if (S_ISLNK(st.st_mode)) {
        char target[512] = {};
        if (::readlinkat(fd_, name.c_str(), target, sizeof(target) - 1) > 0) {
            what += " (to " + std::string(target) + ")";
        }
    }
    return Failed(error, 0, "refusing " + PathOf(name) + ": " + what);
}

bool IsOwnRegularFile(int fd, const std::string& path, Error& error)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return Failed(error, errno, "cannot examine " + path);
    }
    const std::string unfit = Unfit(st);
    if (!unfit.empty()) {
        return Failed(error, 0, "refusing " + path + ": " + unfit);
    }
    return true;
}

int Folder::OpenAppend(const std::string& name, mode_t mode, Error& error, bool readable) const
{
    struct stat st {};
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !Unfit(st).empty()) {
        Refuse(name, error);
        return -1;
    }
    // Non-blocking, so that a FIFO put in between cannot hold the open.
    const int access = readable ? O_RDWR : O_WRONLY;
    const int fd = ::openat(fd_, name.c_str(),
                            access | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                            mode);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENXIO || errno == EISDIR) {
            Refuse(name, error);
        } else {
            Failed(error, errno, "cannot open " + PathOf(name));
        }
        return -1;
    }
    if (!IsOwnRegularFile(fd, PathOf(name), error)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, O_APPEND);
    return fd;
}

Folder::Read Folder::ReadSmall(const std::string& name, std::size_t limit, std::string& bytes,
                               Error& error) const
{
    struct stat st {};
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            return Read::Missing;
        }
        Failed(error, errno, "cannot read " + PathOf(name));
        return Read::Failed;
    }
    if (!Unfit(st).empty()) {
        Refuse(name, error);
        return Read::Failed;
    }
    const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return Read::Missing;
        }
        Failed(error, errno, "cannot read " + PathOf(name));
        return Read::Failed;
    }
    if (!IsOwnRegularFile(fd, PathOf(name), error)) {
        ::close(fd);
        return Read::Failed;
    }
    if (::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) > limit) {
        ::close(fd);
        Failed(error, EFBIG, PathOf(name) + " holds " + std::to_string(st.st_size) +
                                 " bytes, more than " + std::to_string(limit));
        return Read::Failed;
    }
    bytes.assign(limit + 1, '\0');
    std::size_t got = 0;
    for (ssize_t n; got < bytes.size(); got += static_cast<std::size_t>(n)) {
        n = ::read(fd, &bytes[got], bytes.size() - got);
        if (n < 0 && errno == EINTR) {
            n = 0;
            continue;
        }
        if (n < 0) {
            Failed(error, errno, "cannot read " + PathOf(name));
            ::close(fd);
            return Read::Failed;
        }
        if (n == 0) {
            break;
        }
    }
    ::close(fd);
    if (got > limit) {
        Failed(error, EFBIG, PathOf(name) + " holds more than " + std::to_string(limit) + " bytes");
        return Read::Failed;
    }
    bytes.resize(got);
    return Read::Done;
}

int Folder::MakeTemporary(const std::string& name, mode_t mode, std::string& temporary,
                          Error& error) const
{
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        temporary = TemporaryPrefix(name) + RandomSuffix();
        const int fd = ::openat(fd_, temporary.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0) {
                Failed(error, errno, "cannot store " + PathOf(name));
            }
            return fd;
        }
    }
    Failed(error, EEXIST, "cannot store " + PathOf(name));
    return -1;
}

bool Folder::Replace(const std::string& name, const void* data, std::size_t len, mode_t mode,
                     Error& error) const
{
    struct stat st {};
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !Unfit(st).empty()) {
        return Refuse(name, error);
    }
    std::string temporary;
    const int fd = MakeTemporary(name, mode, temporary, error);
    if (fd < 0) {
        return false;
    }
    const bool written = WriteAll(fd, data, len) && ::fsync(fd) == 0;
    int code = errno;
    if (::close(fd) != 0 && written) {
        code = errno;
    } else if (written) {
        code = 0;
    }
    if (code != 0) {
        ::unlinkat(fd_, temporary.c_str(), 0);
        return Failed(error, code, "cannot store " + PathOf(name));
    }
    if (::renameat(fd_, temporary.c_str(), fd_, name.c_str()) != 0) {
        const int rename_code = errno;
        ::unlinkat(fd_, temporary.c_str(), 0);
        return Failed(error, rename_code, "cannot store " + PathOf(name));
    }
    if (::fsync(fd_) != 0) {
        return Failed(error, errno, "cannot flush the folder of " + PathOf(name));
    }
    return true;
}

std::vector<std::string> Folder::RemoveTemporaries(const std::string& name) const
{
    std::vector<std::string> removed;
    const int fd = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* folder = fd < 0 ? nullptr : ::fdopendir(fd);
    if (folder == nullptr) {
        if (fd >= 0) {
            ::close(fd);
        }
        return removed;
    }
    const std::string prefix = TemporaryPrefix(name);
    while (const dirent* entry = ::readdir(folder)) {
        const std::string found = entry->d_name;
        // A link is removed, never followed; a folder is not removed.
        if (found.rfind(prefix, 0) == 0 && IsSuffix(found.substr(prefix.size())) &&
            ::unlinkat(fd_, found.c_str(), 0) == 0) {
            removed.push_back(found);
        }
    }
    ::closedir(folder);
    return removed;
}

bool Folder::Flush(Error& error) const
{
    if (::fsync(fd_) != 0) {
        return Failed(error, errno, "cannot flush the folder " + path_);
    }
    return true;
}

int OpenNamedFile(const std::string& path, const FolderRules& rules, Error& error)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            Failed(error, errno, "cannot open " + path);
        }
        return fd;
    }
    Folder folder;
    if (!folder.Open(FolderOf(path), rules, error)) {
        return -1;
    }
    return folder.OpenAppend(NameOf(path), 0644,
                             error);
}

bool ReplaceNamedFile(const std::string& path, const void* data, std::size_t len, mode_t mode,
                      const FolderRules& rules, Error& error)
{
    Folder folder;
    if (!folder.Open(FolderOf(path), rules, error)) {
        return false;
    }
    return folder.Replace(NameOf(path), data, len, mode, error);
}

}  // namespace safe_file
