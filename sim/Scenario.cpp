#include "sim/Scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <json/value.h>

#include "tools/common/JsonKeys.h"
#include "ups/UpsProtocol.h"

namespace ups_sim {

namespace {

using json_keys::Fail;

const std::vector<std::string> kScenarioKeys = {"description", "steps", "repeat"};
const std::vector<std::string> kStepKeys = {"name",  "polls",  "seconds",
                                            "flags", "values", "faults"};

template <std::size_t N>
std::vector<std::string> Tags(const ups_protocol::Field (&fields)[N])
{
    std::vector<std::string> tags;
    for (const auto& field : fields) {
        tags.emplace_back(field.tag);
    }
    return tags;
}

std::vector<std::string> FaultNames()
{
    std::vector<std::string> names;
    for (const auto& info : ups_faults::kFaults) {
        names.emplace_back(info.name);
    }
    return names;
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
        Fail(value, where, "a number is expected, not " + json_keys::KindOf(value));
    }
    return value.asFloat();
}

void ReadFlags(const Json::Value& flags, ScenarioStep& step, const std::string& where)
{
    if (!flags.isObject()) {
        json_keys::WrongKind(flags, where, "flags", "an object of tags");
    }
    json_keys::CheckKeys(flags, Tags(ups_protocol::kStatusFields), where + ", flags");
    for (const std::string& tag : flags.getMemberNames()) {
        const std::size_t index = TagIndex(ups_protocol::kStatusFields, tag);
        const Json::Value& flag = flags[tag];
        if (!flag.isUInt() || flag.asUInt() > 1) {
            Fail(flag, where, "flag \"" + tag + "\" is 0 or 1");
        }
        step.flags[index] = static_cast<std::uint8_t>(flag.asUInt());
    }
}

void ReadValues(const Json::Value& values, ScenarioStep& step, const std::string& where)
{
    if (!values.isObject()) {
        json_keys::WrongKind(values, where, "values", "an object of tags");
    }
    json_keys::CheckKeys(values, Tags(ups_protocol::kDataFields), where + ", values");
    for (const std::string& tag : values.getMemberNames()) {
        const std::size_t index = TagIndex(ups_protocol::kDataFields, tag);
        const Json::Value& value = values[tag];
        const std::string at = where + ", value \"" + tag + "\"";
        if (value.isArray()) {
            if (value.size() != 2) {
                Fail(value, at, "a ramp is [from, to]");
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
        json_keys::WrongKind(faults, where, "faults", "an object of fault names and rates");
    }
    json_keys::CheckKeys(faults, FaultNames(), where + ", faults");
    for (const std::string& name : faults.getMemberNames()) {
        const ups_faults::FaultInfo* info = ups_faults::FindFault(name);
        const double rate = Number(faults[name], where + ", fault \"" + name + "\"");
        if (rate < 0.0 || rate > 1.0) {
            Fail(faults[name], where, "the rate of \"" + name + "\" lies between 0 and 1");
        }
        step.faults.emplace_back(info->fault, rate);
    }
}

ScenarioStep ReadStep(const Json::Value& entry, std::size_t number)
{
    const std::string where = "step " + std::to_string(number);
    if (!entry.isObject()) {
        Fail(entry, where, "a step is an object, not " + json_keys::KindOf(entry));
    }
    json_keys::CheckKeys(entry, kStepKeys, where);
    if (entry.isMember("name") && !entry["name"].isString()) {
        json_keys::WrongKind(entry["name"], where, "name", "a text");
    }
    ScenarioStep step;
    step.name = entry.get("name", where).asString();
    if (entry.isMember("polls")) {
        if (!entry["polls"].isUInt() || entry["polls"].asUInt() == 0) {
            Fail(entry["polls"], where, "\"polls\" is a count of 1 or more");
        }
        step.polls = entry["polls"].asUInt();
    }
    if (entry.isMember("seconds")) {
        step.seconds = Number(entry["seconds"], where + ", \"seconds\"");
        if (step.seconds <= 0.0) {
            Fail(entry["seconds"], where, "\"seconds\" is more than 0");
        }
    }
    if (step.polls > 0 && step.seconds > 0.0) {
        Fail(entry, where, "a step lasts either \"polls\" or \"seconds\"");
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

namespace {

Scenario ReadScenario(const Json::Value& root)
{
    if (!root.isObject() || !root["steps"].isArray() || root["steps"].empty()) {
        Fail(root, "scenario", "an object with a list of \"steps\" is expected");
    }
    json_keys::CheckKeys(root, kScenarioKeys, "scenario");
    if (root.isMember("description") && !root["description"].isString()) {
        json_keys::WrongKind(root["description"], "scenario", "description", "a text");
    }
    if (root.isMember("repeat") && !root["repeat"].isBool()) {
        json_keys::WrongKind(root["repeat"], "scenario", "repeat", "true or false");
    }
    Scenario scenario;
    scenario.description = root.get("description", "").asString();
    scenario.repeat = root.get("repeat", false).asBool();
    for (Json::ArrayIndex i = 0; i < root["steps"].size(); ++i) {
        scenario.steps.push_back(ReadStep(root["steps"][i], i + 1));
    }
    return scenario;
}

}  // namespace

Scenario ParseScenario(std::istream& text)
{
    const std::string bytes{std::istreambuf_iterator<char>(text), {}};
    return json_keys::ParseWith("scenario", bytes, ReadScenario);
}

Scenario LoadScenario(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read scenario " + path + ": " + std::strerror(errno));
    }
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    return json_keys::ParseWith(path, bytes, ReadScenario);
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
