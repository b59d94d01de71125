#include "tools/smdhost/StateFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "tools/smdhost/HistoryRotation.h"
#include "tools/common/Plural.h"

using safe_file::Failed;

StateFiles::StateFiles(const safe_file::Folder& folder, unsigned int data_id,
                       std::size_t block_size)
    : folder_(folder),
      block_size_(block_size),
      history_(std::to_string(data_id) + ".history"),
      cache_(std::to_string(data_id) + ".cache")
{
}

StateFiles::~StateFiles() { CloseHistory(); }

void StateFiles::CloseHistory()
{
    if (history_fd_ >= 0) {
        ::close(history_fd_);
        history_fd_ = -1;
    }
}

StateFiles::Opened StateFiles::Open(std::vector<std::string>& warnings, safe_file::Error& error)
{
    const auto read = folder_.ReadSmall(cache_, block_size_, cached_, error);
    if (read == safe_file::Folder::Read::Failed && error.code == 0) {
        return Opened::Refused;
    }
    if (read == safe_file::Folder::Read::Failed) {
        warnings.push_back(error.text + "; it is not handed to the module");
        error = {};
    }
    has_cache_ = read == safe_file::Folder::Read::Done;
    std::string warning;
    if (!OpenHistory(warning, error)) {
        return error.code == 0 ? Opened::Refused : Opened::Failed;
    }
    if (!warning.empty()) {
        warnings.push_back(warning);
    }
    return Opened::Ready;
}

bool StateFiles::OpenHistory(std::string& warning, safe_file::Error& error)
{
    history_fd_ = folder_.OpenAppend(history_, kMode, error);
    if (history_fd_ < 0) {
        return false;
    }
    if (!CutTornTail(warning, error)) {
        CloseHistory();
        return false;
    }
    return true;
}

// A crash or a full disk of an older host may have left part of a block at
// the end; every later block would be read out of step with it.
bool StateFiles::CutTornTail(std::string& warning, safe_file::Error& error)
{
    struct stat st {};
    if (::fstat(history_fd_, &st) != 0) {
        return Failed(error, errno, "cannot examine " + HistoryPath());
    }
    const off_t torn = st.st_size % static_cast<off_t>(block_size_);
    history_size_ = st.st_size - torn;
    if (torn == 0) {
        return true;
    }
    if (::ftruncate(history_fd_, history_size_) != 0) {
        return Failed(error, errno, "cannot cut the torn end of " + HistoryPath());
    }
    warning = HistoryPath() + " ended in part of a block: " +
              Counted(static_cast<unsigned long long>(torn), "byte") + " dropped, " +
              Counted(static_cast<unsigned long long>(history_size_ / block_size_), "whole block") +
              " kept";
    return true;
}

std::string StateFiles::SetCacheAside(safe_file::Error& error)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y%m%dT%H%M%S", &local);
    std::string aside = cache_ + ".rejected-" + stamp;
    for (int again = 2; ::renameat2(folder_.Fd(), cache_.c_str(), folder_.Fd(), aside.c_str(),
                                    RENAME_NOREPLACE) != 0;
         ++again) {
        if (errno != EEXIST || again > 9) {
            Failed(error, errno, "cannot set " + CachePath() + " aside");
            return "";
        }
        aside = cache_ + ".rejected-" + stamp + "-" + std::to_string(again);
    }
    has_cache_ = false;
    cached_.clear();
    return folder_.PathOf(aside);
}

void StateFiles::LimitHistory(std::uint64_t max_bytes)
{
    history_limit_ = history_rotation::WholeBlocks(max_bytes, block_size_);
}

bool StateFiles::Append(const unsigned char* data, unsigned int len, safe_file::Error& error,
                        std::string& rotated)
{
    std::string warning;
    rotated.clear();
    if (history_fd_ < 0 && !OpenHistory(warning, error)) {
        return false;
    }
    if (history_rotation::Due(history_size_, len, history_limit_)) {
        CloseHistory();
        rotated = history_rotation::Rotate(folder_, history_, error);
        if (rotated.empty() || !OpenHistory(warning, error)) {
            return false;
        }
    }
    struct stat st {};
    if (::fstat(history_fd_, &st) == 0 && st.st_nlink == 0) {
        CloseHistory();
        return Failed(error, ENOENT, "cannot store in " + HistoryPath() + ", it was removed");
    }
    if (!safe_file::WriteAll(history_fd_, data, len)) {
        const int code = errno;
        if (::ftruncate(history_fd_, history_size_) != 0) {
            CloseHistory();  // opened again, and its torn end cut, with the next block
        }
        return Failed(error, code, "cannot store in " + HistoryPath());
    }
    history_size_ += len;
    return true;
}

bool StateFiles::StoreCache(const unsigned char* data, unsigned int len, safe_file::Error& error)
{
    return folder_.Replace(cache_, data, len, kMode, error);
}
