#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

// Files a tool writes for its user, safe against whoever else can write to
// the same folder. A tool often runs as root and writes into /tmp or a folder
// on a USB stick; a symbolic or hard link planted there must never make it
// write through to another file. So:
//   - a folder is opened once and every file in it with openat;
//   - no file is opened through a symbolic link (O_NOFOLLOW), and an existing
//     file must be a regular file of the user's own with one name;
//   - a file replaced whole goes through a temporary file created exclusively
//     under a name nobody can predict, flushed, then renamed over it;
//   - a folder others can write to (group or world writable without the
//     sticky bit, or owned by another user than the user or root) is refused
//     unless the user accepts it; a folder its group may write to is no such
//     folder when that group is one the rules trust (the group nut of Network
//     UPS Tools' state folder).
namespace safe_file {

// Why a file was refused or could not be used: `code` is the errno (0 when
// the file was refused for what it is), `text` names the file and the reason.
struct Error {
    int code = 0;
    std::string text;
};

// What a file is, for a refusal: "a FIFO", "a folder", ...
std::string KindOf(const struct stat& st);

// Sets `error` to `text` and the system's reason for `code` (none for 0);
// answers false, for returning at once.
bool Failed(Error& error, int code, const std::string& text);

// Writes every byte, again after an interruption. False with errno set
// (ENOSPC for a write that took nothing) otherwise.
bool WriteAll(int fd, const void* data, std::size_t len);

// The name of a user or a group, for messages: "nut", or the number when it
// has no name.
std::string UserName(uid_t uid);
std::string GroupName(gid_t gid);

// No group: what a gid_t holds when no group is meant.
constexpr gid_t kNoGroup = static_cast<gid_t>(-1);

struct FolderRules {
    bool create = false;         // make it when missing, its parents of mode 0755
    bool accept_shared = false;  // accept a folder others can write to
    std::string shared_hint;     // appended to the refusal: how to accept it
    // A group whose members may write to the folder: a folder that only its
    // owner and this group can write to is accepted. kNoGroup: none.
    gid_t writer_group = kNoGroup;
    // The folder itself, when it is made, of this group and mode (the
    // umask aside); kNoGroup: the user's group, mode 0755 less the umask.
    gid_t create_group = kNoGroup;
    mode_t create_mode = 0755;
};

class Folder {
public:
    Folder() = default;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    ~Folder();

    // Opens the folder under the rules. False, with `error` set, when it is
    // missing (and not to be made), no folder, or shared and not accepted.
    bool Open(const std::string& path, const FolderRules& rules, Error& error);
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }
    // The path of a file in the folder, for messages.
    std::string PathOf(const std::string& name) const;

    // Opens `name` to append to, created with `mode` when missing, and to
    // read from when `readable` (to check its end). Answers the descriptor,
    // or -1 with `error` set.
    int OpenAppend(const std::string& name, mode_t mode, Error& error,
                   bool readable = false) const;

    enum class Read { Missing, Done, Failed };
    // Reads `name` whole when it holds at most `limit` bytes.
    Read ReadSmall(const std::string& name, std::size_t limit, std::string& bytes,
                   Error& error) const;

    // Replaces `name` with `len` bytes, whole or not at all, mode `mode`.
    // Folder and file are flushed to disk before it answers true.
    bool Replace(const std::string& name, const void* data, std::size_t len, mode_t mode,
                 Error& error) const;

    // Removes the temporary files a Replace of `name` left when its writer
    // was killed (".<name>.tmp-" and twelve hex digits) and answers their
    // names. Only for a caller that knows no one replaces `name` now.
    std::vector<std::string> RemoveTemporaries(const std::string& name) const;

    // Flushes the folder's entries to disk: a file made or renamed in it
    // survives a power loss once this answers true.
    bool Flush(Error& error) const;

private:
    bool Refuse(const std::string& name, Error& error) const;
    int MakeTemporary(const std::string& name, mode_t mode, std::string& temporary,
                      Error& error) const;

    int fd_ = -1;
    std::string path_;
};

// Checks an open file as Folder's rules want it: a regular file of the
// user's own with one name. False with `error` naming `path` otherwise.
bool IsOwnRegularFile(int fd, const std::string& path, Error& error);

// Opens a file the user named on the command line to append to (a trace,
// the module's lines): its folder under the folder rules, the file as
// Folder::OpenAppend does. A character device that exists (a terminal,
// /dev/null) is taken as it is.
int OpenNamedFile(const std::string& path, const FolderRules& rules, Error& error);

// Replaces a file the user named on the command line (a picture) whole: its
// folder under the folder rules, the file as Folder::Replace does.
bool ReplaceNamedFile(const std::string& path, const void* data, std::size_t len, mode_t mode,
                      const FolderRules& rules, Error& error);

}  // namespace safe_file
