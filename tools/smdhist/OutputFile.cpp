#include "tools/smdhist/OutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tools/common/SafeFile.h"

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

std::string WritePrivateFile(const std::string& path, const std::string& content)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return "cannot make " + path + ": " + std::strerror(errno);
    }
    const bool written = safe_file::WriteAll(fd, content.data(), content.size());
    const int code = errno;
    if (::close(fd) != 0 || !written) {
        return "cannot write " + path + ": " + std::strerror(written ? errno : code);
    }
    return "";
}

std::string WritePicture(const std::string& path, const std::string& content, bool accept_shared)
{
    safe_file::FolderRules rules;
    rules.accept_shared = accept_shared;
    rules.shared_hint = "--allow-shared-dir accepts it";
    safe_file::Error error;
    if (!safe_file::ReplaceNamedFile(path, content.data(), content.size(), 0644, rules, error)) {
        return error.text;
    }
    return "";
}
