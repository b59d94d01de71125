#include "sim/Scenario.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include <json/reader.h>
#include <json/value.h>

#include "ups/UpsProtocol.h"

namespace ups_sim {

namespace {

[[noreturn]] void Fail(const std::string& where, const std::string& what)
{
    throw std::runtime_error(where + ": " + what);
}

template <std::size_t N>
std::size_t TagIndex(const ups_protocol::Field (&fields)[N], const std::string& tag)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (tag == fields[i].tag) {
            return i;
        }
    }
    return N;
}

float Number(const Json::Value& value, const std::string& where)
{
    if (!value.isNumeric()) {
        Fail(where, "a number is expected");
    }
    return value.asFloat();
}

void ReadFlags(const Json::Value& flags, ScenarioStep& step, const std::string& where)
{
    if (!flags.isObject()) {
        Fail(where, "\"flags\" is an object of tags");
    }
    for (const std::string& tag : flags.getMemberNames()) {
        const std::size_t index = TagIndex(ups_protocol::kStatusFields, tag);
        if (index == step.flags.size()) {
            Fail(where, "\"" + tag + "\" is no status tag (SOK, SBP, SUF, SBL, SBM)");
        }
        const Json::Value& flag = flags[tag];
        if (!flag.isUInt() || flag.asUInt() > 1) {
            Fail(where, "flag \"" + tag + "\" is 0 or 1");
        }
        step.flags[index] = static_cast<std::uint8_t>(flag.asUInt());
    }
}

void ReadValues(const Json::Value& values, ScenarioStep& step, const std::string& where)
{
    if (!values.isObject()) {
        Fail(where, "\"values\" is an object of tags");
    }
    for (const std::string& tag : values.getMemberNames()) {
        const std::size_t index = TagIndex(ups_protocol::kDataFields, tag);
        if (index == step.values.size()) {
            Fail(where, "\"" + tag + "\" is no data tag (DVIA ... DVBL)");
        }
        const Json::Value& value = values[tag];
        const std::string at = where + ", value \"" + tag + "\"";
        if (value.isArray()) {
            if (value.size() != 2) {
                Fail(at, "a ramp is [from, to]");
            }
            step.values[index] = Ramp{Number(value[0], at), Number(value[1], at)};
        } else {
            const float constant = Number(value, at);
            step.values[index] = Ramp{constant, constant};
        }
    }
}

void ReadFaults(const Json::Value& faults, ScenarioStep& step, const std::string& where)
{
    if (!faults.isObject()) {
        Fail(where, "\"faults\" is an object of fault names and rates");
    }
    for (const std::string& name : faults.getMemberNames()) {
        const ups_faults::FaultInfo* info = ups_faults::FindFault(name);
        if (info == nullptr) {
            Fail(where, "\"" + name + "\" is no fault");
        }
        const double rate = Number(faults[name], where + ", fault \"" + name + "\"");
        if (rate < 0.0 || rate > 1.0) {
            Fail(where, "the rate of \"" + name + "\" lies between 0 and 1");
        }
        step.faults.emplace_back(info->fault, rate);
    }
}

ScenarioStep ReadStep(const Json::Value& entry, std::size_t number)
{
    const std::string where = "step " + std::to_string(number);
    if (!entry.isObject()) {
        Fail(where, "a step is an object");
    }
    ScenarioStep step;
    step.name = entry.get("name", where).asString();
    if (entry.isMember("polls")) {
        if (!entry["polls"].isUInt() || entry["polls"].asUInt() == 0) {
            Fail(where, "\"polls\" is a count of 1 or more");
        }
        step.polls = entry["polls"].asUInt();
    }
    if (entry.isMember("seconds")) {
        step.seconds = Number(entry["seconds"], where + ", \"seconds\"");
        if (step.seconds <= 0.0) {
            Fail(where, "\"seconds\" is more than 0");
        }
    }
    if (step.polls > 0 && step.seconds > 0.0) {
        Fail(where, "a step lasts either \"polls\" or \"seconds\"");
    }
    if (entry.isMember("flags")) {
        ReadFlags(entry["flags"], step, where);
    }
    if (entry.isMember("values")) {
        ReadValues(entry["values"], step, where);
    }
    if (entry.isMember("faults")) {
        ReadFaults(entry["faults"], step, where);
    }
    return step;
}

