#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/smdhist/BlockStream.h"

// The values and alarm flags over time, thinned to what a picture can show:
// consecutive blocks share a bucket that keeps each value's least and
// greatest and how many blocks had each flag at 1, so a history of a million
// blocks plots as a few thousand points and no spike or alarm is lost. When
// the buckets grow too many, pairs of them merge.
class PlotData {
public:
    struct Bucket {
        std::int64_t first = 0;  // the times of its first and last block (see Add)
        std::int64_t last = 0;
        std::uint64_t count = 0;
        std::array<float, data_block::kValues> min{};
        std::array<float, data_block::kValues> max{};
        std::array<std::uint64_t, data_block::kFlags> on{};  // blocks with the flag at 1
    };

    // A stretch of time drawn in one piece.
    struct Span {
        std::int64_t from = 0;
        std::int64_t to = 0;
        unsigned flags = 0;  // for shading: bit i set while flag i is at 1
    };

    // A sound block, placed on the time line and shown at the UTC offset of
    // the first block added: a clock change within the picture neither folds
    // nor tears it.
    void Add(const Entry& entry);

    // The offset the times are shown at, and whether some stamps are of another.
    long Offset() const { return offset_; }
    bool OffsetChanges() const { return offset_changes_; }

    // The earliest and latest times.
    std::int64_t Earliest() const { return earliest_; }
    std::int64_t Latest() const { return latest_; }
    // Times a block was placed before the one read just before it: the
    // clock was set back, and the picture is drawn in time order.
    std::uint64_t Backwards() const { return backwards_; }

    // The buckets in time order (a clock set back puts later buckets first).
    std::vector<Bucket> InTimeOrder() const;

    // "seconds v1 ... v15" lines in record order, in time order; a blank
    // line (a break in the plotted lines) where the time between buckets
    // passes `gap_seconds`.
    std::string Rows(std::int64_t gap_seconds) const;

    // The rows of Rows() that stand alone between gaps, all at one time: a
    // line through them would draw nothing, so they are drawn as points.
    std::string LoneRows(std::int64_t gap_seconds) const;

    // Where flag `flag` was at 1: from the first block with it at 1 to the
    // first with it at 0 again, stopping at the last block before a gap.
    std::vector<Span> Alarm(std::size_t flag, std::int64_t gap_seconds) const;

    // Stretches with the same alarms on (none left out), stopping at gaps.
    std::vector<Span> AlarmSets(std::int64_t gap_seconds) const;

private:
    void Merge();

    std::uint64_t per_bucket_ = 1;
    long offset_ = 0;
    bool offset_changes_ = false;
    std::int64_t earliest_ = 0;
    std::int64_t latest_ = 0;
    std::int64_t previous_ = 0;
    std::uint64_t backwards_ = 0;
    std::vector<Bucket> buckets_;
};
