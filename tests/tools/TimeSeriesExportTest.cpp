// The chosen blocks for a time-series database: the line protocol's lines
// and OpenMetrics families as written, the blocks a series cannot take left
// out and counted, and expositions while following.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/HistoryMaker.h"
#include "tests/tools/HistFixtures.h"
#include "tools/smdhist/TimeSeries.h"
#include "tools/smdhist/sinks/SeriesSink.h"

namespace {

using history_maker::Stored;

// 2026-03-01T10:00:00+02:00
constexpr std::int64_t kTen = 1772352000;

// A block of `data_id` stamped `seconds` after ten o'clock.
Stored At(std::uint32_t data_id, int seconds)
{
    Stored stored;
    stored.data_id = data_id;
    stored.stamp = {2026, 3, 1, 10, static_cast<std::uint8_t>(seconds / 60),
                    static_cast<std::uint8_t>(seconds % 60)};
    return stored;
}

// The lines of `text` that start with `head`.
std::vector<std::string> LinesOf(const std::string& text, const std::string& head)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        if (line.rfind(head, 0) == 0) {
            lines.push_back(line);
        }
        at = end + 1;
    }
    return lines;
}

class Export : public StampsTwoHoursEast {};

// Flags as integers, values as their shortest decimals in record order; the
// protocol has no word for what is no number or infinite, so such a field is
// left out, and an infinity counted.
TEST_F(Export, AnInfluxLineHoldsEveryFlagAndEveryNumber)
{
    Stored stored = At(42, 0);
    stored.flags = {1, 0, 0, 0, 1};
    stored.values = {{"DVIA", 230.5f}, {"DVBT", -0.0f}, {"DTMP", NAN},
                     {"DHZF", INFINITY}, {"DVBL", 13.6f}};
    Written out;
    TimeSeries series(out.File(), TimeSeries::Format::Influx);
    series.Add(EntryOf(stored, 1));
    EXPECT_EQ(series.Flush(), "");
    EXPECT_EQ(series.Infinite(), 1u);
    EXPECT_EQ(series.FirstInfinite(), "DHZF of block 1");
    EXPECT_EQ(out.Text(),
              "ups,data_id=42 sok=1i,sbp=0i,suf=0i,sbl=0i,sbm=1i,dvia=230.5,dvib=0,dvic=0,"
              "dvoa=0,dvob=0,dvoc=0,dloa=0,dlob=0,dloc=0,dvbt=-0,dtmb=0,dvbn=0,dvbl=13.6 " +
                  std::to_string(kTen) + "\n");
}

// Each family with its type and help, each data identifier's samples
// together in time order, the whole ending in "# EOF".
TEST_F(Export, OpenMetricsGroupsEachFamilysSamplesByDataId)
{
    std::vector<Stored> blocks = {At(42, 0), At(7, 3), At(42, 7)};
    blocks[0].values = {{"DVIA", NAN}, {"DVIB", INFINITY}, {"DVIC", -INFINITY}, {"DVOA", -0.0f}};
    blocks[1].values["DVIA"] = 1e-45f;
    blocks[2].values["DVIA"] = 229.8f;
    blocks[2].flags[4] = 1;
    Written out;
    TimeSeries series(out.File(), TimeSeries::Format::OpenMetrics);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        series.Add(EntryOf(blocks[i], i + 1));
    }
    EXPECT_EQ(out.Text(), "") << "an exposition is written whole, at a flush";
    EXPECT_EQ(series.Flush(), "");
    const std::string text = out.Text();
    const std::string t = std::to_string(kTen);
    EXPECT_EQ(text.substr(0, text.find("# TYPE ups_dvib")),
              "# TYPE ups_dvia gauge\n"
              "# HELP ups_dvia DVIA as the UPS sends it\n"
              "ups_dvia{data_id=\"7\",tag=\"DVIA\"} 1e-45 " + std::to_string(kTen + 3) + "\n"
              "ups_dvia{data_id=\"42\",tag=\"DVIA\"} NaN " + t + "\n"
              "ups_dvia{data_id=\"42\",tag=\"DVIA\"} 229.8 " + std::to_string(kTen + 7) + "\n");
    for (const std::string sample : {"ups_dvib{data_id=\"42\",tag=\"DVIB\"} +Inf ",
                                     "ups_dvic{data_id=\"42\",tag=\"DVIC\"} -Inf ",
                                     "ups_dvoa{data_id=\"42\",tag=\"DVOA\"} -0 "}) {
        EXPECT_NE(text.find(sample + t + "\n"), std::string::npos) << sample;
    }
    EXPECT_EQ(LinesOf(text, "ups_alarm_sbm{data_id=\"42\""),
              (std::vector<std::string>{"ups_alarm_sbm{data_id=\"42\",tag=\"SBM\"} 0 " + t,
                                        "ups_alarm_sbm{data_id=\"42\",tag=\"SBM\"} 1 " +
                                            std::to_string(kTen + 7)}));
    EXPECT_EQ(Count(text, "# TYPE "), 20u);
    EXPECT_EQ(Count(text, "\n"), 20 * (2 + blocks.size()) + 1);
    EXPECT_EQ(text.substr(text.size() - 6), "# EOF\n");
}

