// The summary's words for what a history hides: a line that fails most
// cycles, and values that are no finite number.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "tests/support/HistoryMaker.h"
#include "tests/tools/HistFixtures.h"
#include "tools/smdhist/Summary.h"

namespace {

using history_maker::Stored;

// The summary of blocks stamped `seconds` after ten o'clock, each with `values`.
Summary Summed(const std::vector<int>& seconds,
               const std::vector<std::map<std::string, float>>& values = {})
{
    Summary summary(std::nullopt);
    StampPlacer placer;
    for (std::size_t i = 0; i < seconds.size(); ++i) {
        Stored stored;
        stored.stamp.minute = static_cast<std::uint8_t>(seconds[i] / 60);
        stored.stamp.second = static_cast<std::uint8_t>(seconds[i] % 60);
        if (i < values.size()) {
            stored.values = values[i];
        }
        summary.Add(EntryOf(stored, i + 1, placer));
    }
    summary.Finish();
    return summary;
}

bool Holds(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class Summing : public StampsTwoHoursEast {};

// 6 blocks of 52 cycles at a 1 s poll: each step of more than 2 s is a gap,
// and the median step is called far above the usual one.
TEST_F(Summing, ALineThatFailsMostCyclesShowsItsGaps)
{
    const std::string text = Summed({0, 1, 14, 21, 37, 51}).Text();
    EXPECT_TRUE(Holds(text, "gaps longer than 2 s (the usual step is 1 s): 4\n")) << text;
    EXPECT_TRUE(Holds(text, "the median step is 13 s, far above the usual: most cycles stored "
                            "no block\n"))
        << text;
    const std::string steady = Summed({0, 1, 2, 3, 4, 6}).Text();
    EXPECT_FALSE(Holds(steady, "the median step")) << steady;
}

// An infinity is no number the range can hold, but it is counted and named,
// never taken for a value that is missing.
TEST_F(Summing, ValuesThatAreNoFiniteNumberAreCountedByKind)
{
    const Summary summary = Summed(
        {0, 1, 2}, {{{"DHZF", INFINITY}, {"DVIA", NAN}, {"DTMP", 28.5f}},
                    {{"DHZF", INFINITY}, {"DVIA", NAN}, {"DTMP", -INFINITY}},
                    {{"DHZF", INFINITY}, {"DVIA", NAN}, {"DTMP", NAN}}});
    const std::string text = summary.Text();
    EXPECT_TRUE(Holds(text, "\nDHZF   no finite number: inf in 3 blocks\n")) << text;
    EXPECT_TRUE(Holds(text, "\nDVIA   no number in any block\n")) << text;
    EXPECT_TRUE(Holds(text, "  also -inf in 1 block, nan in 1 block\n")) << text;
    const Json::Value values = summary.ToJson()["devices"][0]["values"];
    EXPECT_EQ(values["DHZF"]["inf_count"].asUInt(), 3u);
    EXPECT_EQ(values["DHZF"]["count"].asUInt(), 0u);
    EXPECT_EQ(values["DTMP"]["minus_inf_count"].asUInt(), 1u);
    EXPECT_EQ(values["DTMP"]["nan_count"].asUInt(), 1u);
    EXPECT_EQ(values["DTMP"]["max"].asDouble(), 28.5);
}

}  // namespace
