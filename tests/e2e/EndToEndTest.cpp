// smdhost with the built module against upssim, over a pseudo-terminal pair,
// each in its own process: what a user of the bench host sees, read from its
// --json events.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>

#include "sim/UpsFaults.h"
#include "tests/e2e/Child.h"
#include "tests/e2e/JsonText.h"

#if !defined(QUILL_SMDHOST) || !defined(QUILL_UPSSIM) || !defined(QUILL_MODULE)
#error "QUILL_SMDHOST, QUILL_UPSSIM and QUILL_MODULE name the built programs and module"
#endif

namespace ups_faults {

// Test names and messages show a fault by its name.
void PrintTo(const FaultInfo& info, std::ostream* out) { *out << info.name; }

}  // namespace ups_faults

namespace {

using std::chrono::seconds;
using Events = std::vector<Json::Value>;

constexpr unsigned int kDataId = 42;
constexpr std::size_t kBlockSize = 76;

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

Events Of(const Events& events, const std::string& kind)
{
    Events found;
    for (const Json::Value& event : events) {
        if (event["event"].asString() == kind) {
            found.push_back(event);
        }
    }
    return found;
}

std::vector<unsigned int> Cycles(const Events& events)
{
    std::vector<unsigned int> cycles;
    for (const Json::Value& event : events) {
        cycles.push_back(event["cycle"].asUInt());
    }
    return cycles;
}

// Each event as "kind" or "kind cycle", for checking their order.
std::vector<std::string> Story(const Events& events)
{
    std::vector<std::string> story;
    for (const Json::Value& event : events) {
        std::string line = event["event"].asString();
        if (event.isMember("cycle")) {
            line += " " + event["cycle"].asString();
        }
        story.push_back(line);
    }
    return story;
}

class EndToEnd : public ::testing::Test {
protected:
    std::string dir;
    std::string line;  // where upssim links its pseudo-terminal
    std::unique_ptr<Child> sim;

    void SetUp() override
    {
        char name[] = "/tmp/quill-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        line = dir + "/ups";
    }

    void TearDown() override
    {
        sim.reset();
        std::filesystem::remove_all(dir);
    }

    // Starts upssim, unpaced, with the scenario; waits until it is on the line.
    void StartSim(const std::string& scenario)
    {
        std::ofstream(dir + "/scenario.json") << scenario;
        sim = std::make_unique<Child>(
            std::vector<std::string>{QUILL_UPSSIM, "--fast", "--link", line, "--scenario",
                                     dir + "/scenario.json"},
            dir + "/upssim.err");
        ASSERT_TRUE(sim->Started());
        for (auto said = sim->ReadLine(seconds(10)); said; said = sim->ReadLine(seconds(10))) {
            if (said->rfind("upssim: UPS on", 0) == 0) {
                return;
            }
        }
        FAIL() << "upssim did not come up: " << ReadFile(dir + "/upssim.err");
    }

    // A configuration of devices on the simulated line, polled quickly.
    std::string WriteConfig(double answer_timeout, Json::Value devices = Json::Value())
    {
        if (devices.isNull()) {
            devices[0]["data_id"] = kDataId;
        }
        for (Json::Value& device : devices) {
            device["port"] = line;
            device["poll_interval"] = 0.02;
            device["answer_timeout"] = answer_timeout;
        }
        Json::Value config;
        config["module"] = QUILL_MODULE;
        config["state_dir"] = dir + "/state";
        config["devices"] = devices;
        const std::string path = dir + "/smdhost.json";
        std::ofstream(path) << Json::writeString(Json::StreamWriterBuilder(), config);
        return path;
    }

    std::unique_ptr<Child> StartHost(const std::string& config, const std::string& cycles)
    {
        std::vector<std::string> argv{QUILL_SMDHOST, "--json", "--config", config};
        if (!cycles.empty()) {
            argv.insert(argv.end(), {"--cycles", cycles});
        }
        return std::make_unique<Child>(argv, dir + "/smdhost.err");
    }

