#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "tools/common/SafeFile.h"

// A driver socket's file: made in a folder checked under the file rules,
// removed when it is gone. What is in the way is refused by name: anything
// but a socket, a socket of another user, a socket another process listens
// on (named with the process). A socket of the user's own that nobody
// listens on is left from a run that ended without cleaning up, and is
// removed.
namespace nut {

class SocketFile {
public:
    SocketFile() = default;
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

    const safe_file::Folder* folder_ = nullptr;
    std::string name_;
    std::string path_;
    int fd_ = -1;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

}  // namespace nut
