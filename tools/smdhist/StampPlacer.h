#pragma once

#include <cstdint>
#include <unordered_map>

#include "tools/smdhist/BlockStream.h"

// Places the stamps of the blocks read on the time line. A stamp is local
// wall-clock time without its zone, so in the hour a zone repeats when its
// clocks go back it names two instants; the order of the blocks tells which:
// the first pass is summer time, the second winter time. A clock set back by
// hand stays a step back, to be warned of.
class StampPlacer {
public:
    // Sets the entry's epoch and UTC offset: in a repeated hour, the first
    // pass's instant unless the last sound block of its data id lies after
    // it. An impossible stamp gets neither; one the zone cannot place (a
    // 32-bit time_t past 2038) counts as UTC, without an offset.
    void Place(Entry& entry);

private:
    void Remember(std::uint32_t data_id, std::int64_t epoch);

    std::unordered_map<std::uint32_t, std::int64_t> last_;  // by data id
};
