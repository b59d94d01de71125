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
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>

#include "QuillVersion.h"
#include "sim/UpsFaults.h"
#include "tests/e2e/HostFixture.h"

namespace ups_faults {

// Test names and messages show a fault by its name.
void PrintTo(const FaultInfo& info, std::ostream* out) { *out << info.name; }

}  // namespace ups_faults

namespace {

using namespace e2e;

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
    EXPECT_EQ(sbm["text_en"].asString(), "supply-by-battery alarm");
    EXPECT_EQ(sbm["second_text_en"].asString(), "battery discharge");
    EXPECT_EQ(Of(events, "alarm")[0]["text_en"].asString(), "mains failure");

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

// What the host's own check of the bytes says about each fault that fails.
std::string Explanation(const std::string& fault)
{
    static const std::map<std::string, std::string> kSaid = {
        {"missing-tag", "(the first tag missing)"},
        {"garbled", "is no number"},
        {"extra-line", "lines where"},
        {"noise", "receive buffer holds"},
        {"silence", "(0 bytes received; is another program reading the port? fuser -v "},
        {"bad-digit", "not 0 or 1"},
    };
    return kSaid.at(fault);
}

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
    EXPECT_NE(failed[0]["detail"].asString().find(Explanation(fault.name)), std::string::npos)
        << failed[0]["detail"].asString();
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

// At the line's own speed the module takes an answer as soon as its count of
// lines is there: a line sent twice pushes the last line out of the answer,
// into the next one, and the refusal names the line at fault.
TEST_F(EndToEnd, ExtraLineAtTheLinesSpeedIsRefusedNamingTheLineThatCameTwiceOrWasLeftOver)
{
    if (SlowedDown()) {
        GTEST_SKIP() << "paced: not under ThreadSanitizer";
    }
    sim = StartSimAt(line, R"({"steps": [{"polls": 1}, {"polls": 2, "faults": {"extra-line": 1}},
                                         {"name": "after"}]})",
                     {"--seed", "3"}, true);
    Json::Value device;
    device[0]["data_id"] = kDataId;
    device[0]["poll_interval"] = 1.0;  // the rest of a refused answer ends first
    Events events;
    EXPECT_EQ(RunHost(WriteConfig(1.5, device), 4, events, {"--trace"}), 1);

    const Events failed = Of(events, "cycle_failed");
    EXPECT_EQ(Cycles(failed), (std::vector<unsigned int>{2, 3}));
    bool rest_discarded = false;
    for (const Json::Value& trace : Of(events, "trace")) {
        rest_discarded = rest_discarded || (trace["direction"] == "discarded" &&
                                            trace["bytes"].asString().find("DVBL") !=
                                                std::string::npos);
    }
    EXPECT_TRUE(rest_discarded) << "the rest of a refused answer is thrown away, and traced";
    bool named = false;
    for (const Json::Value& failure : failed) {
        const std::string detail = failure["detail"].asString();
        if (failure["reason"] == "refused") {
            named = named || detail.find("\" came twice") != std::string::npos ||
                    detail.find("\" belongs to neither answer (left over from the status "
                                "answer)") != std::string::npos;
            EXPECT_NE(detail.find(", the module took "), std::string::npos) << detail;
        } else {
            EXPECT_NE(detail.find("lines where"), std::string::npos) << detail;
        }
    }
    EXPECT_TRUE(named) << "paced, a refusal names the line that took another's place";
    EXPECT_EQ(Cycles(Of(events, "block")), (std::vector<unsigned int>{1, 4}));
}

