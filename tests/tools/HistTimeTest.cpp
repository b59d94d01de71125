// The times --from/--to take and the zones --zone takes: everything the tools
// print reads back, relative times count from now, a zone given by name,
// offset or rule places the stamps, and the hour a zone repeats when its
// clocks go back is placed by the order of the blocks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "tests/support/HistoryMaker.h"
#include "tests/tools/HistFixtures.h"
#include "tools/common/DataBlock.h"
#include "tools/smdhist/HistTime.h"
#include "tools/smdhist/StampPlacer.h"
#include "tools/smdhist/Summary.h"
#include "tools/smdhist/TimeSeries.h"

namespace {

// 2026-12-08T16:55:58Z
constexpr std::int64_t kInstant = 1796748958;

TEST_F(StampsTwoHoursEast, EveryTimeTheToolsPrintReadsBack)
{
    struct Case {
        const char* text;
        bool to_end;
        std::optional<std::int64_t> seconds;  // from kInstant
    } cases[] = {
        {"2026-12-08T16:55:58Z", false, 0},
        {"2026-12-08T18:55:58+02:00", false, 0},
        {"2026-12-08T18:55:58", false, 0},  // the stamps' zone
        {"2026-12-08 18:55:58", false, 0},
        {"2026-12-08T17:55:58+01", false, 0},
        {"2026-12-08T17:55:58+0100", false, 0},
        {"2026-12-08T11:55:58-05:00", false, 0},
        // A fraction rounds inwards: stamps are whole seconds.
        {"2026-12-08T18:55:57.042+02:00", false, 0},
        {"2026-12-08T18:55:58.5+02:00", true, 0},
        {"2026-12-08T18:55:58.000", false, 0},
        {"2026-12-08T18:55:58,5", true, 0},
        // A minute or a day given as --to: its last second.
        {"2026-12-08T18:55", true, 1},
        {"2026-12-08", true, 5 * 3600 + 4 * 60 + 1},
        {"2026-12-08", false, -(18 * 3600 + 55 * 60 + 58)},
        {"2026-12-08T18:55:58.", false, std::nullopt},
        {"2026-12-08T18:55:58+2", false, std::nullopt},
        {"2026-12-08T18:55:58+24:00", false, std::nullopt},
        {"2026-02-30", false, std::nullopt},
        {"2026-12-08T24:00", false, std::nullopt},
        {"yesterday", false, std::nullopt},
        {"", false, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto parsed = hist_time::ParseTime(c.text, c.to_end, 0);
        if (!c.seconds) {
            EXPECT_FALSE(parsed) << c.text;
            continue;
        }
        ASSERT_TRUE(parsed) << c.text;
        EXPECT_EQ(*parsed - kInstant, *c.seconds) << c.text;
    }
}

TEST_F(StampsTwoHoursEast, RelativeTimesCountFromNow)
{
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"now", 0},          {"-2h", -7200}, {"-30min", -1800}, {"-90s", -90},
        {"-1d", -86400},     {"-2w", -1209600}, {"+5min", 300}, {"-2m", std::nullopt},
        {"2h", std::nullopt}, {"-h", std::nullopt}, {"-1.5h", std::nullopt},
        {"-99999999999h", std::nullopt},
    };
    for (const auto& [text, seconds] : cases) {
        const auto parsed = hist_time::ParseTime(text, false, kInstant);
        EXPECT_EQ(parsed ? std::optional<std::int64_t>(*parsed - kInstant) : std::nullopt, seconds)
            << text;
    }
}

