#include "tools/smdhist/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

PrivateDir::PrivateDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string name = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                       "/smdhist-XXXXXX";
    if (mkdtemp(name.data()) == nullptr) {
        error_ = "cannot make a temporary folder in " + name.substr(0, name.rfind('/')) + ": " +
                 std::strerror(errno);
        return;
    }
    path_ = name;
}

PrivateDir::~PrivateDir()
{
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

std::string WriteRegularFile(const std::string& path, const std::string& content)
{
    // Not blocking: a FIFO at the path must not hang the open.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        return errno == ELOOP ? "a symbolic link: not followed" : std::strerror(errno);
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return "not a regular file: left alone";
    }
    std::string error;
    if (ftruncate(fd, 0) != 0) {
        error = std::strerror(errno);
    }
    for (std::size_t at = 0; error.empty() && at < content.size();) {
        const ssize_t written = ::write(fd, content.data() + at, content.size() - at);
        if (written < 0 && errno != EINTR) {
            error = std::strerror(errno);
        }
        at += written > 0 ? static_cast<std::size_t>(written) : 0;
    }
    if (::close(fd) != 0 && error.empty()) {
        error = std::strerror(errno);
    }
    return error;
}