    // Runs smdhost to its end; answers its exit status and fills its events.
    int RunHost(const std::string& config, unsigned int cycles, Events& events)
    {
        auto host = StartHost(config, std::to_string(cycles));
        const int status = host->Wait(seconds(40));
        for (auto said = host->ReadLine(seconds(1)); said; said = host->ReadLine(seconds(1))) {
            events.push_back(ParseJson(*said));
        }
        return status;
    }

    // Reads the events of a running smdhost until one of `kind` (and, if
    // given, `reason`) comes.
    static bool ReadUntil(Child& host, Events& events, const std::string& kind,
                          const std::string& reason = "")
    {
        for (auto said = host.ReadLine(seconds(20)); said; said = host.ReadLine(seconds(20))) {
            events.push_back(ParseJson(*said));
            const Json::Value& event = events.back();
            if (event["event"].asString() == kind &&
                (reason.empty() || event["reason"].asString() == reason)) {
                return true;
            }
        }
        return false;
    }

    std::string History() const { return ReadFile(dir + "/state/42.history"); }
};

// ---- Scenarios reach the host's alarms ---------------------------------------------

TEST_F(EndToEnd, ScenarioAlarmsAreRaisedAndClearedInOrder)
{
    StartSim(R"({"steps": [
        {"name": "on line", "polls": 1},
        {"name": "mains fails", "polls": 2, "flags": {"SUF": 1, "SBM": 1},
         "values": {"DVBT": [54, 50]}},
        {"name": "low battery", "polls": 1, "flags": {"SBL": 1}},
        {"name": "mains back", "polls": 1, "flags": {"SUF": 0, "SBM": 0, "SBL": 0}},
        {"name": "bypass", "polls": 1, "flags": {"SBP": 1}},
        {"name": "UPS fault", "polls": 1, "flags": {"SOK": 1}},
        {"name": "all clear", "polls": 1, "flags": {"SOK": 0, "SBP": 0}}]})");
    Events events;
    ASSERT_EQ(RunHost(WriteConfig(2.0), 8, events), 0) << ReadFile(dir + "/smdhost.err");

    std::vector<std::string> alarms;
    for (const Json::Value& alarm : Of(events, "alarm")) {
        alarms.push_back(alarm["change"].asString() + " " + alarm["key"].asString() + " " +
                         alarm["alarm_id"].asString() + " #" + alarm["index"].asString());
    }
    EXPECT_EQ(alarms, (std::vector<std::string>{
                          "raised suf 08001 #3", "raised sbm 08037 #5", "raised sbl 08003 #4",
                          "cleared suf 08001 #3", "cleared sbl 08003 #4", "cleared sbm 08037 #5",
                          "raised sbp 08020 #2", "raised sok 08049 #1", "cleared sok 08049 #1",
                          "cleared sbp 08020 #2"}));
    const Json::Value sbm = Of(events, "alarm")[1];
    EXPECT_EQ(sbm["text"].asString(), "电池供电告警");
    EXPECT_EQ(sbm["second_text"].asString(), "电池放电");

    const Events blocks = Of(events, "block");
    EXPECT_EQ(Cycles(blocks), (std::vector<unsigned int>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(blocks[1]["block"]["values"]["DVBT"].asDouble(), 54.0);
    EXPECT_EQ(blocks[2]["block"]["values"]["DVBT"].asDouble(), 50.0);
    EXPECT_EQ(blocks[2]["block"]["flags"]["SUF"].asInt(), 1);
    EXPECT_EQ(blocks[2]["block"]["data_id"].asUInt(), kDataId);
    EXPECT_EQ(History().size(), 8 * kBlockSize);
}

// ---- Faults on the line --------------------------------------------------------------

class InjectedFault : public EndToEnd,
                      public ::testing::WithParamInterface<ups_faults::FaultInfo> {};

TEST_P(InjectedFault, EndsItsCycleAsTheFaultTableSaysAndTheNextCycleCompletes)
{
    const ups_faults::FaultInfo& fault = GetParam();
    StartSim(std::string(R"({"steps": [{"polls": 2}, {"polls": 1, "faults": {")") + fault.name +
             R"(": 1}}, {"name": "after"}]})");
    Events events;
    const int status = RunHost(WriteConfig(1.0), 4, events);

    const Events failed = Of(events, "cycle_failed");
    if (fault.outcome == ups_faults::Outcome::Completes) {
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(failed.empty());
        EXPECT_EQ(Cycles(Of(events, "block")), (std::vector<unsigned int>{1, 2, 3, 4}));
        return;
    }
    EXPECT_EQ(status, 1);
    ASSERT_EQ(failed.size(), 1u) << ReadFile(dir + "/smdhost.err");
    EXPECT_EQ(failed[0]["cycle"].asUInt(), 3u);
    EXPECT_EQ(failed[0]["reason"].asString(),
              fault.outcome == ups_faults::Outcome::Refused ? "refused" : "timeout");
    EXPECT_EQ(Cycles(Of(events, "block")), (std::vector<unsigned int>{1, 2, 4}));
    ASSERT_EQ(Of(events, "summary").size(), 1u);
    EXPECT_EQ(Of(events, "summary")[0]["failed"].asUInt(), 1u);
}