// The reading at a point of a step that began with `start`.
ups_answers::Reading ReadingAt(const ScenarioStep& step, ups_answers::Reading start,
                               double progress)
{
    for (std::size_t i = 0; i < step.flags.size(); ++i) {
        if (step.flags[i]) {
            start.flags[i] = *step.flags[i];
        }
    }
    for (std::size_t i = 0; i < step.values.size(); ++i) {
        if (step.values[i]) {
            const Ramp& ramp = *step.values[i];
            start.values[i] =
                ramp.from + static_cast<float>(progress) * (ramp.to - ramp.from);
        }
    }
    return start;
}

}  // namespace

Scenario ParseScenario(std::istream& text)
{
    Json::CharReaderBuilder builder;
    Json::Value root;
    std::string errors;
    if (!Json::parseFromStream(builder, text, &root, &errors)) {
        Fail("scenario", errors);
    }
    if (!root.isObject() || !root["steps"].isArray() || root["steps"].empty()) {
        Fail("scenario", "an object with a list of \"steps\" is expected");
    }
    Scenario scenario;
    scenario.description = root.get("description", "").asString();
    scenario.repeat = root.get("repeat", false).asBool();
    for (Json::ArrayIndex i = 0; i < root["steps"].size(); ++i) {
        scenario.steps.push_back(ReadStep(root["steps"][i], i + 1));
    }
    return scenario;
}

Scenario LoadScenario(const std::string& path)
{
    std::ifstream file(path);
    if (!file) {
        throw std::runtime_error("cannot read scenario " + path);
    }
    try {
        return ParseScenario(file);
    } catch (const std::runtime_error& error) {
        throw std::runtime_error(path + ": " + error.what());
    }
}

Scenario SteadyScenario()
{
    Scenario scenario;
    scenario.description = "on line";
    scenario.steps.push_back(ScenarioStep{});
    scenario.steps.back().name = "on line";
    return scenario;
}

ScenarioPlayer::ScenarioPlayer(Scenario scenario) : scenario_(std::move(scenario))
{
    ups_answers::Reading reading = ups_answers::OnLine();
    for (const ScenarioStep& step : scenario_.steps) {
        starts_.push_back(reading);
        reading = ReadingAt(step, reading, 1.0);
    }
    reading_ = starts_.at(0);
}

bool ScenarioPlayer::Poll(Clock::time_point now)
{
    bool began = !started_;
    if (!started_) {
        started_ = true;
        step_start_ = now;
    }
    while (StepIsOver(now)) {
        const bool last = index_ + 1 == scenario_.steps.size();
        if (last && !scenario_.repeat) {
            break;
        }
        const ScenarioStep& ended = Step();
        step_start_ = ended.seconds > 0.0
                          ? step_start_ + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(ended.seconds))
                          : now;
        index_ = last ? 0 : index_ + 1;
        polls_in_step_ = 0;
        began = true;
    }
    reading_ = ReadingAt(Step(), starts_[index_], Progress(now));
    ++polls_in_step_;
    return began;
}

bool ScenarioPlayer::StepIsOver(Clock::time_point now) const
{
    const ScenarioStep& step = Step();
    if (step.polls > 0) {
        return polls_in_step_ >= step.polls;
    }
    if (step.seconds > 0.0) {
        return std::chrono::duration<double>(now - step_start_).count() >= step.seconds;
    }
    return false;
}

// How far into its step this poll lies, from 0 to 1.
double ScenarioPlayer::Progress(Clock::time_point now) const
{
    const ScenarioStep& step = Step();
    if (step.polls > 1) {
        return static_cast<double>(polls_in_step_) / (step.polls - 1);
    }
    if (step.seconds > 0.0) {
        const double elapsed = std::chrono::duration<double>(now - step_start_).count();
        return std::min(1.0, elapsed / step.seconds);
    }
    return 0.0;
}

}  // namespace ups_sim
