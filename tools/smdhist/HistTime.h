#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "framework/ttime.h"

// Time stamps of stored blocks as instants. The module stamps blocks with the
// local wall-clock time, so the local zone (TZ) places them on the time line.
namespace hist_time {

// The stamp's wall-clock seconds counted as if it were UTC: for ordering
// within a day and for the plot's axis, which shows the stamps as stored.
std::int64_t WallSeconds(const ttime& stamp);

// Seconds since the epoch of a local stamp; nothing for an impossible one.
std::optional<std::int64_t> Epoch(const ttime& stamp);

// An ISO 8601 time of --from/--to: "2026-12-08", "2026-12-08T16:55",
// "2026-12-08 16:55:58", each optionally followed by "Z" or an offset such as
// "+01:00"; without one it is local time. With `to_end`, a time given to the
// day or minute stands for its last second. Nothing when it is no such time.
std::optional<std::int64_t> ParseIso(const std::string& text, bool to_end);

}  // namespace hist_time
