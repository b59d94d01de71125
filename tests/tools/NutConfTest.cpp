// ups.conf as NUT's drivers read it, and the driver's parameters from a
// section, the global lines and -x: what is taken, what holds over what, and
// what is refused with the line and the nearest name.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

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

}  // namespace
