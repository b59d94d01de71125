#include "tools/smdhost/StateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <ctime>

#include "tools/common/DataBlock.h"
#include "tools/common/Plural.h"
#include "tools/smdhost/HistoryRotation.h"
#include "ups/QuillmarUPS_Data.h"

using safe_file::Failed;

namespace {

// How many blocks the look for zeroed blocks at a history's end reads at once.
constexpr std::size_t kBlocksRead = 256;

// The day of a block's time stamp, which is never 0 in a stored block.
constexpr std::size_t kDayAt = offsetof(QuillmarUPS_Block_t, time_stamp) + offsetof(ttime, day);

// A block a power loss left zeroed: the file's new size reached the disk and
// the block's bytes did not, from some byte on. Zero from its day on, it is no
// stored block, whatever came before.
bool Zeroed(const unsigned char* block, std::size_t size)
{
    return std::all_of(block + kDayAt, block + size, [](unsigned char byte) { return byte == 0; });
}

}  // namespace

StateFiles::StateFiles(const safe_file::Folder& folder, unsigned int data_id,
                       std::size_t block_size)
    : folder_(folder),
      block_size_(block_size),
      data_id_(data_id),
      lock_name_(std::to_string(data_id) + ".lock"),
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
    switch (lock_.Take(folder_, lock_name_, error)) {
    case StateLock::Taken::Yes:
        break;
    case StateLock::Taken::Held:
        error.text = "another host runs this device on its state files (" + error.text +
                     "); one host per data id and state folder";
        return Opened::Held;
    case StateLock::Taken::Failed:
        return Opened::Refused;
    }
    const std::vector<std::string> removed = folder_.RemoveTemporaries(cache_);
    if (!removed.empty()) {
        warnings.push_back("removed " + Counted(removed.size(), "temporary file") +
                           " of a cache write an earlier run left unfinished (" +
                           folder_.PathOf(removed.front()) + (removed.size() > 1 ? ", ..." : "") +
                           ")");
    }
    if (!ReadCache(error)) {
        return Opened::Refused;
    }
    if (!OpenHistory(warnings, error) || !KeepOthersHistoryAside(warnings, error)) {
        return error.code == 0 ? Opened::Refused : Opened::Failed;
    }
    return Opened::Ready;
}

bool StateFiles::ReadCache(safe_file::Error& error)
{
    const auto read = folder_.ReadSmall(cache_, block_size_, cached_, error);
    if (read == safe_file::Folder::Read::Failed && error.code == 0) {
        return false;
    }
    has_cache_ = read == safe_file::Folder::Read::Done;
    if (read != safe_file::Folder::Read::Failed) {
        return true;
    }
    struct stat st {};
    if (error.code == EFBIG &&
        ::fstatat(folder_.Fd(), cache_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        cache_fault_ = "it holds " + std::to_string(st.st_size) + " bytes, not one " +
                       std::to_string(block_size_) + "-byte block";
    } else {
        cache_fault_ = error.text;
    }
    error = {};
    return true;
}

bool StateFiles::OpenHistory(std::vector<std::string>& warnings, safe_file::Error& error)
{
    history_fd_ = folder_.OpenAppend(history_, kMode, error, true);
    if (history_fd_ < 0) {
        return false;
    }
    folder_unflushed_ = true;
    if (!CutTornTail(warnings, error) || !CutZeroedTail(warnings, error)) {
        CloseHistory();
        return false;
    }
    return true;
}

// A crash or a full disk of an older host may have left part of a block at
// the end; every later block would be read out of step with it.
bool StateFiles::CutTornTail(std::vector<std::string>& warnings, safe_file::Error& error)
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
    warnings.push_back(HistoryPath() + " ended in part of a block: " +
                       Counted(static_cast<unsigned long long>(torn), "byte") + " dropped, " +
                       Counted(static_cast<unsigned long long>(history_size_ / block_size_),
                               "whole block") +
                       " kept");
    return true;
}

// A power loss may have left the end zeroed (an older host never flushed its
// history); a block appended after it would follow blocks that are none.
bool StateFiles::CutZeroedTail(std::vector<std::string>& warnings, safe_file::Error& error)
{
    std::vector<unsigned char> read(kBlocksRead * block_size_);
    off_t end = history_size_;
    for (bool zeroed = true; zeroed && end > 0;) {
        const off_t start = std::max<off_t>(0, end - static_cast<off_t>(read.size()));
        const auto len = static_cast<std::size_t>(end - start);
        if (::pread(history_fd_, read.data(), len, start) != static_cast<ssize_t>(len)) {
            return Failed(error, errno != 0 ? errno : EIO, "cannot read " + HistoryPath());
        }
        for (std::size_t at = len; zeroed && at > 0; at -= block_size_) {
            zeroed = Zeroed(&read[at - block_size_], block_size_);
            end -= zeroed ? static_cast<off_t>(block_size_) : 0;
        }
    }
    if (end == history_size_) {
        return true;
    }
    if (::ftruncate(history_fd_, end) != 0) {
        return Failed(error, errno, "cannot cut the zeroed end of " + HistoryPath());
    }
    const off_t dropped = history_size_ - end;
    history_size_ = end;
    warnings.push_back(HistoryPath() + " ended in " +
                       Counted(dropped / block_size_, "block") +
                       " of zeros, left by a power loss: " +
                       Counted(static_cast<unsigned long long>(dropped), "byte") + " dropped, " +
                       Counted(static_cast<unsigned long long>(end / block_size_), "whole block") +
                       " kept");
    return true;
}

