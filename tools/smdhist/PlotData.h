#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/smdhist/HistoryReader.h"

// The values over time, thinned to what a picture can show: consecutive
// blocks share a bucket that keeps each value's least and greatest, so a
// history of a million blocks plots as a few thousand points and no spike
// is lost. When the buckets grow too many, pairs of them merge.
class PlotData {
public:
    void Add(const Entry& entry);

    // The earliest and latest stamps, on their own wall clock: a clock set
    // back puts blocks before the first one.
    std::int64_t Earliest() const { return earliest_; }
    std::int64_t Latest() const { return latest_; }

    // "seconds v1 ... v15" lines in record order, seconds on the stamps' own
    // wall clock; a blank line (a break in the plotted lines) where the time
    // between buckets passes `gap_seconds`.
    std::string Rows(std::int64_t gap_seconds) const;

private:
    struct Bucket {
        std::int64_t first = 0;
        std::int64_t last = 0;
        std::uint64_t count = 0;
        std::array<float, data_block::kValues> min{};
        std::array<float, data_block::kValues> max{};
    };

    void Merge();

    std::uint64_t per_bucket_ = 1;
    std::int64_t earliest_ = 0;
    std::int64_t latest_ = 0;
    std::vector<Bucket> buckets_;
};
