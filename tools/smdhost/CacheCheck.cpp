#include "tools/smdhost/CacheCheck.h"

#include "tools/common/DataBlock.h"
#include "tools/common/Duration.h"
#include "tools/common/Plural.h"

namespace cache_check {

namespace {

// How far ahead of the clock a stamp may be: a zone or a clock set a little
// off, not a block from the future.
constexpr long kAheadAllowed = 24 * 60 * 60;

void Add(std::string& faults, const std::string& fault)
{
    faults += (faults.empty() ? "" : "; ") + fault;
}

std::string FlagFaults(const data_block::Decoded& block)
{
    std::string bad;
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        if (block.flags[i] > 1) {
            bad += (bad.empty() ? "" : ", ") + std::string(ups_protocol::kStatusFields[i].tag) +
                   " " + std::to_string(block.flags[i]);
        }
    }
    return bad.empty() ? "" : "its flags are 0 or 1, not " + bad;
}

std::string TimeFault(const ttime& stamp, std::time_t now)
{
    if (!data_block::IsPossible(stamp)) {
        return "its time stamp " + data_block::IsoTime(stamp) + " is no real time";
    }
    const auto moment = data_block::Moment(stamp);
    if (!moment || *moment - now <= kAheadAllowed) {
        return "";
    }
    return "its time stamp " + data_block::IsoTime(stamp) + " lies " + DurationText(*moment - now) +
           " ahead of this machine's clock (the cache or the clock is wrong)";
}

}  // namespace

std::string Faults(const std::string& block, unsigned int data_id, std::time_t now)
{
    data_block::Decoded decoded;
    if (!data_block::Decode(reinterpret_cast<const unsigned char*>(block.data()), block.size(),
                            decoded)) {
        return "it holds " + Counted(block.size(), "byte") + ", not one " +
               std::to_string(data_block::kSize) + "-byte block";
    }
    std::string faults;
    if (decoded.data_id != data_id) {
        Add(faults, "it holds the block of data id " + std::to_string(decoded.data_id) +
                        ", not this device's " + std::to_string(data_id));
    }
    const std::string flags = FlagFaults(decoded);
    if (!flags.empty()) {
        Add(faults, flags);
    }
    const std::string time = TimeFault(decoded.time_stamp, now);
    if (!time.empty()) {
        Add(faults, time);
    }
    return faults;
}

}  // namespace cache_check
