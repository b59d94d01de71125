// When the bench host rewrites a device's cache with an interval: the first
// block of a run and a flag change at once, values at most once an interval,
// a new time stamp alone never, and the last block at the end of a run.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/HistoryMaker.h"
#include "tools/smdhost/CacheWrites.h"

namespace {

using std::chrono::seconds;
using history_maker::Stored;

struct Step {
    int at;           // seconds into the run
    std::uint8_t suf;
    float dvia;
    bool written;
};

std::string Block(const Step& step)
{
    Stored block;
    block.flags[2] = step.suf;
    block.values["DVIA"] = step.dvia;
    block.stamp.second = static_cast<std::uint8_t>(step.at % 60);
    block.stamp.minute = static_cast<std::uint8_t>(step.at / 60);
    return history_maker::Bytes(block);
}

TEST(CacheWrites, WithAnIntervalFlagsAreWrittenAtOnceValuesOnceAnIntervalStampsNever)
{
    const std::vector<Step> steps = {
        {0, 0, 230.0f, true},    // the run's first block
        {2, 0, 230.0f, false},   // a new stamp alone
        {4, 0, 231.0f, false},   // a value, within the interval
        {6, 1, 231.0f, true},    // a flag
        {64, 1, 229.0f, false},  // a value, 58 s after the last write
        {66, 1, 228.0f, true},   // a value, 60 s after it
        {68, 1, 228.0f, false},
        {70, 1, 227.5f, false},
    };
    CacheWrites writes(seconds(60));
    for (const Step& step : steps) {
        const std::string block = Block(step);
        const auto now = CacheWrites::Clock::time_point{} + seconds(step.at);
        writes.Stored(block);
        ASSERT_EQ(writes.Due(block, now), step.written) << "at " << step.at << " s";
        if (step.written) {
            writes.Written(block, now);
        }
    }
    EXPECT_EQ(writes.Unwritten(), Block(steps.back())) << "written at the end of the run";
}

}  // namespace
