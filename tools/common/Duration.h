#pragma once

#include <cstdint>
#include <string>

// How long something lasted, for a person: "45 s", "2 min 05 s",
// "1 h 02 min", "3 d 04 h".
std::string DurationText(std::int64_t seconds);