std::string FaultName(const ::testing::TestParamInfo<ups_faults::FaultInfo>& info)
{
    std::string name = info.param.name;
    for (char& c : name) {
        c = c == '-' ? '_' : c;
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryFault, InjectedFault, ::testing::ValuesIn(ups_faults::kFaults),
                         FaultName);

TEST_F(EndToEnd, StaleIsReportedOnceAndReestablishedOnce)
{
    StartSim(R"({"steps": [{"polls": 1}, {"polls": 5, "faults": {"silence": 1}},
                           {"name": "back"}]})");
    Events events;
    EXPECT_EQ(RunHost(WriteConfig(0.5), 8, events), 1);

    Events told;
    for (const Json::Value& event : events) {
        const std::string kind = event["event"].asString();
        if (kind != "start" && kind != "port" && kind != "summary") {
            told.push_back(event);
        }
    }
    EXPECT_EQ(Story(told),
              (std::vector<std::string>{"block 1", "cycle_failed 2", "cycle_failed 3",
                                        "cycle_failed 4", "stale", "reestablished", "block 7",
                                        "block 8"}));
    EXPECT_EQ(Of(events, "reestablished")[0]["failed_cycles"].asUInt(), 5u);
    EXPECT_EQ(Of(events, "summary")[0]["failed"].asUInt(), 5u);
    EXPECT_FALSE(Of(events, "summary")[0]["stale"].asBool());
}

// ---- History and cache --------------------------------------------------------------

TEST_F(EndToEnd, HistoryHoldsOneBlockPerCompletedCycleAndNothingForFailedOnes)
{
    StartSim(R"({"steps": [{"polls": 1}, {"polls": 1, "faults": {"silence": 1}},
                           {"polls": 1, "flags": {"SUF": 1}},
                           {"polls": 1, "faults": {"bad-digit": 1}}, {"name": "on"}]})");
    Events events;
    EXPECT_EQ(RunHost(WriteConfig(0.5), 5, events), 1);

    const Events blocks = Of(events, "block");
    ASSERT_EQ(Cycles(blocks), (std::vector<unsigned int>{1, 3, 5}));
    const std::string history = History();
    ASSERT_EQ(history.size(), 3 * kBlockSize);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::string stored = history.substr(i * kBlockSize, kBlockSize);
        std::uint32_t data_id;
        std::memcpy(&data_id, stored.data(), sizeof(data_id));
        EXPECT_EQ(data_id, kDataId);
        EXPECT_EQ(stored[6], blocks[i]["block"]["flags"]["SUF"].asInt()) << "block " << i;
        const std::uint16_t year = static_cast<std::uint16_t>(
            static_cast<unsigned char>(stored[69]) | static_cast<unsigned char>(stored[70]) << 8);
        EXPECT_EQ(std::to_string(year), blocks[i]["block"]["time_stamp"].asString().substr(0, 4));
    }
    EXPECT_EQ(ReadFile(dir + "/state/42.cache"), history.substr(2 * kBlockSize));
}

