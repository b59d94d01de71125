// Scenarios: what the simulated UPS reports, poll by poll and over time.
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/Scenario.h"
#include "tests/e2e/ErrorText.h"

#ifndef QUILL_SOURCE_DIR
#error "QUILL_SOURCE_DIR names the checkout"
#endif

using ups_sim::ScenarioPlayer;

namespace {

constexpr std::size_t kDvbt = 11;  // the data answer's DVBT line

ups_sim::Scenario Parse(const std::string& text)
{
    std::istringstream stream(text);
    return ups_sim::ParseScenario(stream);
}

std::string ErrorOf(const std::string& text) { return ErrorText(Parse, text); }

TEST(Scenario, PollStepsLastTheirCountAndTheLastStepStays)
{
    ScenarioPlayer player(Parse(R"({"steps": [{"name": "a", "polls": 2},
                                               {"name": "b", "polls": 1}]})"));
    const auto now = ScenarioPlayer::Clock::now();
    std::vector<std::size_t> steps;
    std::vector<bool> began;
    for (int poll = 0; poll < 5; ++poll) {
        began.push_back(player.Poll(now));
        steps.push_back(player.StepIndex());
    }
    EXPECT_EQ(steps, (std::vector<std::size_t>{0, 0, 1, 1, 1}));
    EXPECT_EQ(began, (std::vector<bool>{true, false, true, false, false}));
}

TEST(Scenario, RepeatStartsOverWithTheReadingOfTheStart)
{
    ScenarioPlayer player(Parse(R"({"repeat": true, "steps": [
        {"polls": 1}, {"polls": 1, "flags": {"SUF": 1}, "values": {"DVIA": 0}}]})"));
    const auto now = ScenarioPlayer::Clock::now();
    std::vector<int> suf;
    for (int poll = 0; poll < 4; ++poll) {
        player.Poll(now);
        suf.push_back(player.Reading().flags[2]);
    }
    EXPECT_EQ(suf, (std::vector<int>{0, 1, 0, 1}));
    EXPECT_FLOAT_EQ(player.Reading().values[0], 0.0f);
}

TEST(Scenario, RampsRunStraightAcrossTheirStepAndEverythingCarriesOver)
{
    ScenarioPlayer player(Parse(R"({"steps": [
        {"polls": 3, "flags": {"SBM": 1}, "values": {"DVBT": [54, 48]}},
        {"polls": 2, "flags": {"SBL": 1}}]})"));
    const auto now = ScenarioPlayer::Clock::now();
    std::vector<float> dvbt;
    for (int poll = 0; poll < 5; ++poll) {
        player.Poll(now);
        dvbt.push_back(player.Reading().values[kDvbt]);
    }
    EXPECT_EQ(dvbt, (std::vector<float>{54, 51, 48, 48, 48}));
    EXPECT_EQ(player.Reading().flags[4], 1);  // SBM, from the first step
    EXPECT_EQ(player.Reading().flags[3], 1);  // SBL
    EXPECT_FLOAT_EQ(player.Reading().values[0], ups_answers::OnLine().values[0]);
}

TEST(Scenario, TimedStepsFollowTheClock)
{
    using std::chrono::milliseconds;
    ScenarioPlayer player(Parse(R"({"steps": [
        {"seconds": 2, "values": {"DVBT": [50, 40]}}, {"name": "after", "polls": 1}]})"));
    const auto start = ScenarioPlayer::Clock::now();
    player.Poll(start);
    EXPECT_FLOAT_EQ(player.Reading().values[kDvbt], 50.0f);
    player.Poll(start + milliseconds(500));
    EXPECT_FLOAT_EQ(player.Reading().values[kDvbt], 47.5f);
    EXPECT_EQ(player.StepIndex(), 0u);
    EXPECT_TRUE(player.Poll(start + milliseconds(2000)));
    EXPECT_EQ(player.Step().name, "after");
    EXPECT_FLOAT_EQ(player.Reading().values[kDvbt], 40.0f);
}

