#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <string>

#include "tools/common/SafeFile.h"

// A driver socket's file: made in a folder checked under the file rules,
// removed when it is gone. What is in the way is refused by name: anything
// but a socket, a socket of another user, a socket another process listens
// on (named with the process). A socket of the user's own that nobody
// listens on is left from a run that ended without cleaning up, and is
// removed.
//
// The folder may be one that others (the group nut) write to, so the socket
// is made in a folder of its own that only this user may enter, given its
// mode and group there, and then linked under its name, never over what
// another put there: no link swapped in can have another file's mode or group
// changed, and the socket never shows under its name with another mode.
namespace nut {

class SocketFile {
public:
    // `before_naming` runs after the socket is made and before it is named,
    // for tests to put there what another user might.
    explicit SocketFile(std::function<void()> before_naming = {})
        : before_naming_(std::move(before_naming))
    {
    }
    SocketFile(const SocketFile&) = delete;
    SocketFile& operator=(const SocketFile&) = delete;
    ~SocketFile();

    enum class Made { Fresh, ReplacedLeftover, Refused };
    // Listens on `name` in `folder` (non-blocking), the file of mode 0660 and
    // of the folder's group, so that whoever may use the folder may connect.
    // Refused with `error` set.
    Made Make(const safe_file::Folder& folder, const std::string& name, safe_file::Error& error);

    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }

    // Closes the socket and removes its file, when the file is still this one.
    void Remove();

private:
    bool Refuse(const struct stat& st, safe_file::Error& error) const;
    bool Bind(safe_file::Error& error);
    bool Listen(const std::string& path, safe_file::Error& error);
    void Close();

    std::function<void()> before_naming_;
    const safe_file::Folder* folder_ = nullptr;
    std::string name_;
    std::string path_;
    int fd_ = -1;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

}  // namespace nut
