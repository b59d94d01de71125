#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/SafeFile.h"

// The files one device keeps in the state folder: "<data_id>.history", the
// blocks the module stores, one after the other, and "<data_id>.cache", the
// last published block, which the next run hands back to the module. The
// history only ever holds whole blocks and the cache is replaced whole, so
// neither a full disk nor a crash leaves half a block behind.
class StateFiles {
public:
    static constexpr mode_t kMode = 0644;

    StateFiles(const safe_file::Folder& folder, unsigned int data_id, std::size_t block_size);
    StateFiles(const StateFiles&) = delete;
    StateFiles& operator=(const StateFiles&) = delete;
    ~StateFiles();

    enum class Opened {
        Ready,    // both files may be used
        Failed,   // the history cannot be opened now: storing is tried again each block
        Refused,  // a file is something other than a regular file of the user's own
    };
    // Opens the history and reads the cache. A history that ends in part of a
    // block is cut back to whole blocks, and `warnings` say what was dropped;
    // a cache that cannot be read is left out with a warning.
    Opened Open(std::vector<std::string>& warnings, safe_file::Error& error);

    // The cache as Open read it, when there was one.
    bool HasCache() const { return has_cache_; }
    const std::string& CachedBlock() const { return cached_; }

    // Renames the cache to "<data_id>.cache.rejected-<local time>" (never
    // over another file) and forgets it; answers the new path, "" with
    // `error` set when it could not be renamed.
    std::string SetCacheAside(safe_file::Error& error);

    // Keeps the history within `max_bytes` (whole blocks; 0: no limit) by
    // rotating it, see HistoryRotation.h.
    void LimitHistory(std::uint64_t max_bytes);

    // Appends one block whole, or nothing: a short write is rolled back.
    // `rotated` names the predecessor when the block started a new history.
    bool Append(const unsigned char* data, unsigned int len, safe_file::Error& error,
                std::string& rotated);
    bool StoreCache(const unsigned char* data, unsigned int len, safe_file::Error& error);

    std::string HistoryPath() const { return folder_.PathOf(history_); }
    std::string CachePath() const { return folder_.PathOf(cache_); }

private:
    bool OpenHistory(std::string& warning, safe_file::Error& error);
    bool CutTornTail(std::string& warning, safe_file::Error& error);
    void CloseHistory();

    const safe_file::Folder& folder_;
    std::size_t block_size_;
    std::string history_;
    std::string cache_;
    std::string cached_;
    bool has_cache_ = false;
    int history_fd_ = -1;
    off_t history_size_ = 0;
    std::uint64_t history_limit_ = 0;  // whole blocks' bytes; 0: none
};
