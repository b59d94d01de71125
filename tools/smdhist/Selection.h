#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "tools/smdhist/BlockStream.h"

// The blocks the user chose: a time range, one data identifier, the last N;
// and what was read, to say why nothing was chosen when nothing was.
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
    // Passes on the last blocks waiting; later ones pass at once (a follower
    // shows the last N and then each new block).
    void Finish();

    // Blocks whose impossible stamps a time range could not place.
    std::uint64_t Unplaced() const { return unplaced_; }
    std::uint64_t Offered() const { return offered_; }
    std::uint64_t Chosen() const { return chosen_; }

    // Why nothing was chosen: "no block of data id 7; the data ids read: 42"
    // or "no block stamped from ... to ...; the blocks read run from ... to ...".
    std::string NothingChosen() const;

private:
    bool InRange(const Entry& entry);
    void Seen(const Entry& entry);

    Choice choice_;
    Pass pass_;
    std::deque<Entry> last_;
    std::uint64_t unplaced_ = 0;
    std::uint64_t offered_ = 0;
    std::uint64_t chosen_ = 0;
    std::uint64_t of_the_id_ = 0;  // sound blocks of the data id asked for
    std::set<std::uint32_t> ids_;  // of sound blocks; the first few
    bool more_ids_ = false;
    std::optional<std::int64_t> earliest_;
    std::optional<std::int64_t> latest_;
};
