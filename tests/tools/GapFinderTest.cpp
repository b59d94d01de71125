// Spells without blocks: steps longer than the threshold given, or than twice
// the usual step (the smallest regular one) learnt from the first steps; a
// clock set back counted apart.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "tools/smdhist/GapFinder.h"

namespace {

// A finder fed the steps between blocks: each step's seconds, blocks numbered from 1.
GapFinder Found(const std::vector<std::int64_t>& steps, std::optional<std::int64_t> threshold)
{
    GapFinder finder(threshold);
    Moment at;
    at.number = 1;
    for (const std::int64_t step : steps) {
        Moment next{at.stamp, at.epoch + step, at.number + 1, {}};
        finder.Step(at, next);
        at = next;
    }
    finder.Finish();
    return finder;
}

// `count` steps of `seconds`.
std::vector<std::int64_t> Steps(std::size_t count, std::int64_t seconds)
{
    return std::vector<std::int64_t>(count, seconds);
}

std::vector<std::int64_t> Joined(std::vector<std::int64_t> a, const std::vector<std::int64_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(GapFinder, GapsAreStepsLongerThanTwiceTheUsualOrTheThresholdGiven)
{
    // A few missed cycles at the start do not change the usual step.
    const auto missed_early = Joined({60, 5, 120}, Joined(Steps(200, 5), {11, 10, 300}));
    struct Case {
        const char* name;
        std::vector<std::int64_t> steps;
        std::optional<std::int64_t> threshold;
        std::int64_t usual;
        std::int64_t threshold_used;
        std::uint64_t gaps;
        std::uint64_t backwards;
        std::int64_t median;
    } cases[] = {
        {"learnt from the first hundred steps", missed_early, {}, 5, 10, 4, 0, 5},
        {"given", missed_early, 100, 5, 100, 2, 0, 5},
        {"fewer steps than are learnt from", {5, 5, 5, 30}, {}, 5, 10, 1, 0, 5},
        {"blocks in the same second", Joined(Steps(10, 0), {2, 3}), {}, 1, 2, 1, 0, 0},
        {"the smallest regular step, not the mean", {1, 1, 1, 1000, 1000}, {}, 1, 2, 2, 0, 1},
        {"a clock set back is no gap", {5, 5, -3600, 5, 5}, {}, 5, 10, 0, 1, 5},
        {"no step at all", {}, {}, 1, 2, 0, 0, 0},
        // 6 blocks of 52 cycles at a 1 s poll: the median (13 s) would hide every gap.
        {"a line that fails most cycles", {1, 13, 7, 16, 14}, {}, 1, 2, 4, 0, 13},
        // Two blocks a second apart (a host restarted) among a hundred steps.
        {"a few short steps are not regular", Joined({1, 1}, Steps(98, 60)), {}, 60, 120, 0, 0,
         60},
    };
    for (const Case& c : cases) {
        const GapFinder finder = Found(c.steps, c.threshold);
        EXPECT_EQ(finder.Usual(), c.usual) << c.name;
        EXPECT_EQ(finder.Threshold(), c.threshold_used) << c.name;
        EXPECT_EQ(finder.Count(), c.gaps) << c.name;
        EXPECT_EQ(finder.Gaps().size(), c.gaps) << c.name;
        EXPECT_EQ(finder.Backwards(), c.backwards) << c.name;
        EXPECT_EQ(finder.Median(), c.median) << c.name;
    }
}

TEST(GapFinder, EachGapIsFromTheLastBlockBeforeItToTheFirstAfter)
{
    const GapFinder finder = Found(Joined(Steps(150, 5), {60}), {});
    ASSERT_EQ(finder.Gaps().size(), 1u);
    EXPECT_EQ(finder.Gaps()[0].from.number, 151u);
    EXPECT_EQ(finder.Gaps()[0].to.number, 152u);
    EXPECT_EQ(finder.Gaps()[0].Seconds(), 60);
}

TEST(GapFinder, BeyondTheListedGapsTheRestAreCounted)
{
    std::vector<std::int64_t> steps;
    for (std::size_t i = 0; i < 3000; ++i) {
        steps.push_back(i % 2 == 0 ? 5 : 60);
    }
    const GapFinder finder = Found(steps, 30);
    EXPECT_EQ(finder.Count(), 1500u);
    EXPECT_EQ(finder.Gaps().size(), GapFinder::kKept);
    EXPECT_EQ(finder.Gaps().back().to.number, 2 * GapFinder::kKept + 1);
}

}  // namespace