// Paced, 4 KiB of noise take longer than an answer timeout: never the receive
// buffer's overflow of the unpaced case, but timeouts until the noise is over
// (bytes left over thrown away before each command), then the line recovers.
TEST_F(EndToEnd, NoiseAtTheLinesSpeedTimesOutUntilItIsOverAndTheLineRecovers)
{
    if (SlowedDown()) {
        GTEST_SKIP() << "paced: not under ThreadSanitizer";
    }
    // 38400 bit/s against a 0.3 s timeout: the proportions of 2400 bit/s and 3 s.
    sim = StartSimAt(line, R"({"steps": [{"polls": 1}, {"polls": 1, "faults": {"noise": 1}},
                                         {"name": "after"}]})",
                     {"--baud", "38400"}, true);
    Json::Value device;
    device[0]["data_id"] = kDataId;
    device[0]["poll_interval"] = 0.5;  // time for the queued commands' answers to end
    Events events;
    EXPECT_EQ(RunHost(WriteConfig(0.3, device), 8, events), 1);

    const Events failed = Of(events, "cycle_failed");
    ASSERT_FALSE(failed.empty());
    EXPECT_EQ(failed[0]["cycle"].asUInt(), 2u);
    EXPECT_EQ(failed[0]["reason"].asString(), "timeout");
    EXPECT_NE(failed[0]["detail"].asString().find(" bytes received: 0 lines where 7 are expected"),
              std::string::npos)
        << failed[0]["detail"].asString();
    for (const Json::Value& failure : failed) {
        EXPECT_EQ(failure["detail"].asString().find("receive buffer"), std::string::npos)
            << failure["detail"].asString();
    }
    const Events blocks = Of(events, "block");
    ASSERT_GE(blocks.size(), 2u) << ::testing::PrintToString(Story(events));
    EXPECT_EQ(blocks[0]["cycle"].asUInt(), 1u);
    EXPECT_EQ(blocks.back()["cycle"].asUInt(), 8u) << ::testing::PrintToString(Story(events));
}

TEST_F(EndToEnd, EveryFailureIsAnEventAndStaleAndReestablishedComeOnce)
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
                                        "cycle_failed 4", "stale", "cycle_failed 5",
                                        "cycle_failed 6", "reestablished", "block 7", "block 8"}));
    EXPECT_EQ(Of(events, "reestablished")[0]["failed_cycles"].asUInt(), 5u);
    EXPECT_EQ(Of(events, "summary")[0]["failed"].asUInt(), 5u);
    EXPECT_FALSE(Of(events, "summary")[0]["stale"].asBool());
}

TEST_F(EndToEnd, BriefViewHasOneLinePerCycleAndAlarmChangesOnLinesOfTheirOwn)
{
    StartSim(R"({"steps": [{"polls": 1}, {"polls": 1, "faults": {"bad-digit": 1}},
                           {"name": "mains failure", "flags": {"SUF": 1}}]})");
    Child host({QUILL_SMDHOST, "--brief", "--config", WriteConfig(1.0), "--cycles", "3"},
               dir + "/smdhost.err");
    EXPECT_EQ(host.Wait(seconds(20)), 1);
    std::vector<std::string> lines;
    for (auto said = host.ReadLine(seconds(1)); said; said = host.ReadLine(seconds(1))) {
        lines.push_back(said->substr(said->find("] ") + 2));  // after the time and device
    }
    const std::string values = " DVIA=230.5 DVIB=229.8 DVIC=231.1 DVOA=220 DVOB=220.1 "
                               "DVOC=219.9 DLOA=35 DLOB=36.5 DLOC=34 DTMP=28.5 DHZF=50 DVBT=54.6 "
                               "DTMB=25 DVBN=13.6 DVBL=20";
    ASSERT_EQ(lines.size(), 7u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[2], "#1 SOK0 SBP0 SUF0 SBL0 SBM0" + values);
    EXPECT_EQ(lines[3].rfind("#2 failed (refused): the module refused the answer to \"RS\\r\"", 0),
              0u) << lines[3];
    EXPECT_EQ(lines[4], "#3 SOK0 SBP0 SUF1 SBL0 SBM0" + values);
    EXPECT_EQ(lines[5], "ALARM RAISED  #3 suf 08001 市电掉电 (mains failure)");
    EXPECT_EQ(lines[6].rfind("3 cycles: 2 completed, 1 failed; last failure: cycle 2 (refused): "
                             "the module refused the answer to \"RS\\r\"",
                             0),
              0u)
        << lines[6];
    EXPECT_NE(Errors().find("rvSize is 0"), std::string::npos) << "the module's lines aside";
}

