#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/SafeFile.h"
#include "tools/smdhost/StateLock.h"

// The files one device keeps in the state folder: "<data_id>.history", the
// blocks the module stores, one after the other, and "<data_id>.cache", the
// last block stored, which the next run hands back to the module; and
// "<data_id>.lock", held while a host runs the device. The history only ever
// holds whole blocks, each flushed to disk before Append answers, and the
// cache is replaced whole; so neither a full disk, a crash nor a power loss
// leaves half a block behind, and a cache written after Append never holds a
// block the history lacks.
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
        Held,     // another host runs the device on these files
    };
    // Takes the lock, removes the temporary files of a cache write an earlier
    // run left, reads the cache and opens the history. A history that ends in
    // part of a block, or in blocks a power loss left zeroed, is cut back to
    // whole blocks, and `warnings` say what was dropped; one whose last block
    // is another device's is renamed to "<data_id>.history.rejected-<local
    // time>" and a new one begun.
    Opened Open(std::vector<std::string>& warnings, safe_file::Error& error);

    // The cache as Open read it, when there was one.
    bool HasCache() const { return has_cache_; }
    const std::string& CachedBlock() const { return cached_; }
    // Why a cache that is there could not be read ("it holds 77 bytes, not
    // one 76-byte block"), or "".
    const std::string& CacheFault() const { return cache_fault_; }

    // Renames the cache to "<data_id>.cache.rejected-<local time>" (never
    // over another file) and forgets it; answers the new path, "" with
    // `error` set when it could not be renamed.
    std::string SetCacheAside(safe_file::Error& error);

    // Keeps the history within `max_bytes` (whole blocks; 0: no limit) by
    // rotating it, see HistoryRotation.h.
    void LimitHistory(std::uint64_t max_bytes);

    // Appends one block whole and flushes it to disk, or stores nothing: a
    // write cut short or a flush that fails is rolled back. `rotated` names
    // the predecessor when the block started a new history.
    bool Append(const unsigned char* data, unsigned int len, safe_file::Error& error,
                std::string& rotated);
    bool StoreCache(const unsigned char* data, unsigned int len, safe_file::Error& error);

    std::string HistoryPath() const { return folder_.PathOf(history_); }
    std::string CachePath() const { return folder_.PathOf(cache_); }

private:
    bool ReadCache(safe_file::Error& error);
    bool OpenHistory(std::vector<std::string>& warnings, safe_file::Error& error);
    bool CutTornTail(std::vector<std::string>& warnings, safe_file::Error& error);
    bool CutZeroedTail(std::vector<std::string>& warnings, safe_file::Error& error);
    bool KeepOthersHistoryAside(std::vector<std::string>& warnings, safe_file::Error& error);
    std::string SetAside(const std::string& name, safe_file::Error& error);
    bool Write(const unsigned char* data, unsigned int len, safe_file::Error& error);
    void CloseHistory();

    const safe_file::Folder& folder_;
    std::size_t block_size_;
    unsigned int data_id_;
    std::string lock_name_;
    std::string history_;
    std::string cache_;
    StateLock lock_;
    std::string cached_;
    std::string cache_fault_;
    bool has_cache_ = false;
    int history_fd_ = -1;
    bool folder_unflushed_ = false;  // the history was opened (maybe made) since the last flush
    off_t history_size_ = 0;
    std::uint64_t history_limit_ = 0;  // whole blocks' bytes; 0: none
};
