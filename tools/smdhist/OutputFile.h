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

// Writes `content` as the whole file at `path` in the private folder.
// Answers what went wrong, or an empty text.
std::string WritePrivateFile(const std::string& path, const std::string& content);

// Replaces the picture at `path` whole, through a temporary file in its
// folder: never through a link, never over anything but a regular file of
// the user's own, and into a folder others can write to only when
// `accept_shared`. Answers what went wrong, naming the file, or an empty text.
std::string WritePicture(const std::string& path, const std::string& content,
                         bool accept_shared);