TEST_F(EndToEnd, StartSaysTheVersionsOfTheHostAndOfTheModuleItRuns)
{
    StartSim(R"({"steps": [{"polls": 1}]})");
    Events events;
    ASSERT_EQ(RunHost(WriteConfig(1.0), 1, events), 0) << Errors();

    const Json::Value start = Of(events, "start").at(0);
    EXPECT_EQ(start["version"].asString(), QUILL_VERSION);
    EXPECT_EQ(start["module_version"].asString(), "quillmarups " QUILL_VERSION);
    EXPECT_NE(Errors().find("smdhost: version " QUILL_VERSION "; module quillmarups " QUILL_VERSION
                            "\nsmdhost: runs on the host library "),
              std::string::npos)
        << Errors();
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

TEST_F(EndToEnd, CachedBlockIsRepublishedAtStartSayingSoWithoutGrowingTheHistory)
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
    EXPECT_EQ(events[1]["stored_at"], Of(first, "block")[0]["block"]["time_stamp"]);
    EXPECT_EQ(events[2]["key"].asString(), "suf");
    for (const Json::Value& alarm : Of(events, "alarm")) {
        EXPECT_EQ(alarm["source"].asString(), "cache");
        EXPECT_EQ(alarm["change"].asString(), "restored") << "not raised anew";
    }
    EXPECT_EQ(History().size(), kBlockSize);
}

// A run that ends within a minute of going stale still tells why each cycle
// failed: the repeats on one line, the last reason in the summary.
TEST_F(EndToEnd, TextTellsRestoredAlarmsInEnglishTooEveryFailedCycleAndCountsInTheirNumber)
{
    StartSim(R"({"steps": [{"polls": 1, "flags": {"SUF": 1}},
                           {"name": "silent", "faults": {"silence": 1}}]})");
    const std::string config = WriteConfig(0.05);
    Events first;
    ASSERT_EQ(RunHost(config, 1, first), 0);

    Child host({QUILL_SMDHOST, "--config", config, "--cycles", "8", "--module-output", "/dev/null"},
               dir + "/smdhost.err");
    EXPECT_EQ(host.Wait(seconds(20)), 1);
    std::string text;
    for (auto said = host.ReadLine(seconds(1)); said; said = host.ReadLine(seconds(1))) {
        text += *said + "\n";
    }
    const std::string why = " (timeout): no complete answer to \"RS\\r\" within 0.05 s (0 bytes "
                            "received; is another program reading the port? fuser -v " +
                            line + " tells)\n";
    std::size_t at = 0;
    for (const std::string& said : std::vector<std::string>{
             "] alarm restored #3 suf 08001 市电掉电 (mains failure), on in the cached block\n",
             "] cycle 1 failed" + why, "] cycle 3 failed" + why, "] data stale: 3 cycles failed",
             "] cycles 4 to 8 failed the same way" + why,
             "] 8 cycles: 0 completed, 8 failed; data stale; last failure: cycle 8" + why}) {
        at = text.find(said, at);
        ASSERT_NE(at, std::string::npos) << said << "\n" << text;
    }
}

// The float of a stored block at a record offset.
float ValueAt(const std::string& block, std::size_t offset)
{
    float value = 0;
    std::memcpy(&value, block.data() + 4 + offset, sizeof(value));
    return value;
}

constexpr std::size_t kDvbtOffset = 49;

TEST_F(EndToEnd, HistoryPastItsLimitIsRotatedKeepingOnePredecessorOfWholeBlocks)
{
    StartSim(R"({"steps": [{"polls": 20, "values": {"DVBT": [50, 30]}}]})");
    Json::Value device;
    device[0]["data_id"] = kDataId;
    device[0]["history_max_bytes"] = static_cast<Json::UInt>(3 * kBlockSize + 40);
    Events events;
    ASSERT_EQ(RunHost(WriteConfig(1.0, device), 7, events), 0) << Errors();

    const Events rotated = Of(events, "rotated");
    ASSERT_EQ(rotated.size(), 2u);
    EXPECT_EQ(rotated[0]["kept_as"].asString(), state + "/42.history.1");
    EXPECT_EQ(rotated[0]["limit"].asUInt(), 3 * kBlockSize + 40);
    // Blocks 1-3, then 4-6 replaced them whole; block 7 began the new history.
    const std::string before = ReadFile(state + "/42.history.1");
    ASSERT_EQ(before.size(), 3 * kBlockSize);
    ASSERT_EQ(History().size(), kBlockSize);
    const Events blocks = Of(events, "block");
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_FLOAT_EQ(ValueAt(before.substr(i * kBlockSize, kBlockSize), kDvbtOffset),
                        blocks[3 + i]["block"]["values"]["DVBT"].asFloat());
    }
    EXPECT_FLOAT_EQ(ValueAt(History(), kDvbtOffset), blocks[6]["block"]["values"]["DVBT"].asFloat());
}