// A series takes one value per time, in order: a block stamped at or before
// the last one of its data id is left out and counted, and so is a damaged
// one; another data id has its own order.
TEST_F(Export, BlocksASeriesCannotTakeAreLeftOutAndCounted)
{
    Stored damaged = At(42, 20);
    damaged.flags[0] = 5;
    const std::vector<Stored> blocks = {At(42, 10), At(42, 10), At(42, 5), At(7, 5), damaged,
                                        At(42, 11)};
    Written out;
    TimeSeries series(out.File(), TimeSeries::Format::Influx);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        series.Add(EntryOf(blocks[i], i + 1));
    }
    series.Flush();
    EXPECT_EQ(series.OutOfOrder(), 2u);
    EXPECT_EQ(series.Damaged(), 1u);
    const std::vector<std::string> lines = LinesOf(out.Text(), "ups,");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].substr(0, 17), "ups,data_id=7 sok");
    EXPECT_EQ(lines[2].substr(lines[2].size() - 10), std::to_string(kTen + 11));
}

// While following: nothing new writes nothing, not an empty exposition; what
// came since the last one is an exposition of its own.
TEST_F(Export, EachFlushWritesWhatCameSinceTheLast)
{
    Written out;
    TimeSeries series(out.File(), TimeSeries::Format::OpenMetrics);
    series.Add(EntryOf(At(42, 0), 1));
    series.Flush();
    const std::string first = out.Text();
    series.Flush();
    EXPECT_EQ(out.Text(), first);
    series.Add(EntryOf(At(42, 1), 2));
    series.Flush();
    const std::string second = out.Text().substr(first.size());
    EXPECT_EQ(Count(second, "# EOF\n"), 1u);
    EXPECT_EQ(LinesOf(second, "ups_dvia{"),
              (std::vector<std::string>{"ups_dvia{data_id=\"42\",tag=\"DVIA\"} 0 " +
                                        std::to_string(kTen + 1)}));
}

// Past a chunk of blocks kept in memory they wait on disk: every one comes
// back, in order, with its own value and time.
TEST_F(Export, ManyBlocksComeBackFromDiskInOrder)
{
    constexpr int kBlocks = 2500;
    Written out;
    TimeSeries series(out.File(), TimeSeries::Format::OpenMetrics);
    for (int i = 0; i < kBlocks; ++i) {
        Stored stored = At(42, 0);
        stored.stamp = history_maker::StampAfter(5184000 + i);
        stored.values["DVBT"] = static_cast<float>(i);
        series.Add(EntryOf(stored, static_cast<std::uint64_t>(i) + 1));
    }
    ASSERT_EQ(series.Flush(), "");
    const std::vector<std::string> lines = LinesOf(out.Text(), "ups_dvbt{");
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kBlocks));
    const std::int64_t midnight = kTen + 14 * 3600;  // 2026-03-02T00:00:00+02:00
    for (int i = 0; i < kBlocks; ++i) {
        EXPECT_EQ(lines[static_cast<std::size_t>(i)],
                  "ups_dvbt{data_id=\"42\",tag=\"DVBT\"} " + std::to_string(i) + " " +
                      std::to_string(midnight + i))
            << i;
    }
}

TEST_F(Export, MoreDataIdsThanAnExpositionTakesAreRefused)
{
    Written out;
    TimeSeries series(out.File(), TimeSeries::Format::OpenMetrics);
    for (std::uint32_t id = 1; id <= 101; ++id) {
        series.Add(EntryOf(At(id, 0), id));
    }
    EXPECT_EQ(series.Flush(),
              "the blocks chosen are of more than 100 data identifiers: choose fewer with "
              "--data-id");
}

// An export that leaves out blocks (a clock set back) or values (an infinity
// in the line protocol) ends with a status that is not success.
TEST_F(Export, AnExportThatLeavesSomethingOutFails)
{
    Stored infinite = At(42, 20);
    infinite.values["DHZF"] = -INFINITY;
    struct Case {
        const char* name;
        TimeSeries::Format format;
        std::vector<Stored> blocks;
        int status;
    } cases[] = {
        {"everything taken", TimeSeries::Format::Influx, {At(42, 0), At(42, 10)}, 0},
        {"a clock set back", TimeSeries::Format::Influx, {At(42, 10), At(42, 0)}, 1},
        {"a clock set back, OpenMetrics", TimeSeries::Format::OpenMetrics,
         {At(42, 10), At(42, 0)}, 1},
        {"an infinity in the line protocol", TimeSeries::Format::Influx, {infinite}, 1},
        {"an infinity in OpenMetrics", TimeSeries::Format::OpenMetrics, {infinite}, 0},
    };
    for (const Case& c : cases) {
        Written out;
        SeriesSink sink(out.File(), c.format);
        for (std::size_t i = 0; i < c.blocks.size(); ++i) {
            sink.Take(EntryOf(c.blocks[i], i + 1));
        }
        EXPECT_EQ(sink.Flush(), 0) << c.name;
        sink.Report();
        EXPECT_EQ(sink.Finish(), c.status) << c.name;
    }
}

}  // namespace