TEST_F(StampsTwoHoursEast, AZoneByNameOffsetOrRulePlacesTheStamps)
{
    const ttime stamp{2026, 7, 1, 12, 0, 0};
    struct Case {
        const char* zone;
        const char* shown;  // the stamp as read in that zone; nullptr: no zone
    } cases[] = {
        {"UTC", "2026-07-01T12:00:00+00:00"},
        {"Z", "2026-07-01T12:00:00+00:00"},
        {"Asia/Tokyo", "2026-07-01T12:00:00+09:00"},
        {"Europe/Berlin", "2026-07-01T12:00:00+02:00"},  // summer time
        {"+05:30", "2026-07-01T12:00:00+05:30"},
        {"-0300", "2026-07-01T12:00:00-03:00"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", "2026-07-01T12:00:00+02:00"},
        {"Nowhere/Atlantis", nullptr},
        {"../../etc/passwd", nullptr},
        {"+25:00", nullptr},
    };
    for (const Case& c : cases) {
        const auto rule = hist_time::ZoneRule(c.zone);
        if (c.shown == nullptr) {
            EXPECT_FALSE(rule) << c.zone;
            continue;
        }
        ASSERT_TRUE(rule) << c.zone;
        setenv("TZ", rule->c_str(), 1);
        hist_time::ZoneChanged();
        EXPECT_EQ(data_block::IsoTime(stamp), c.shown) << c.zone;
        EXPECT_EQ(hist_time::IsoOfEpoch(*hist_time::Epoch(stamp)), c.shown) << c.zone;
    }
}

// The zone database's rules for Berlin and the same as a POSIX rule: in the
// hour repeated on 2026-10-25 a stamp names two instants an hour apart, in
// the hour skipped on 2026-03-29 it is read at the offset before.
TEST_F(StampsTwoHoursEast, AStampOfTheRepeatedHourNamesTwoInstants)
{
    struct Case {
        ttime stamp;
        int earlier;  // the UTC offset of each instant, in hours
        int later;
    } cases[] = {
        {{2026, 10, 25, 1, 59, 59}, 2, 2}, {{2026, 10, 25, 2, 0, 0}, 2, 1},
        {{2026, 10, 25, 2, 59, 59}, 2, 1}, {{2026, 10, 25, 3, 0, 0}, 1, 1},
        {{2026, 3, 29, 1, 59, 59}, 1, 1},  {{2026, 3, 29, 2, 30, 0}, 1, 1},
        {{2026, 3, 29, 3, 0, 0}, 2, 2},    {{2026, 7, 1, 12, 0, 0}, 2, 2},
    };
    for (const char* zone : {"Europe/Berlin", "CET-1CEST,M3.5.0,M10.5.0/3"}) {
        UseZone(zone);
        for (const Case& c : cases) {
            const std::string shown = data_block::IsoTime(c.stamp, std::nullopt);
            const auto instants = hist_time::InstantsOf(c.stamp);
            ASSERT_TRUE(instants) << zone << " " << shown;
            const std::int64_t wall = hist_time::WallSeconds(c.stamp);
            EXPECT_EQ(wall - instants->earlier, c.earlier * 3600) << zone << " " << shown;
            EXPECT_EQ(wall - instants->later, c.later * 3600) << zone << " " << shown;
        }
    }
}

// The first pass through the repeated hour is summer time, the second winter
// time: every block lies five minutes after the one before, shown with its own
// offset, and nothing is left out of a time series or taken for a gap.
TEST_F(StampsTwoHoursEast, TheRepeatedHourIsPlacedByTheOrderOfTheBlocks)
{
    UseZone("Europe/Berlin");
    const std::vector<history_maker::Stored> blocks = history_maker::AcrossTheAutumnChange();
    ASSERT_EQ(blocks.size(), 48u);
    StampPlacer placer;
    Summary summary(std::nullopt);
    std::FILE* null = std::fopen("/dev/null", "w");
    TimeSeries series(null, TimeSeries::Format::Influx);
    std::vector<std::string> shown;
    std::optional<std::int64_t> last;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const Entry entry = EntryOf(blocks[i], i + 1, placer);
        ASSERT_TRUE(entry.epoch);
        if (last) {
            EXPECT_EQ(*entry.epoch - *last, 300) << i;
        }
        last = entry.epoch;
        shown.push_back(data_block::IsoTime(entry.block.time_stamp, entry.utc_offset));
        summary.Add(entry);
        series.Add(entry);
    }
    series.Flush();
    std::fclose(null);
    summary.Finish();
    EXPECT_EQ(shown[6], "2026-10-25T02:00:00+02:00");
    EXPECT_EQ(shown[17], "2026-10-25T02:55:00+02:00");
    EXPECT_EQ(shown[18], "2026-10-25T02:00:00+01:00");
    EXPECT_EQ(shown[30], "2026-10-25T03:00:00+01:00");
    const GapFinder& gaps = summary.Devices().at(42).Gaps();
    EXPECT_EQ(gaps.Count(), 0u);
    EXPECT_EQ(gaps.Backwards(), 0u);
    EXPECT_EQ(series.OutOfOrder(), 0u);
}

// A clock set back by hand into the repeated hour after it passed is still a
// step back; an impossible stamp is placed nowhere.
TEST_F(StampsTwoHoursEast, AClockSetBackStaysAStepBack)
{
    UseZone("Europe/Berlin");
    std::vector<history_maker::Stored> blocks(3);
    blocks[0].stamp = {2026, 10, 25, 3, 30, 0};
    blocks[1].stamp = {2026, 10, 25, 2, 10, 0};
    blocks[2].stamp = {2026, 10, 25, 2, 10, 0};
    blocks[2].stamp.month = 13;
    StampPlacer placer;
    const Entry after = EntryOf(blocks[0], 1, placer);
    const Entry back = EntryOf(blocks[1], 2, placer);
    EXPECT_EQ(*back.epoch - *after.epoch, -80 * 60);
    EXPECT_EQ(back.utc_offset, 3600);
    const Entry impossible = EntryOf(blocks[2], 3, placer);
    EXPECT_FALSE(impossible.epoch);
    EXPECT_FALSE(impossible.utc_offset);
}

}  // namespace
