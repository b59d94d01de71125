#pragma once

#include <string>

// Where the history tool makes files: every file it writes and every
// temporary folder it uses goes through here.

// A folder of our own under TMPDIR (or /tmp), made with mkdtemp, removed with
// all it holds when the object goes.
class PrivateDir {
public:
    PrivateDir();
    ~PrivateDir();
    PrivateDir(const PrivateDir&) = delete;
    PrivateDir& operator=(const PrivateDir&) = delete;

    // Empty when it could not be made; `Error()` says why.
    const std::string& Path() const { return path_; }
    const std::string& Error() const { return error_; }

private:
    std::string path_;
    std::string error_;
};

// Writes `content` as the whole file at `path`, made if absent. A symbolic
// link at the path is not followed and anything but a regular file is left
// alone. Answers what went wrong, or an empty text.
std::string WriteRegularFile(const std::string& path, const std::string& content);
