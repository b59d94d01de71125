#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "tools/smdhist/DeviceSummary.h"

// The summary of the chosen blocks: one per data identifier, and the damaged
// blocks apart, since their contents cannot be trusted.
class Summary {
public:
    explicit Summary(std::optional<std::int64_t> gap_threshold);

    void Add(const Entry& entry);
    // Bytes of a file that held no whole block and were skipped.
    void Skipped(std::uint64_t bytes);
    void Finish();

    const std::map<std::uint32_t, DeviceSummary>& Devices() const { return devices_; }

    std::string Text() const;
    Json::Value ToJson() const;

private:
    std::optional<std::int64_t> gap_threshold_;
    std::map<std::uint32_t, DeviceSummary> devices_;
    std::vector<std::string> damaged_;  // the first few, for the listing
    std::uint64_t damaged_count_ = 0;
    std::uint64_t skipped_bytes_ = 0;
    std::uint64_t skipped_stretches_ = 0;
};
