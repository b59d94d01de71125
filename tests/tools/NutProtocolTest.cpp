// The driver side of NUT's socket protocol without a socket: the words of a
// line, quoting, a UPS's state and the lines that tell its changes, and the
// mapping of a block to variables and status words.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/common/JsonKeys.h"
#include "tools/nut/Mapping.h"
#include "tools/nut/State.h"
#include "tools/nut/Words.h"

namespace {

using Words = std::optional<std::vector<std::string>>;

// ---- Words and quoting -----------------------------------------------------------------

TEST(NutWords, LinesSplitAsTheProtocolQuotesAndEscapesThem)
{
    const struct {
        const char* line;
        Words words;
    } kCases[] = {
        {"DUMPALL", std::vector<std::string>{"DUMPALL"}},
        {"  PING \t\r", std::vector<std::string>{"PING"}},
        {R"(SETINFO ups.status "OB LB")", std::vector<std::string>{"SETINFO", "ups.status", "OB LB"}},
        {R"(SET ups.id "Data \"room\" \\ 2")", std::vector<std::string>{"SET", "ups.id", "Data \"room\" \\ 2"}},
        {R"(INSTCMD a\ b c)", std::vector<std::string>{"INSTCMD", "a b", "c"}},
        {R"(SET x "")", std::vector<std::string>{"SET", "x", ""}},
        {R"(SET x "a#b" # a comment)", std::vector<std::string>{"SET", "x", "a#b"}},
        {R"(SET x a\#b)", std::vector<std::string>{"SET", "x", "a#b"}},
        {"# only a comment", std::vector<std::string>{}},
        {"", std::vector<std::string>{}},
        {R"(SET x "open)", std::nullopt},
        {R"(SET x ends\)", std::nullopt},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(nut::SplitWords(c.line), c.words) << c.line;
    }
}

TEST(NutWords, EveryValueQuotedReadsBackAsOneWordAndNewlinesCannotEndTheLine)
{
    for (const std::string value :
         {"230.5", "OB LB", "", "quote \" inside", "back\\slash", "hash # and \\#", "\"\"\\\\"}) {
        const auto words = nut::SplitWords("SETINFO x " + nut::Quoted(value));
        ASSERT_TRUE(words.has_value()) << value;
        EXPECT_EQ(*words, (std::vector<std::string>{"SETINFO", "x", value}));
    }
    const std::string quoted = nut::Quoted("two\nlines\r\x7f");
    EXPECT_EQ(quoted.find_first_of("\r\n\x7f"), std::string::npos) << quoted;
    EXPECT_EQ(nut::SplitWords("SET x " + quoted)->at(2), "two lines  ");
    EXPECT_EQ(nut::Word("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(nut::Word("/dev/serial/by-id/usb UPS"), "\"/dev/serial/by-id/usb UPS\"");
}

// ---- A UPS's state -----------------------------------------------------------------------

TEST(NutState, ChangesSendOnlyWhatChangedAndDumpsTellStalenessAtTheRightEnd)
{
    nut::UpsState state(nut::Variables{{"device.type", "ups"}});
    EXPECT_TRUE(state.IsStale());
    EXPECT_EQ(state.Dump(), "DATASTALE\nSETINFO device.type \"ups\"\nDUMPDONE\n");
    EXPECT_EQ(state.Stale(), "");  // stale from the start: said once, by the dump

    EXPECT_EQ(state.Change({{"device.type", "ups"}, {"ups.status", "OB"}, {"ups.alarm", "UPS fault"}}),
              "SETINFO ups.alarm \"UPS fault\"\nSETINFO ups.status \"OB\"\n");
    EXPECT_EQ(state.Ok(), "DATAOK\n");
    EXPECT_EQ(state.Ok(), "DATAOK\n");  // after every completed cycle
    EXPECT_EQ(state.Change({{"device.type", "ups"}, {"ups.status", "OL"}}),
              "SETINFO ups.status \"OL\"\nDELINFO ups.alarm\n");
    EXPECT_EQ(state.Change(state.Values()), "");
    EXPECT_EQ(state.Dump(),
              "SETINFO device.type \"ups\"\nSETINFO ups.status \"OL\"\nDATAOK\nDUMPDONE\n");
    EXPECT_EQ(state.Stale(), "DATASTALE\n");
    EXPECT_EQ(state.Stale(), "");
    EXPECT_EQ(state.Dump().rfind("DATASTALE\n", 0), 0u);
}

// ---- A block as NUT's variables ------------------------------------------------------------

// A block with the flags set by tag (SOK SBP SUF SBL SBM).
data_block::Decoded Block(std::vector<std::string> set, float dvia = 230.5f)
{
    data_block::Decoded block;
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        for (const std::string& tag : set) {
            block.flags[i] |= tag == ups_protocol::kStatusFields[i].tag ? 1 : 0;
        }
    }
    block.values.fill(1.0f);
    block.values[0] = dvia;
    return block;
}

