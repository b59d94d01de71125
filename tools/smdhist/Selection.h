#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

#include "tools/smdhist/HistoryReader.h"

// The blocks the user chose: a time range, one data identifier, the last N.
class Selection {
public:
    struct Choice {
        std::optional<std::int64_t> from;  // seconds since the epoch, inclusive
        std::optional<std::int64_t> to;
        std::optional<std::uint32_t> data_id;
        std::optional<std::uint64_t> last;
    };

    using Pass = std::function<void(const Entry&)>;

    explicit Selection(const Choice& choice, Pass pass);

    // Passes the entry on when it is chosen; with a count of last blocks, the
    // chosen ones wait for Finish.
    void Offer(Entry& entry);
    void Finish();

    // Blocks whose impossible stamps a time range could not place.
    std::uint64_t Unplaced() const { return unplaced_; }

private:
    bool InRange(const Entry& entry);

    Choice choice_;
    Pass pass_;
    std::deque<Entry> last_;
    std::uint64_t unplaced_ = 0;
};
