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

// The instants a possible local stamp names, as seconds since the epoch: one;
// two in the hour a zone repeats when its clocks go back (`earlier` in the
// first pass, summer time, `later` in the second); in the hour skipped when
// they go forward, the instant at the offset before it. Nothing where the
// zone cannot place the stamp (a 32-bit time_t past 2038).
struct Instants {
    std::int64_t earlier = 0;
    std::int64_t later = 0;  // equal to earlier when the stamp names one

    bool Repeated() const { return later != earlier; }
};
std::optional<Instants> InstantsOf(const ttime& stamp);

// Seconds since the epoch of a local stamp (the earlier instant of a repeated
// hour); nothing for an impossible one.
std::optional<std::int64_t> Epoch(const ttime& stamp);

// Reads the zone (TZ) again after it was changed.
void ZoneChanged();

// A time of --from/--to: "now"; a time relative to now ("-2h", "-30min",
// "-90s", "-1d", "-2w"); or ISO 8601 as the tools print it: "2026-12-08",
// "2026-12-08T16:55", "2026-12-08 16:55:58", "2026-12-08T16:55:58.042",
// each optionally followed by "Z" or an offset ("+01", "+0100", "+01:00");
// without one it is in the zone of the stamps (TZ). With `to_end`, a time
// given to the day or minute stands for its last second. A fraction of a
// second rounds inwards: stamps are whole seconds. Nothing when it is no such
// time. `now` is seconds since the epoch.
std::optional<std::int64_t> ParseTime(const std::string& text, bool to_end, std::int64_t now);

// An instant as the stamps' zone (TZ) shows it: "2026-12-08T16:55:58+01:00".
std::string IsoOfEpoch(std::int64_t epoch);

// The TZ rule of a zone given by its name in the zone database
// ("Europe/Berlin"), "UTC", an offset ("+01:00", "-0530") or a POSIX rule
// ("CET-1CEST,M3.5.0,M10.5.0/3"); nothing for a zone that is none of them.
std::optional<std::string> ZoneRule(const std::string& zone);

}  // namespace hist_time