TEST(NutMapping, DefaultStatusWordsFollowTheFlagsWithOlOrObFirst)
{
    const struct {
        std::vector<std::string> flags;
        const char* status;
        const char* alarm;  // "" when ups.alarm is left out
    } kCases[] = {
        {{}, "OL", ""},
        {{"SUF"}, "OB", ""},
        {{"SBM"}, "OB", ""},
        {{"SUF", "SBM", "SBL"}, "OB LB", ""},
        {{"SBL"}, "OL LB", ""},
        {{"SBP"}, "OL BYPASS", ""},
        {{"SOK"}, "OL ALARM", "UPS fault"},
        {{"SOK", "SBP", "SUF", "SBL", "SBM"}, "OB LB BYPASS ALARM", "UPS fault"},
    };
    const nut::DeviceSettings settings = nut::DefaultSettings();
    for (const auto& c : kCases) {
        const auto variables = nut::BlockVariables(settings, {{"ups.id", "7"}}, Block(c.flags));
        EXPECT_EQ(variables.at("ups.status"), c.status) << ::testing::PrintToString(c.flags);
        EXPECT_EQ(variables.count("ups.alarm") ? variables.at("ups.alarm") : "", c.alarm);
        EXPECT_EQ(variables.at("ups.id"), "7");
    }
}

TEST(NutMapping, ConfiguredWordsRemapOrSwitchOffEachFlag)
{
    const nut::DeviceSettings settings = nut::ReadSettings(
        json_keys::Parse("test", R"({"status": {"SBL": "", "SBM": "DISCHRG", "SBP": "BYPASS ALARM"}})"),
        "device 1");
    const auto status = [&](std::vector<std::string> flags) {
        return nut::BlockVariables(settings, {}, Block(flags));
    };
    EXPECT_EQ(status({"SBL"}).at("ups.status"), "OL");
    EXPECT_EQ(status({"SBM"}).at("ups.status"), "OL DISCHRG");
    EXPECT_EQ(status({"SUF", "SBM"}).at("ups.status"), "OB DISCHRG");
    EXPECT_EQ(status({"SBP", "SOK"}).at("ups.status"), "OL BYPASS ALARM");
    EXPECT_EQ(status({"SBP", "SOK"}).at("ups.alarm"), "UPS fault, supply by bypass");
}

TEST(NutMapping, ValuesTakeNutNamesAsTheShortestDecimalOfTheirFloat)
{
    nut::DeviceSettings settings = nut::ReadSettings(
        json_keys::Parse("test", R"({"names": {"DLOA": "output.L1.power.percent", "DVBN": ""},
                                     "mfr": "Maker", "model": "M 3"})"),
        "device 1");
    const nut::Variables fixed = nut::FixedVariables(settings, {1001, "/dev/ttyUSB0", 2.0});
    const nut::Variables variables = nut::BlockVariables(settings, fixed, Block({}, 229.8f));
    EXPECT_EQ(variables.at("input.L1-N.voltage"), "229.8");
    EXPECT_EQ(variables.at("output.L3-N.voltage"), "1");
    EXPECT_EQ(variables.at("battery.voltage"), "1");
    EXPECT_EQ(variables.at("ups.temperature"), "1");
    EXPECT_EQ(variables.at("output.L1.power.percent"), "1");
    EXPECT_EQ(variables.count("experimental.load.dloa"), 0u);
    EXPECT_EQ(variables.count("experimental.battery.dvbn"), 0u);
    EXPECT_EQ(variables.at("device.mfr"), "Maker");
    EXPECT_EQ(variables.at("device.model"), "M 3");
    EXPECT_EQ(variables.at("driver.name"), "smdhost");
    EXPECT_EQ(variables.at("driver.parameter.pollinterval"), "2");
    EXPECT_EQ(variables.at("ups.id"), "1001");
    EXPECT_EQ(variables.at("ups.load"), "1") << "the one phase load named in percent";
    // Fixed 6, the phases 2, status 1, 14 values, mfr and model as ups.* and device.*, ups.load.
    EXPECT_EQ(variables.size(), 6u + 2u + 1u + 14u + 4u + 1u);
}

