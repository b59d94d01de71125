#pragma once

#include <chrono>
#include <string>

// When a device's cache is rewritten. Each write replaces the file through a
// flushed temporary file, which on a board's flash costs far more than the
// 76 bytes: with an interval of 0 (the default) every block is written; with
// an interval, a block whose flags differ from the cached block's is written
// at once (the alarms a restart restores), one whose values alone differ at
// most once an interval, and one that differs in its time stamp alone never.
// At the end of a run the last block is written when the cache lacks it.
class CacheWrites {
public:
    using Clock = std::chrono::steady_clock;

    explicit CacheWrites(std::chrono::milliseconds interval) : interval_(interval) {}

    // True when `block`, published at `now`, is to be written now.
    bool Due(const std::string& block, Clock::time_point now) const;
    // The block was written at `now`.
    void Written(const std::string& block, Clock::time_point now);

    // The last block published, written or not.
    void Published(const std::string& block) { published_ = block; }
    // The last block published when the cache does not hold it; "" otherwise.
    std::string Unwritten() const { return published_ == written_ ? "" : published_; }

private:
    std::chrono::milliseconds interval_;
    std::string written_;  // the block in the cache, as this run wrote it
    std::string published_;
    Clock::time_point written_at_{};
};
