#include "tools/smdhost/driver/PidFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "tools/nut/Mapping.h"

namespace driver_mode {

namespace {

constexpr mode_t kMode = 0644;
constexpr std::size_t kLargest = 64;

}  // namespace

std::string PidFileName(const std::string& ups) { return nut::SocketName(ups) + ".pid"; }

void PidFile::Write(const std::string& folder, const std::string& ups,
                    const safe_file::FolderRules& rules)
{
    safe_file::Error error;
    if (!folder_.Open(folder, rules, error)) {
        throw std::runtime_error("the pid file's folder: " + error.text);
    }
    name_ = PidFileName(ups);
    text_ = std::to_string(::getpid()) + "\n";
    // One left by a driver that was killed (its socket was free, or the
    // socket's check would have refused to start) may be another user's.
    if (!folder_.Replace(name_, text_.data(), text_.size(), kMode, error) &&
        (::unlinkat(folder_.Fd(), name_.c_str(), 0) != 0 ||
         !folder_.Replace(name_, text_.data(), text_.size(), kMode, error))) {
        text_.clear();
        throw std::runtime_error("the pid file: " + error.text);
    }
}

void PidFile::Remove()
{
    if (text_.empty()) {
        return;
    }
    std::string held;
    safe_file::Error error;
    if (folder_.ReadSmall(name_, kLargest, held, error) == safe_file::Folder::Read::Done &&
        held == text_) {
        ::unlinkat(folder_.Fd(), name_.c_str(), 0);
    }
    text_.clear();
}

}  // namespace driver_mode
