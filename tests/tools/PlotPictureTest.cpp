// The picture's script for what lines cannot show: a block alone between
// gaps and a cache's one block as points, a lone alarm as a bar that shows,
// and a history across a clock change drawn on one time line.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/HistoryMaker.h"
#include "tests/tools/HistFixtures.h"
#include "tools/smdhist/PlotData.h"
#include "tools/smdhist/PlotScript.h"
#include "tools/smdhist/Summary.h"

namespace {

using history_maker::Stored;

constexpr int kWidth = 1200;
// The width of the panels in pixels: the picture's less its margins.
constexpr int kPanelWidth = kWidth - 76 - 236;

// The script that draws `blocks`.
std::string ScriptOf(const std::vector<Stored>& blocks)
{
    PlotData data;
    Summary summary(std::nullopt);
    StampPlacer placer;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const Entry entry = EntryOf(blocks[i], i + 1, placer);
        data.Add(entry);
        summary.Add(entry);
    }
    summary.Finish();
    return PlotScript(data, summary.Devices().begin()->second,
                      {"svg size 1200,1000", "plot.svg", kWidth, 1000});
}

// Blocks stamped `seconds` after ten o'clock.
std::vector<Stored> At(const std::vector<int>& seconds)
{
    std::vector<Stored> blocks(seconds.size());
    for (std::size_t i = 0; i < seconds.size(); ++i) {
        blocks[i].stamp.minute = static_cast<std::uint8_t>(seconds[i] / 60);
        blocks[i].stamp.second = static_cast<std::uint8_t>(seconds[i] % 60);
    }
    return blocks;
}

// The rows of a datablock ("$name << EOD" to "EOD"); none when it is not there.
std::vector<std::string> DataRows(const std::string& script, const std::string& name)
{
    std::vector<std::string> rows;
    const std::size_t at = script.find("$" + name + " << EOD\n");
    if (at == std::string::npos) {
        return rows;
    }
    std::istringstream in(script.substr(at));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line) && line != "EOD") {
        rows.push_back(line);
    }
    return rows;
}

class Drawing : public StampsTwoHoursEast {};

// Each of the fifteen series gets its points where blocks stand alone.
TEST_F(Drawing, ABlockAloneBetweenGapsIsAPointInEveryPanel)
{
    struct Case {
        const char* name;
        std::vector<Stored> blocks;
        std::size_t lone;  // rows drawn as points
    } cases[] = {
        {"one between gaps", At({0, 1, 2, 3, 60, 120, 121, 122}), 1},
        {"a cache's one block", At({0}), 1},
        {"none alone", At({0, 1, 2, 3, 4, 5}), 0},
    };
    for (const Case& c : cases) {
        const std::string script = ScriptOf(c.blocks);
        EXPECT_EQ(DataRows(script, "lone").size(), c.lone) << c.name;
        EXPECT_EQ(Count(script, " with points "), c.lone > 0 ? 15u : 0u) << c.name;
    }
    const std::vector<std::string> lone = DataRows(ScriptOf(At({0, 1, 2, 60, 120, 121})), "lone");
    ASSERT_EQ(lone.size(), 1u);
    EXPECT_EQ(lone[0].substr(0, lone[0].find(' ')),
              std::to_string(1772352000 + 2 * 3600 + 60));  // 10:01:00 on the wall clock
}

// A spell of one block is a bar two pixels either side of it, never a hairline.
TEST_F(Drawing, AnAlarmOfOneBlockIsABarThatShows)
{
    std::vector<Stored> blocks = At({0, 1, 2, 3, 60, 120, 121, 122});
    blocks[4].flags[0] = 1;
    double half = 0;
    ASSERT_EQ(std::sscanf(DataRows(ScriptOf(blocks), "alarms")[0].c_str(), "%*f %*d %lf", &half), 1);
    const double seconds = 122 + 2 * 1;  // the blocks' span and the padding
    EXPECT_GE(half * kPanelWidth / seconds, 2 - 1e-9);
}

// Summer time's 02:00 to 02:55 and winter time's follow one another: no
// clock set back, the times in order, the axis named by the offset it shows.
TEST_F(Drawing, AClockChangeNeitherFoldsNorTearsThePicture)
{
    UseZone("Europe/Berlin");
    const std::string script = ScriptOf(history_maker::AcrossTheAutumnChange());
    EXPECT_EQ(script.find("the clock went back"), std::string::npos);
    EXPECT_NE(script.find("set xlabel 'time at UTC+02:00, the offset of the first block'"),
              std::string::npos);
    long long last = 0;
    for (const std::string& row : DataRows(script, "values")) {
        ASSERT_FALSE(row.empty()) << "no gap";
        const long long seconds = std::stoll(row);
        EXPECT_EQ(last == 0 ? 300 : seconds - last, 300) << row;
        last = seconds;
    }
}

}  // namespace
