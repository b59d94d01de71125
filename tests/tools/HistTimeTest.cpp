// The times --from/--to take and the zones --zone takes: everything the tools
// print reads back, relative times count from now, and a zone given by name,
// offset or rule places the stamps.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "tests/tools/HistFixtures.h"
#include "tools/common/DataBlock.h"
#include "tools/smdhist/HistTime.h"

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
        data_block::ZoneChanged();
        EXPECT_EQ(data_block::IsoTime(stamp), c.shown) << c.zone;
        EXPECT_EQ(hist_time::IsoOfEpoch(*hist_time::Epoch(stamp)), c.shown) << c.zone;
    }
}

}  // namespace