TEST_F(EndToEnd, CachedBlockIsRepublishedAtStartWithoutGrowingTheHistory)
{
    StartSim(R"({"steps": [
        {"polls": 1, "flags": {"SUF": 1, "SBM": 1}, "values": {"DVBT": 47.5}},
        {"name": "silent", "faults": {"silence": 1}}]})");
    const std::string config = WriteConfig(0.5);
    Events first;
    ASSERT_EQ(RunHost(config, 1, first), 0);

    Events events;
    EXPECT_EQ(RunHost(config, 1, events), 1);
    std::vector<std::string> story;
    for (const Json::Value& event : events) {
        const std::string kind = event["event"].asString();
        story.push_back(kind == "block" ? kind + " " + event["source"].asString() : kind);
    }
    EXPECT_EQ(story, (std::vector<std::string>{"start", "block cache", "alarm", "alarm", "port",
                                               "cycle_failed", "summary"}));
    const Json::Value& cached = events[1]["block"];
    EXPECT_EQ(cached["data_id"].asUInt(), kDataId);
    EXPECT_EQ(cached["flags"]["SUF"].asInt(), 1);
    EXPECT_EQ(cached["flags"]["SBM"].asInt(), 1);
    EXPECT_EQ(cached["values"]["DVBT"].asDouble(), 47.5);
    EXPECT_EQ(events[2]["key"].asString(), "suf");
    EXPECT_EQ(History().size(), kBlockSize);
}

// ---- The serial line comes and goes; signals ---------------------------------------

TEST_F(EndToEnd, LineThatDisappearsIsReopenedAndSigtermStopsTheHost)
{
    StartSim(R"({"steps": [{"name": "on line"}]})");
    auto host = StartHost(WriteConfig(0.5), "");
    Events events;
    ASSERT_TRUE(ReadUntil(*host, events, "block"));

    sim->Signal(SIGTERM);
    EXPECT_EQ(sim->Wait(seconds(10)), 0);
    ASSERT_TRUE(ReadUntil(*host, events, "cycle_failed", "port"));
    ASSERT_TRUE(ReadUntil(*host, events, "stale"));

    StartSim(R"({"steps": [{"name": "back on line"}]})");
    ASSERT_TRUE(ReadUntil(*host, events, "block"));
    host->Signal(SIGTERM);
    EXPECT_EQ(host->Wait(seconds(10)), 1);
    ASSERT_TRUE(ReadUntil(*host, events, "summary"));

    const std::vector<std::string> story = Story(events);
    const auto opened = std::count(story.begin(), story.end(), "port");
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(std::count(story.begin(), story.end(), "reestablished"), 1);
    EXPECT_FALSE(events.back()["stale"].asBool());
}

// ---- Errors are reported, not crashed on -------------------------------------------

TEST_F(EndToEnd, SettingsTheModuleThrowsOnAreReportedWithTheDeviceIdentifier)
{
    StartSim(R"({"steps": [{"name": "on line"}]})");
    Json::Value devices;
    devices[0]["data_id"] = 7;
    devices[0]["settings"] = ParseJson(
        R"({"appSetting": {"b_mode": 3}, "thresholdSetting": [{"Level": 1}]})");
    devices[1]["data_id"] = 8;
    Events events;
    EXPECT_EQ(RunHost(WriteConfig(1.0, devices), 2, events), 1);

    const Events errors = Of(events, "error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["data_id"].asUInt(), 7u);
    EXPECT_NE(errors[0]["detail"].asString().find("refused the settings"), std::string::npos);
    const Events blocks = Of(events, "block");
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0]["data_id"].asUInt(), 8u);
}

TEST_F(EndToEnd, ModuleThatCannotBeLoadedIsNamedWithTheLoadersReason)
{
    const std::string missing = dir + "/missing.so";
    Child host({QUILL_SMDHOST, "--module", missing, "--port", line, "--state-dir", dir},
               dir + "/smdhost.err");
    EXPECT_EQ(host.Wait(seconds(10)), 2);
    const std::string said = ReadFile(dir + "/smdhost.err");
    EXPECT_NE(said.find("cannot load " + missing), std::string::npos) << said;
    EXPECT_NE(said.find("No such file"), std::string::npos) << said;
}

}  // namespace
