#pragma once

#include <array>
#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/UpsAnswers.h"
#include "sim/UpsFaults.h"

// A scenario: what the simulated UPS reports over time, as a list of steps.
//
//   {"description": "mains failure",
//    "steps": [
//      {"name": "on line", "polls": 2},
//      {"name": "on battery", "seconds": 8, "flags": {"SUF": 1, "SBM": 1},
//       "values": {"DVIA": 0, "DVBT": [54.6, 48.0]}},
//      {"name": "line silent", "polls": 3, "faults": {"silence": 1.0}}],
//    "repeat": false}
//
// A step lasts a number of polls (status commands received) or of seconds;
// a step with neither lasts for ever. Flags (0 or 1) and values are keyed by
// their protocol tag and carry over to later steps; a value given as
// [from, to] moves in a straight line across the step. Faults name the
// simulator's faults with the rate at which each answer gets them.
namespace ups_sim {

struct Ramp {
    float from;
    float to;
};

struct ScenarioStep {
    std::string name;
    unsigned int polls = 0;  // 0: not counted in polls
    double seconds = 0.0;    // 0: not timed
    std::array<std::optional<std::uint8_t>, 5> flags{};  // SOK, SBP, SUF, SBL, SBM
    std::array<std::optional<Ramp>, 15> values{};       // in the data answer's order
    std::vector<std::pair<ups_faults::Fault, double>> faults;
};

struct Scenario {
    std::string description;
    std::vector<ScenarioStep> steps;
    bool repeat = false;  // after the last step, start again; otherwise stay in it
};

// Reads a scenario; throws std::runtime_error that names the step and key at
// fault.
Scenario ParseScenario(std::istream& text);
Scenario LoadScenario(const std::string& path);

// A UPS on line, unchanging: the scenario when none is given.
Scenario SteadyScenario();

// Walks through a scenario as status commands arrive.
class ScenarioPlayer {
public:
    using Clock = std::chrono::steady_clock;

    explicit ScenarioPlayer(Scenario scenario);

    // A status command arrived: moves on to the step it falls in and fixes the
    // reading that this poll's answers give. Answers true when a step began.
    bool Poll(Clock::time_point now);

    std::size_t StepIndex() const { return index_; }
    std::size_t StepCount() const { return scenario_.steps.size(); }
    const ScenarioStep& Step() const { return scenario_.steps[index_]; }
    const ups_answers::Reading& Reading() const { return reading_; }

private:
    bool StepIsOver(Clock::time_point now) const;
    double Progress(Clock::time_point now) const;

    Scenario scenario_;
    std::vector<ups_answers::Reading> starts_;  // the reading as each step begins
    std::size_t index_ = 0;
    bool started_ = false;
    unsigned int polls_in_step_ = 0;
    Clock::time_point step_start_{};
    ups_answers::Reading reading_;
};

}  // namespace ups_sim