std::string Refusal(const std::string& nut)
{
    try {
        nut::ReadSettings(json_keys::Parse("test", nut), "device 2");
    } catch (const json_keys::Mistake& mistake) {
        return mistake.what();
    }
    return "accepted";
}

TEST(NutMapping, SettingsNutCannotTakeAreRefusedByName)
{
    const struct {
        const char* nut;
        const char* said;
    } kCases[] = {
        {R"({"staus": {}})", "device 2, nut: unknown key \"staus\"; did you mean \"status\"?"},
        {R"({"status": {"SLB": "LB"}})", "device 2, nut.status: unknown key \"SLB\"; did you mean \"SBL\"?"},
        {R"({"status": {"SBL": "LOWBATT"}})", "\"SBL\": \"LOWBATT\" is no status word a flag may give"},
        {R"({"status": {"SBL": "OL"}})", "\"SBL\": \"OL\" is no status word a flag may give; did you mean \"OB\"?"},
        {R"({"status": {"SBL": 1}})", "\"SBL\" is a text of status words"},
        {R"({"names": {"DVIA": "input voltage"}})", "\"DVIA\": \"input voltage\" is no NUT variable name"},
        {R"({"names": {"DVIA": "ups.status"}})", "\"DVIA\": \"ups.status\" is the host's own variable"},
        {R"({"names": {"DVIA": "battery.voltage"}})", "\"battery.voltage\" names two values"},
        {R"({"names": {"DVIX": "a"}})", "unknown key \"DVIX\"; did you mean"},
        {R"({"mfr": 3})", "\"mfr\" is a text, not a whole number"},
        {R"([])", "device 2: \"nut\" is an object, not a list"},
        {R"({"names": {"DHZF": "input.frequncy"}})", "\"DHZF\": \"input.frequncy\" is no variable NUT knows; did you mean \"input.frequency\"?"},
        {R"({"names": {"DVBT": "driver.flag.x"}})", "is the host's own variable"},
        {R"({"default": {"battery.voltage.hihg": 54}})", "did you mean \"battery.voltage.high\"?"},
        {R"({"override": {"ups.alarm": "x"}})", "\"ups.alarm\" is the host's own variable"},
        {R"({"override": {"ups.model": true}})", "\"ups.model\" is a text or a number"},
        {R"({"default": []})", "\"default\" is an object of variables"},
        {R"({"default": {"battery.voltage.high": "54,6"}})", "battery.voltage.high is \"54,6\", not a number of volts"},
        {R"({"default": {"battery.voltage.high": 42, "battery.voltage.low": 54.6}})",
         "battery.voltage.high (42) is not above battery.voltage.low (54.6)"},
    };
    for (const auto& c : kCases) {
        EXPECT_NE(Refusal(c.nut).find(c.said), std::string::npos) << c.nut << ": " << Refusal(c.nut);
    }
}

TEST(NutMapping, UpsNamesNutCannotTakeAreToldWhy)
{
    for (const char* good : {"ups-1001", "room_a.ups", "UPS2"}) {
        EXPECT_EQ(nut::UpsNameProblem(good), "") << good;
    }
    for (const char* bad : {"", "ups room", "ups@host", "a:b", "default", "ups/1", "-ups"}) {
        EXPECT_NE(nut::UpsNameProblem(bad), "") << bad;
    }
    EXPECT_EQ(nut::UpsConfSection("ups-1", {{"port", "/dev/tty USB0"}, {"data_id", "7"}}),
              "[ups-1]\n\tdriver = smdhost\n\tport = \"/dev/tty USB0\"\n\tdata_id = 7\n");
}

}  // namespace