TEST(Scenario, StepFaultsAreReadWithTheirRates)
{
    const auto scenario = Parse(R"({"steps": [{"faults": {"silence": 1, "noise": 0.25}}]})");
    ASSERT_EQ(scenario.steps[0].faults.size(), 2u);
    EXPECT_EQ(scenario.steps[0].faults[0].first, ups_faults::Fault::Noise);
    EXPECT_DOUBLE_EQ(scenario.steps[0].faults[0].second, 0.25);
    EXPECT_EQ(scenario.steps[0].faults[1].first, ups_faults::Fault::Silence);
}

TEST(Scenario, MistakesAreNamedWithTheirStep)
{
    const std::string start = R"({"steps": [{"polls": 1}, )";
    EXPECT_NE(ErrorOf(start + R"({"values": {"DVXX": 1}}]})").find("step 2"), std::string::npos);
    EXPECT_NE(ErrorOf(start + R"({"values": {"DVXX": 1}}]})").find("DVXX"), std::string::npos);
    EXPECT_NE(ErrorOf(start + R"({"flags": {"SOK": 2}}]})").find("SOK"), std::string::npos);
    EXPECT_NE(ErrorOf(start + R"({"faults": {"smoke": 1}}]})").find("smoke"), std::string::npos);
    EXPECT_NE(ErrorOf(start + R"({"faults": {"noise": 1.5}}]})").find("noise"), std::string::npos);
    EXPECT_NE(ErrorOf(start + R"({"polls": 1, "seconds": 1}]})").find("either"),
              std::string::npos);
    EXPECT_NE(ErrorOf(start + R"({"values": {"DVIA": [1]}}]})").find("[from, to]"),
              std::string::npos);
    EXPECT_NE(ErrorOf(R"({"steps": []})"), "no error");
    EXPECT_NE(ErrorOf("{"), "no error");
}

TEST(Scenario, TyposAreNamedWithTheirLineAndTheNearestKnownName)
{
    const std::string start = "{\"steps\": [{\"polls\": 1},\n";
    EXPECT_EQ(ErrorOf(start + R"({"pols": 2}]})"),
              "scenario:2: step 2: unknown key \"pols\"; did you mean \"polls\"?");
    EXPECT_EQ(ErrorOf(start + R"({"flags": {"SUFF": 1}}]})"),
              "scenario:2: step 2, flags: unknown key \"SUFF\"; did you mean \"SUF\"?");
    EXPECT_EQ(ErrorOf(start + R"({"faults": {"silent": 1}}]})"),
              "scenario:2: step 2, faults: unknown key \"silent\"; did you mean \"silence\"?");
    EXPECT_EQ(ErrorOf(R"({"steps": [{}], "repeats": true})"),
              "scenario:1: scenario: unknown key \"repeats\"; did you mean \"repeat\"?");
    EXPECT_EQ(ErrorOf(R"({"steps": [{}], "repeat": "yes"})"),
              "scenario:1: scenario: \"repeat\" is true or false, not a text");
}

TEST(Scenario, OnlyStrictJsonIsReadAndSyntaxErrorsHaveLineAndColumn)
{
    EXPECT_EQ(ErrorOf("{\"steps\": [{\"polls\": 1},\n  {\"polls\": 2},]}"),
              "scenario:2:16: a comma before ']'; JSON allows no trailing comma");
    EXPECT_EQ(ErrorOf("{\"steps\": [{}]}\n# the end"),
              "scenario:2:1: more after the end of the JSON text before # the end");
    EXPECT_EQ(ErrorOf("{\"steps\": [{\"name\": \"a // b\"}]} // c"),
              "scenario:1:33: a comment; JSON has none");
    EXPECT_EQ(ErrorOf("{\"steps\": [{\"polls\": 1}\n {\"polls\": 2}]}"),
              "scenario:2:2: a ',' or ']' is missing before {\"polls\": 2}]}");
}

TEST(Scenario, ShippedScenariosAreValid)
{
    for (const char* name : {"demo.json", "mains-failure.json"}) {
        EXPECT_NO_THROW(ups_sim::LoadScenario(std::string(QUILL_SOURCE_DIR) + "/sim/scenarios/" +
                                              name))
            << name;
    }
}

}  // namespace
