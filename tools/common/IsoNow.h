#pragma once

#include <chrono>
#include <string>

// The local time now, as ISO 8601 with the zone's UTC offset, the format of
// every time the tools show ("2026-12-08T16:55:58+01:00"); with `millis`,
// to the millisecond ("2026-12-08T16:55:58.042+01:00").
std::string IsoNow(bool millis = false);

// The same for a moment of the system clock.
std::string IsoAt(std::chrono::system_clock::time_point when, bool millis = false);
