#include "tools/smdhist/PlotData.h"

#include <algorithm>
#include <cmath>
#include <utility>


namespace {

// Two to four thousand points across the picture.
constexpr std::size_t kMostBuckets = 4000;

void Row(std::string& rows, std::int64_t seconds,
         const std::array<float, data_block::kValues>& values)
{
    rows += std::to_string(seconds);
    for (const float value : values) {
        // gnuplot reads "nan" as a point missing; an infinity would stretch the axis.
        rows += " " + (std::isfinite(value) ? data_block::ValueText(value) : "nan");
    }
    rows += "\n";
}

unsigned FlagsOn(const PlotData::Bucket& bucket)
{
    unsigned flags = 0;
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        flags |= bucket.on[i] > 0 ? 1u << i : 0u;
    }
    return flags;
}

// Runs of buckets in time order that share `key`, broken at gaps: each run
// from its first stamp to the first stamp after it (when no gap follows) or
// its last stamp. Runs whose key is 0 are left out.
template <typename Key>
std::vector<PlotData::Span> Runs(const std::vector<PlotData::Bucket>& buckets,
                                 std::int64_t gap_seconds, Key key)
{
    std::vector<PlotData::Span> spans;
    for (std::size_t i = 0; i < buckets.size();) {
        const unsigned value = key(buckets[i]);
        std::size_t end = i + 1;
        while (end < buckets.size() && key(buckets[end]) == value &&
               buckets[end].first - buckets[end - 1].last <= gap_seconds) {
            ++end;
        }
        if (value != 0) {
            const bool joined = end < buckets.size() &&
                                buckets[end].first - buckets[end - 1].last <= gap_seconds;
            spans.push_back({buckets[i].first,
                             joined ? buckets[end].first : buckets[end - 1].last, value});
        }
        i = end;
    }
    return spans;
}

}  // namespace

void PlotData::Merge()
{
    std::vector<Bucket> merged;
    for (std::size_t i = 0; i + 1 < buckets_.size(); i += 2) {
        Bucket pair = buckets_[i];
        const Bucket& next = buckets_[i + 1];
        pair.last = next.last;
        pair.count += next.count;
        for (std::size_t v = 0; v < data_block::kValues; ++v) {
            pair.min[v] = std::fmin(pair.min[v], next.min[v]);
            pair.max[v] = std::fmax(pair.max[v], next.max[v]);
        }
        for (std::size_t f = 0; f < data_block::kFlags; ++f) {
            pair.on[f] += next.on[f];
        }
        merged.push_back(pair);
    }
    buckets_ = std::move(merged);
    per_bucket_ *= 2;
}

void PlotData::Add(const Entry& entry)
{
    const long offset = entry.utc_offset.value_or(0);
    if (buckets_.empty()) {
        offset_ = offset;
    }
    offset_changes_ = offset_changes_ || offset != offset_;
    const std::int64_t seconds = *entry.epoch + offset_;
    if (!buckets_.empty() && seconds < previous_) {
        ++backwards_;
    }
    previous_ = seconds;
    earliest_ = buckets_.empty() ? seconds : std::min(earliest_, seconds);
    latest_ = buckets_.empty() ? seconds : std::max(latest_, seconds);
    if (!buckets_.empty() && buckets_.back().count == per_bucket_ &&
        buckets_.size() == kMostBuckets) {
        Merge();
    }
    if (buckets_.empty() || buckets_.back().count == per_bucket_) {
        Bucket bucket;
        bucket.first = seconds;
        bucket.min.fill(NAN);
        bucket.max.fill(NAN);
        buckets_.push_back(bucket);
    }
    Bucket& bucket = buckets_.back();
    bucket.last = seconds;
    ++bucket.count;
    for (std::size_t i = 0; i < data_block::kValues; ++i) {
        bucket.min[i] = std::fmin(bucket.min[i], entry.block.values[i]);
        bucket.max[i] = std::fmax(bucket.max[i], entry.block.values[i]);
    }
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        bucket.on[i] += entry.block.flags[i] == 1 ? 1 : 0;
    }
}

std::vector<PlotData::Bucket> PlotData::InTimeOrder() const
{
    std::vector<Bucket> sorted = buckets_;
    if (backwards_ > 0) {
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const Bucket& a, const Bucket& b) { return a.first < b.first; });
    }
    return sorted;
}

std::string PlotData::Rows(std::int64_t gap_seconds) const
{
    const std::vector<Bucket> buckets = InTimeOrder();
    std::string rows;
    for (std::size_t i = 0; i < buckets.size(); ++i) {
        const Bucket& bucket = buckets[i];
        if (i > 0 && bucket.first - buckets[i - 1].last > gap_seconds) {
            rows += "\n";
        }
        Row(rows, bucket.first, bucket.min);
        if (bucket.count > 1) {
            Row(rows, bucket.last, bucket.max);
        }
    }
    return rows;
}

std::string PlotData::LoneRows(std::int64_t gap_seconds) const
{
    const std::vector<Bucket> buckets = InTimeOrder();
    std::string rows;
    for (std::size_t i = 0; i < buckets.size();) {
        std::size_t end = i + 1;
        while (end < buckets.size() && buckets[end].first - buckets[end - 1].last <= gap_seconds) {
            ++end;
        }
        if (buckets[i].first == buckets[end - 1].last) {
            for (std::size_t b = i; b < end; ++b) {
                Row(rows, buckets[b].first, buckets[b].min);
                if (buckets[b].count > 1) {
                    Row(rows, buckets[b].last, buckets[b].max);
                }
            }
        }
        i = end;
    }
    return rows;
}

std::vector<PlotData::Span> PlotData::Alarm(std::size_t flag, std::int64_t gap_seconds) const
{
    return Runs(InTimeOrder(), gap_seconds,
                [flag](const Bucket& bucket) { return bucket.on[flag] > 0 ? 1u : 0u; });
}

std::vector<PlotData::Span> PlotData::AlarmSets(std::int64_t gap_seconds) const
{
    return Runs(InTimeOrder(), gap_seconds, FlagsOn);
}