// A history left by another device (a file copied or renamed into place)
// would mix two UPSes in one file: it is set aside whole, as a refused cache
// is, and this device's blocks begin a history of their own.
bool StateFiles::KeepOthersHistoryAside(std::vector<std::string>& warnings,
                                        safe_file::Error& error)
{
    if (history_size_ == 0) {
        return true;
    }
    std::vector<unsigned char> last(block_size_);
    data_block::Decoded block;
    if (::pread(history_fd_, last.data(), block_size_, history_size_ - static_cast<off_t>(block_size_)) !=
        static_cast<ssize_t>(block_size_)) {
        return Failed(error, errno != 0 ? errno : EIO, "cannot read " + HistoryPath());
    }
    if (data_block::Decode(last.data(), last.size(), block) && block.data_id == data_id_) {
        return true;
    }
    CloseHistory();
    const std::string aside = SetAside(history_, error);
    if (aside.empty()) {
        return false;
    }
    warnings.push_back(HistoryPath() + " ends in a block of data id " +
                       std::to_string(block.data_id) + ", not this device's " +
                       std::to_string(data_id_) + ": set aside as " + aside +
                       ", this device's blocks begin a new history");
    std::vector<std::string> none;  // a new history: nothing to cut
    return OpenHistory(none, error);
}

std::string StateFiles::SetCacheAside(safe_file::Error& error)
{
    const std::string aside = SetAside(cache_, error);
    if (!aside.empty()) {
        has_cache_ = false;
        cached_.clear();
        cache_fault_.clear();
    }
    return aside;
}

std::string StateFiles::SetAside(const std::string& name, safe_file::Error& error)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y%m%dT%H%M%S", &local);
    std::string aside = name + ".rejected-" + stamp;
    for (int again = 2; ::renameat2(folder_.Fd(), name.c_str(), folder_.Fd(), aside.c_str(),
                                    RENAME_NOREPLACE) != 0;
         ++again) {
        if (errno != EEXIST || again > 9) {
            Failed(error, errno, "cannot set " + folder_.PathOf(name) + " aside");
            return "";
        }
        aside = name + ".rejected-" + stamp + "-" + std::to_string(again);
    }
    return folder_.PathOf(aside);
}

void StateFiles::LimitHistory(std::uint64_t max_bytes)
{
    history_limit_ = history_rotation::WholeBlocks(max_bytes, block_size_);
}

bool StateFiles::Append(const unsigned char* data, unsigned int len, safe_file::Error& error,
                        std::string& rotated)
{
    std::vector<std::string> untold;  // a history opened again was told at start
    rotated.clear();
    // Opened again after a failure, the history is checked again: one that
    // could not be set aside at start is still another device's.
    if (history_fd_ < 0 &&
        (!OpenHistory(untold, error) || !KeepOthersHistoryAside(untold, error))) {
        return false;
    }
    if (history_rotation::Due(history_size_, len, history_limit_)) {
        CloseHistory();
        rotated = history_rotation::Rotate(folder_, history_, error);
        if (rotated.empty() || !OpenHistory(untold, error)) {
            return false;
        }
    }
    struct stat st {};
    if (::fstat(history_fd_, &st) == 0 && st.st_nlink == 0) {
        CloseHistory();
        return Failed(error, ENOENT, "cannot store in " + HistoryPath() + ", it was removed");
    }
    // A history just made is found after a power loss only once its folder is flushed.
    if (folder_unflushed_ && !folder_.Flush(error)) {
        return false;
    }
    folder_unflushed_ = false;
    return Write(data, len, error);
}

// The block written and flushed (the data and the file's new size), or the
// file cut back to what it held.
bool StateFiles::Write(const unsigned char* data, unsigned int len, safe_file::Error& error)
{
    if (safe_file::WriteAll(history_fd_, data, len) && ::fdatasync(history_fd_) == 0) {
        history_size_ += len;
        return true;
    }
    const int code = errno;
    if (::ftruncate(history_fd_, history_size_) != 0) {
        CloseHistory();  // opened again, and its torn end cut, with the next block
    }
    return Failed(error, code, "cannot store in " + HistoryPath());
}

bool StateFiles::StoreCache(const unsigned char* data, unsigned int len, safe_file::Error& error)
{
    return folder_.Replace(cache_, data, len, kMode, error);
}
