// What NUT's clients see besides the values: the variables served always,
// default.VAR and override.VAR as NUT's drivers apply them, battery.charge and
// ups.load where they can be told, values that are no numbers left out, and
// names checked against NUT's list.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "tools/common/JsonKeys.h"
#include "tools/nut/Mapping.h"
#include "tools/nut/VariableNames.h"

namespace {

// The tag's index among the values (DVIA .. DVBL).
std::size_t Value(const std::string& tag)
{
    for (std::size_t i = 0; i < data_block::kValues; ++i) {
        if (data_block::ValueFields()[i]->tag == tag) {
            return i;
        }
    }
    return data_block::kValues;
}

nut::DeviceSettings Settings(const std::string& nut)
{
    return nut::ReadSettings(json_keys::Parse("test", nut), "device 1");
}

// The variables of a block whose values are all 1 but those given.
nut::Variables Shown(const nut::DeviceSettings& settings,
                     const std::vector<std::pair<const char*, float>>& values = {},
                     const nut::Identity& identity = {})
{
    data_block::Decoded block;
    block.values.fill(1.0f);
    for (const auto& [tag, value] : values) {
        block.values[Value(tag)] = value;
    }
    return nut::BlockVariables(settings, nut::FixedVariables(settings, identity), block);
}

std::string At(const nut::Variables& variables, const std::string& name)
{
    const auto found = variables.find(name);
    return found == variables.end() ? "(none)" : found->second;
}

TEST(NutVariables, MakerModelPhasesDescriptionAndParametersAreServedAlways)
{
    nut::Identity identity{1001, "/dev/ttyUSB0", 2.0};
    identity.description = "Server room";
    identity.parameters = {{"driver", "smdhost", "", ""},    {"port", "/dev/ttyUSB0", "", ""},
                           {"module", "/lib/q.so", "", ""}, {"nolock", std::nullopt, "", ""},
                           {"desc", "Server room", "", ""}, {"override.ups.mfr", "M", "", ""}};
    const nut::Variables shown = Shown(nut::DefaultSettings(), {}, identity);
    EXPECT_EQ(At(shown, "ups.mfr"), "unknown");
    EXPECT_EQ(At(shown, "device.model"), "unknown");
    EXPECT_EQ(At(shown, "input.phases"), "3");
    EXPECT_EQ(At(shown, "output.phases"), "3");
    EXPECT_EQ(At(shown, "device.description"), "Server room");
    EXPECT_EQ(At(shown, "driver.parameter.module"), "/lib/q.so");
    EXPECT_EQ(At(shown, "driver.flag.nolock"), "enabled");
    EXPECT_EQ(At(shown, "driver.parameter.port"), "/dev/ttyUSB0");
    for (const char* hidden : {"driver.parameter.driver", "driver.parameter.desc",
                               "driver.parameter.override.ups.mfr"}) {
        EXPECT_EQ(shown.count(hidden), 0u) << hidden;
    }
}

TEST(NutVariables, DefaultsFillWhatTheDriverLeavesAndOverridesReplaceWhatItGives)
{
    const nut::DeviceSettings settings = Settings(R"({"mfr": "Maker", "model": "M 3",
        "default": {"battery.voltage": 1, "battery.charge.low": 20, "ups.model": "D", "device.mfr": "D"},
        "override": {"ups.temperature": "30.5", "device.model": "Rack 7"}})");
    const nut::Variables shown = Shown(settings, {{"DVBT", 54.5f}, {"DTMP", 28.5f}});
    const struct {
        const char* name;
        const char* value;
    } kCases[] = {
        {"battery.voltage", "54.5"},     // the block's value over the default
        {"battery.charge.low", "20"},    // a default where the driver gives nothing
        {"ups.temperature", "30.5"},     // an override over the block's value
        {"ups.model", "M 3"},            // the settings' model over the default
        {"device.model", "Rack 7"},      // an override over the settings' model
        {"ups.mfr", "Maker"},
        {"device.mfr", "Maker"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(At(shown, c.name), c.value) << c.name;
    }
    EXPECT_EQ(At(Shown(Settings(R"({"default": {"device.mfr": "D"}})")), "ups.mfr"), "D")
        << "one of ups.mfr and device.mfr tells the other";
}

TEST(NutVariables, BatteryChargeIsLinearBetweenTheGivenVoltagesAndHeldWithinThem)
{
    const nut::DeviceSettings settings =
        Settings(R"({"default": {"battery.voltage.high": 54.6}, "override": {"battery.voltage.low": "42"}})");
    const struct {
        float volts;
        const char* charge;
    } kCases[] = {
        {54.6f, "100"}, {48.3f, "50"}, {42.0f, "0"}, {40.0f, "0"}, {60.0f, "100"}, {45.15f, "25"},
        {std::nanf(""), "(none)"}, {std::numeric_limits<float>::infinity(), "(none)"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(At(Shown(settings, {{"DVBT", c.volts}}), "battery.charge"), c.charge) << c.volts;
    }
    EXPECT_EQ(At(Shown(nut::DefaultSettings(), {{"DVBT", 50.0f}}), "battery.charge"), "(none)")
        << "no charge without both voltages";
    const nut::DeviceSettings named = Settings(R"({"names": {"DTMB": "battery.charge"},
        "default": {"battery.voltage.high": 54.6, "battery.voltage.low": 42}})");
    EXPECT_EQ(At(Shown(named, {{"DTMB", 87.0f}, {"DVBT", 42.0f}}), "battery.charge"), "87")
        << "the UPS's own charge over the estimate";
}

TEST(NutVariables, UpsLoadIsTheHighestPhaseLoadWhereTheLoadsAreNamedInPercent)
{
    const nut::DeviceSettings percent = Settings(R"({"names": {"DLOA": "output.L1.power.percent",
        "DLOB": "output.L2.power.percent", "DLOC": "output.L3.power.percent"}})");
    EXPECT_EQ(At(Shown(percent, {{"DLOA", 35.0f}, {"DLOB", 36.5f}, {"DLOC", 34.0f}}), "ups.load"), "36.5");
    EXPECT_EQ(At(Shown(percent, {{"DLOA", 35.0f}, {"DLOB", std::nanf("")}, {"DLOC", 34.0f}}), "ups.load"), "35");
    EXPECT_EQ(At(Shown(nut::DefaultSettings(), {{"DLOA", 35.0f}}), "ups.load"), "(none)")
        << "loads of unknown unit tell no ups.load";
    EXPECT_EQ(At(Shown(Settings(R"({"names": {"DLOA": "output.L1.current"}})")), "ups.load"), "(none)");
}

