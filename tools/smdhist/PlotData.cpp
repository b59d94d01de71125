#include "tools/smdhist/PlotData.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "tools/smdhist/HistTime.h"

namespace {

// Two to four thousand points across the picture.
constexpr std::size_t kMostBuckets = 4000;

std::string Row(std::int64_t seconds, const std::array<float, data_block::kValues>& values)
{
    std::string row = std::to_string(seconds);
    for (const float value : values) {
        // gnuplot reads "nan" as a point missing; an infinity would stretch the axis.
        row += " " + (std::isfinite(value) ? data_block::ValueText(value) : "nan");
    }
    return row + "\n";
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
        merged.push_back(pair);
    }
    buckets_ = std::move(merged);
    per_bucket_ *= 2;
}

void PlotData::Add(const Entry& entry)
{
    const std::int64_t seconds = hist_time::WallSeconds(entry.block.time_stamp);
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
}

std::string PlotData::Rows(std::int64_t gap_seconds) const
{
    std::string rows;
    for (std::size_t i = 0; i < buckets_.size(); ++i) {
        const Bucket& bucket = buckets_[i];
        if (i > 0 && bucket.first - buckets_[i - 1].last > gap_seconds) {
            rows += "\n";
        }
        rows += Row(bucket.first, bucket.min);
        if (bucket.count > 1) {
            rows += Row(bucket.last, bucket.max);
        }
    }
    return rows;
}
