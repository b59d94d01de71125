#pragma once

#include <cstdint>
#include <optional>

#include "framework/ttime.h"
#include "tools/smdhist/HistoryReader.h"

// A sound block's place in time, as the summary keeps it.
struct Moment {
    ttime stamp{};
    std::int64_t epoch = 0;
    std::uint64_t number = 0;  // the block's number
    std::optional<long> utc_offset;  // as the reader placed the stamp

    static Moment Of(const Entry& entry)
    {
        return {entry.block.time_stamp, *entry.epoch, entry.number, entry.utc_offset};
    }
};
