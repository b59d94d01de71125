// ups.conf as NUT's drivers read it, and the driver's parameters from a
// section, the global lines and -x: what is taken, what holds over what, and
// what is refused with the line and the nearest name.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tools/nut/DriverConfig.h"
#include "tools/nut/UpsConf.h"

namespace {

using namespace std::chrono_literals;

// What a text reads as, or the message of its refusal.
std::string Refusal(const std::string& text)
{
    try {
        nut::ParseUpsConf("/etc/nut/ups.conf", text);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "accepted";
}

// ---- NUT's syntax --------------------------------------------------------------------------

TEST(NutUpsConf, SectionsFlagsQuotesEscapesAndCommentsReadAsNutReadsThem)
{
    const nut::UpsConfFile file = nut::ParseUpsConf("/etc/nut/ups.conf", R"(# made by hand
maxretry = 3
pollinterval=5
[ups-a]
	driver = smdhost   # a comment after a value
	port = "/dev/serial/by-id/usb UPS"
	desc = "Room \"A\" #1"
	nolock
	override.ups.model = Rack\ 7
	settings = "a \
b"
[ups-b]
	driver = usbhid-ups
)");
    ASSERT_EQ(file.globals.size(), 2u);
    EXPECT_EQ(file.globals[1].key, "pollinterval");
    EXPECT_EQ(file.globals[1].value, std::optional<std::string>("5"));
    ASSERT_EQ(file.sections.size(), 2u);
    const nut::UpsSection& a = file.sections[0];
    EXPECT_EQ(a.name, "ups-a");
    EXPECT_EQ(a.where, "/etc/nut/ups.conf:4");
    const std::vector<std::pair<std::string, std::optional<std::string>>> kParameters = {
        {"driver", "smdhost"},           {"port", "/dev/serial/by-id/usb UPS"},
        {"desc", "Room \"A\" #1"},       {"nolock", std::nullopt},
        {"override.ups.model", "Rack 7"}, {"settings", "a b"}};
    ASSERT_EQ(a.parameters.size(), kParameters.size());
    for (std::size_t i = 0; i < kParameters.size(); ++i) {
        EXPECT_EQ(a.parameters[i].key, kParameters[i].first);
        EXPECT_EQ(a.parameters[i].value, kParameters[i].second) << a.parameters[i].key;
        EXPECT_EQ(a.parameters[i].problem, "") << a.parameters[i].key;
    }
    EXPECT_EQ(a.parameters[5].where, "/etc/nut/ups.conf:10") << "a joined line counts from its start";
    EXPECT_EQ(file.sections[1].parameters[0].where, "/etc/nut/ups.conf:13");
}

TEST(NutUpsConf, WhatMakesTheFileUnreadableIsRefusedWithItsLine)
{
    const struct {
        const char* text;
        const char* said;
    } kCases[] = {
        {"[ups]\n desc = \"open\n port = x\n", "ups.conf:2: the quote opened here is not closed"},
        {"[my ups]\n", "ups.conf:1: a section starts with its UPS name in brackets"},
        {"[]\n", "ups.conf:1: a section starts with its UPS name in brackets"},
        {"[ups] port = x\n", "ups.conf:1: a section starts"},
        {"[ups]\n desc = a\x01" "b\n", "ups.conf:2: a control character (0x01)"},
        {"[ups]\n desc = a\\", "ups.conf:2: the file ends in a backslash"},
    };
    for (const auto& c : kCases) {
        EXPECT_NE(Refusal(c.text).find(c.said), std::string::npos) << c.text << ": " << Refusal(c.text);
    }
}

TEST(NutUpsConf, LinesThatAreNoParameterKeepTheirProblemForTheSectionThatReadsThem)
{
    const nut::UpsConfFile file =
        nut::ParseUpsConf("ups.conf", "[ups]\n port =\n desc = a b\n port x\n = x\n");
    const std::vector<std::string> kProblems = {
        "port = has no value", "desc has more than one word after =; quote a value",
        "\"port\" is followed by \"x\" where = is read", "a line starts with ="};
    ASSERT_EQ(file.sections[0].parameters.size(), kProblems.size());
    for (std::size_t i = 0; i < kProblems.size(); ++i) {
        EXPECT_NE(file.sections[0].parameters[i].problem.find(kProblems[i]), std::string::npos)
            << file.sections[0].parameters[i].problem;
    }
}

// ---- The driver's parameters -----------------------------------------------------------------

const char* const kConf = R"(pollinterval = 5
user = root
[ups-a]
	driver = smdhost
	port = /dev/ttyUSB0
	data_id = 1001
	answer_timeout = 1.5
	module = lib/quillmarups.so
	settings = /etc/smdhost/ups-a.json
	state_dir = /var/lib/smdhost/a
	history_max_bytes = 1000000
	cache_interval = 0
	desc = "Server room"
	group = nutgroup
	nolock
	sdorder = 1
	default.battery.voltage.high = 54.6
	override.ups.mfr = Maker
)";

nut::DriverConfig Read(const std::string& text, const std::vector<std::string>& extra = {},
                       const std::string& ups = "ups-a")
{
    return nut::ReadDriverConfig(nut::ParseUpsConf("/etc/nut/ups.conf", text), ups, extra);
}

TEST(NutDriverConfig, SectionGlobalLinesAndCommandLineEachHoldInTurn)
{
    const nut::DriverConfig config = Read(kConf, {"pollinterval=0.5", "desc=from -x"});
    EXPECT_EQ(config.port, "/dev/ttyUSB0");
    EXPECT_EQ(config.data_id, 1001u);
    EXPECT_EQ(config.poll_interval, 500ms);
    EXPECT_EQ(config.answer_timeout, 1500ms);
    EXPECT_EQ(config.module, "/etc/nut/lib/quillmarups.so") << "taken from the file's folder";
    EXPECT_EQ(config.settings, "/etc/smdhost/ups-a.json");
    EXPECT_EQ(config.state_dir, "/var/lib/smdhost/a");
    EXPECT_EQ(config.history_max_bytes, 1000000u);
    EXPECT_EQ(config.cache_interval, 0ms) << "0: every block";
    EXPECT_FALSE(Read("[ups-a]\n driver = smdhost\n port = x\n data_id = 1\n", {}).history_max_bytes)
        << "left to the bench host's own default";
    EXPECT_EQ(config.description, "from -x");
    EXPECT_EQ(config.user, "root") << "a global line reaches the section";
    EXPECT_EQ(config.group, "nutgroup");
    EXPECT_TRUE(config.nolock);
    EXPECT_EQ(config.defaults, (nut::Variables{{"battery.voltage.high", "54.6"}}));
    EXPECT_EQ(config.overrides, (nut::Variables{{"ups.mfr", "Maker"}}));
    ASSERT_EQ(config.given.front().key, "pollinterval");
    EXPECT_EQ(config.given.front().where, "-x pollinterval=0.5");

    EXPECT_EQ(Read(kConf).poll_interval, 5s) << "the global line, when nothing else says it";
    const nut::Identity identity = nut::IdentityOf(Read(kConf));
    EXPECT_EQ(identity.poll_seconds, 5.0);
    EXPECT_EQ(identity.description, "Server room");
}

TEST(NutDriverConfig, ParametersThisDriverDoesNotTakeAreRefusedWithTheLineAndTheNearest)
{
    const std::string head = "[ups-a]\n driver = smdhost\n port = /dev/ttyS0\n data_id = 1\n";
    const struct {
        std::string text;
        std::vector<std::string> extra;
        const char* said;
    } kCases[] = {
        {head + " pollintervall = 5\n", {}, "ups.conf:5: \"pollintervall\" is no parameter of this driver; did you mean \"pollinterval\"?"},
        {head + " ignorelb\n", {}, "ignorelb: this driver takes low battery from the UPS's SBL flag"},
        {head + " pollinterval = 0\n", {}, "pollinterval is a number of seconds above 0 to 86400, not \"0\""},
        {head + " answer_timeout = soon\n", {}, "answer_timeout is a number of seconds above 0"},
        {head + " history_max_bytes = 1e6\n", {}, "history_max_bytes is 0 (no limit) or a whole number of bytes from 76 (one block) to 1099511627776, not \"1e6\""},
        {head + " cache_interval = -1\n", {}, "cache_interval is a number of seconds above 0 to 86400"},
        {head + " override.input.frequncy = 50\n", {}, "\"input.frequncy\" is no variable NUT knows; did you mean \"input.frequency\"?"},
        {head + " default.ups.status = OL\n", {}, "\"ups.status\" is the host's own variable"},
        {head + " override. = 1\n", {}, "override. names no variable"},
        {head + " port = /dev/ttyS1\n", {}, "ups.conf:5: port is given twice"},
        {head + " desc = a b\n", {}, "ups.conf:5: desc has more than one word after ="},
        {head + " module\n", {}, "module needs a value"},
        {head, {"pollintervall=2"}, "-x pollintervall=2: \"pollintervall\" is no parameter"},
        {head, {"=5"}, "-x =5: -x takes KEY=VALUE"},
        {"[ups-a]\n driver = usbhid-ups\n port = auto\n data_id = 1\n", {}, "[ups-a] is for the driver usbhid-ups, not for smdhost"},
        {"[ups-a]\n driver = smdhost\n port = /dev/ttyS0\n", {}, "ups.conf:1: [ups-a] has no data_id: give data_id = 1001"},
        {"[ups-a]\n driver = smdhost\n data_id = -1\n port = x\n", {}, "data_id is a whole number from 0 to 4294967295, not \"-1\""},
        {"[ups-b]\n", {}, "/etc/nut/ups.conf has no section [ups-a]; did you mean [ups-b]?"},
        {head + "[ups-a]\n", {}, "ups.conf:5: [ups-a] again (first at /etc/nut/ups.conf:1)"},
    };
    for (const auto& c : kCases) {
        std::string said = "accepted";
        try {
            Read(c.text, c.extra);
        } catch (const std::runtime_error& error) {
            said = error.what();
        }
        EXPECT_NE(said.find(c.said), std::string::npos) << c.text << ": " << said;
    }
    EXPECT_THROW(Read("[-ups]\n", {}, "-ups"), std::runtime_error) << "a name that reads as an option";
}

TEST(NutDriverConfig, UpsConfDefaultsAndOverridesHoldOverTheJsonSettings)
{
    nut::DeviceSettings json = nut::DefaultSettings();
    json.overrides = {{"ups.mfr", "json"}, {"ups.model", "json"}};
    const nut::DeviceSettings settings = nut::WithDriverConfig(json, Read(kConf));
    EXPECT_EQ(settings.overrides.at("ups.mfr"), "Maker");
    EXPECT_EQ(settings.overrides.at("ups.model"), "json");
    EXPECT_EQ(settings.defaults.at("battery.voltage.high"), "54.6");

    json.defaults = {{"battery.voltage.low", "60"}};
    EXPECT_THROW(nut::WithDriverConfig(json, Read(kConf)), std::runtime_error)
        << "high (54.6) not above low (60): no charge can be told";
}

}  // namespace