TEST(NutVariables, ValuesThatAreNoNumbersAreLeftOutNeverServedAsNan)
{
    const nut::Variables shown = Shown(nut::DefaultSettings(),
                                       {{"DVIA", std::nanf("")},
                                        {"DVIB", std::numeric_limits<float>::infinity()},
                                        {"DVIC", -std::numeric_limits<float>::infinity()}});
    for (const char* name : {"input.L1-N.voltage", "input.L2-N.voltage", "input.L3-N.voltage"}) {
        EXPECT_EQ(shown.count(name), 0u) << name;
    }
    EXPECT_EQ(At(shown, "output.L1-N.voltage"), "1");
}

TEST(NutVariables, NutsTableOfDescriptionsAddsToTheBuiltInNames)
{
    const nut::VariableNames names("# comment\nVARDESC ups.newthing \"A new thing\"\n"
                                   "CMDDESC load.off \"Turn off the load\"\n");
    EXPECT_TRUE(names.Knows("ups.newthing"));
    EXPECT_FALSE(names.Knows("load.off")) << "a command is no variable";
    for (const char* known : {"input.L2-N.voltage", "output.bypass.L3.current", "battery.charge",
                              "ups.load", "input.frequency", "device.model", "experimental.a.b"}) {
        EXPECT_TRUE(names.Knows(known)) << known;
    }
    EXPECT_NE(names.Problem("ups.lod").find("did you mean \"ups.load\"?"), std::string::npos);
    EXPECT_NE(names.Problem("zzzzzzzzzzzzzz").find("a name outside NUT's list starts with experimental."),
              std::string::npos);
}

}  // namespace
