#pragma once

#include <chrono>
#include <string>

// When a device's cache is rewritten with a block the history has just taken.
// Each write replaces the file through a flushed temporary file, which on a
// board's flash costs far more than the 76 bytes: with an interval of 0
// every block is written; with an interval (60 s unless configured), the
// first block of a run and a block whose flags differ from the cached block's
// are written at once (the alarms a restart restores), one whose values alone
// differ at most once an interval, and one that differs in its time stamp
// alone never. At the end of a run the last block is written when the cache
// lacks it.
class CacheWrites {
public:
    using Clock = std::chrono::steady_clock;

    explicit CacheWrites(std::chrono::milliseconds interval) : interval_(interval) {}

    // True when `block`, published at `now`, is to be written now.
    bool Due(const std::string& block, Clock::time_point now) const;
    // The block was written at `now`.
    void Written(const std::string& block, Clock::time_point now);

    // The last block the history took, written or not.
    void Stored(const std::string& block) { stored_ = block; }
    // The last block stored when the cache does not hold it; "" otherwise.
    std::string Unwritten() const { return stored_ == written_ ? "" : stored_; }

private:
    std::chrono::milliseconds interval_;
    std::string written_;  // the block in the cache, as this run wrote it
    std::string stored_;
    Clock::time_point written_at_{};
};
