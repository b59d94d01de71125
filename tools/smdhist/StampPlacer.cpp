#include "tools/smdhist/StampPlacer.h"

#include "tools/smdhist/HistTime.h"

namespace {

// Data identifiers remembered; beyond them (junk read as blocks) they start afresh.
constexpr std::size_t kMostIds = 4096;

}  // namespace

void StampPlacer::Place(Entry& entry)
{
    const ttime& stamp = entry.block.time_stamp;
    entry.epoch.reset();
    entry.utc_offset.reset();
    if (!data_block::IsPossible(stamp)) {
        return;
    }
    const std::int64_t wall = hist_time::WallSeconds(stamp);
    const std::optional<hist_time::Instants> instants = hist_time::InstantsOf(stamp);
    if (!instants) {
        entry.epoch = wall;
        return;
    }
    std::int64_t epoch = instants->earlier;
    if (instants->Repeated()) {
        const auto last = last_.find(entry.block.data_id);
        epoch = last != last_.end() && instants->earlier < last->second ? instants->later
                                                                         : instants->earlier;
    }
    entry.epoch = epoch;
    entry.utc_offset = static_cast<long>(wall - epoch);
    if (entry.Sound()) {
        Remember(entry.block.data_id, epoch);
    }
}

void StampPlacer::Remember(std::uint32_t data_id, std::int64_t epoch)
{
    if (last_.size() >= kMostIds && last_.count(data_id) == 0) {
        last_.clear();
    }
    last_[data_id] = epoch;
}