TEST_F(EndToEnd, CacheWithAnIntervalIsRewrittenForAFlagAtOnceNotForEachValueAndOnStop)
{
    StartSim(R"({"steps": [{"polls": 3, "values": {"DVBT": [54, 52]}},
                           {"name": "mains failure", "polls": 50, "flags": {"SUF": 1},
                            "values": {"DVBT": [51, 40]}}]})");
    Json::Value device;
    device[0]["data_id"] = kDataId;
    device[0]["cache_interval"] = 3600;
    const std::string config = WriteConfig(1.0, device);
    auto host = StartHost(config, "");
    Events events;
    do {
        ASSERT_TRUE(ReadUntil(*host, events, "block")) << Errors();
    } while (events.back()["cycle"].asUInt() < 6);
    host->Signal(SIGKILL);  // no end of run: the cache as the cycles left it
    host->Wait(seconds(10));
    const std::string history = History();
    ASSERT_GE(history.size(), 5 * kBlockSize);  // block 6 was published, maybe not stored
    EXPECT_EQ(ReadFile(state + "/42.cache"), history.substr(3 * kBlockSize, kBlockSize))
        << "block 4, the first with SUF 1; not 5 and on, whose DVBT alone changed";

    Events stopped;
    ASSERT_EQ(RunHost(config, 2, stopped, {"--no-cache"}), 0);
    EXPECT_EQ(ReadFile(state + "/42.cache"), History().substr(History().size() - kBlockSize))
        << "at the end of a run the cache takes the last block";
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

TEST_F(EndToEnd, SettingsTheModuleThrowsOnAreReportedWithTheDeviceAndTheKey)
{
    StartSim(R"({"steps": [{"name": "on line"}]})");
    Json::Value devices;
    devices[0]["data_id"] = 7;
    devices[0]["port"] = dir + "/ups-of-7";
    devices[0]["settings"] = ParseJson(
        R"({"appSetting": {"b_mode": 3}, "thresholdSetting": [{"Level": 1}]})");
    devices[1]["data_id"] = 8;
    Events events;
    EXPECT_EQ(RunHost(WriteConfig(1.0, devices), 2, events), 1);

    const Events errors = Of(events, "error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["data_id"].asUInt(), 7u);
    EXPECT_NE(errors[0]["detail"].asString().find("refused the settings"), std::string::npos);
    EXPECT_NE(errors[0]["detail"].asString().find("settings.thresholdSetting is a list"),
              std::string::npos)
        << errors[0]["detail"].asString();
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

    // A 32-bit MIPS header, as the board's build has.
    const std::string board = dir + "/board.so";
    std::ofstream(board, std::ios::binary)
        << std::string("\x7f" "ELF\x01\x01\x01", 7) << std::string(9, '\0')
        << std::string("\x03\0\x08\0", 4) << std::string(100, '\0');
    Child loaded({QUILL_SMDHOST, "--module", board, "--port", line, "--state-dir", dir},
                 dir + "/board.err");
    EXPECT_EQ(loaded.Wait(seconds(10)), 2);
    EXPECT_NE(ReadFile(dir + "/board.err")
                  .find("wrong ELF class: ELFCLASS32; " + board +
                        " is built for 32-bit little-endian MIPS (the board's build), this smdhost for "),
              std::string::npos)
        << ReadFile(dir + "/board.err");
}

// A script tells "could not start" by one status, whichever tool it ran.
TEST_F(EndToEnd, SimulatorThatCannotStartExitsWithTheStatusTheHostGivesForIt)
{
    const std::string missing = dir + "/missing.json";
    Child scenario({QUILL_UPSSIM, "--scenario", missing, "--link", line}, dir + "/upssim.err");
    EXPECT_EQ(scenario.Wait(seconds(10)), 2);
    EXPECT_NE(ReadFile(dir + "/upssim.err").find(missing), std::string::npos)
        << ReadFile(dir + "/upssim.err");

    Child port({QUILL_UPSSIM, "--port", dir + "/no-such-port"}, dir + "/port.err");
    EXPECT_EQ(port.Wait(seconds(10)), 2) << ReadFile(dir + "/port.err");
}

}  // namespace
