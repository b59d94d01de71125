// The bench host's configuration file.
#include <filesystem>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <json/reader.h>

#include "tools/common/CommandLine.h"
#include "tools/common/JsonKeys.h"
#include "tools/smdhost/BenchConfig.h"
#include "tools/smdhost/HostOptions.h"
#include "tests/e2e/ErrorText.h"

#ifndef QUILL_SOURCE_DIR
#error "QUILL_SOURCE_DIR names the checkout"
#endif

namespace {

Json::Value ParseJson(const std::string& text)
{
    Json::CharReaderBuilder builder;
    Json::Value root;
    std::string errors;
    std::istringstream stream(text);
    EXPECT_TRUE(Json::parseFromStream(builder, stream, &root, &errors)) << errors;
    return root;
}

BenchConfig Parse(const std::string& text) { return ParseBenchConfig(ParseJson(text)); }

std::string ErrorOf(const std::string& text) { return ErrorText(Parse, text); }

TEST(BenchConfig, DeviceTakesItsSettingsAndDefaultsTheRest)
{
    const BenchConfig config = Parse(R"({"module": "m.so", "devices": [
        {"data_id": 7, "port": "/dev/ttyUSB0",
         "settings": {"appSetting": {"b_mode": 3}}},
        {"data_id": 8, "port": "/dev/ttyUSB1", "name": "room b",
         "poll_interval": 0.25, "answer_timeout": 1.5}]})");
    EXPECT_EQ(config.module, "m.so");
    EXPECT_EQ(config.state_dir, "smdhost-state");
    ASSERT_EQ(config.devices.size(), 2u);
    const DeviceConfig& first = config.devices[0];
    EXPECT_EQ(first.name, "ups-7");
    EXPECT_EQ(first.data_id, 7u);
    EXPECT_EQ(first.settings["appSetting"]["b_mode"].asInt(), 3);
    EXPECT_EQ(first.poll_interval.count(), 2000);
    EXPECT_EQ(first.answer_timeout.count(), 3000);
    EXPECT_EQ(config.devices[1].name, "room b");
    EXPECT_EQ(config.devices[1].poll_interval.count(), 250);
    EXPECT_EQ(config.devices[1].answer_timeout.count(), 1500);
}

TEST(BenchConfig, MistakesAreNamedWithTheirDevice)
{
    const std::string start = R"({"devices": [{"data_id": 1, "port": "p"}, )";
    EXPECT_NE(ErrorOf(start + R"({"port": "q"}]})").find("device 2: \"data_id\""),
              std::string::npos);
    EXPECT_NE(ErrorOf(start + R"({"data_id": 2}]})").find("\"port\""), std::string::npos);
    EXPECT_NE(ErrorOf(start + R"({"data_id": 1, "port": "q"}]})").find("used twice"),
              std::string::npos);
    EXPECT_NE(ErrorOf(start + R"({"data_id": 2, "port": "q", "answer_timeout": 0}]})")
                  .find("answer_timeout"),
              std::string::npos);
    EXPECT_NE(ErrorOf(R"({"devices": []})"), "no error");
}

TEST(BenchConfig, NutFolderAndEachDevicesNutSettingsAreReadAndTheirMistakesNamed)
{
    const BenchConfig config = Parse(R"({"nut_dir": "/run/nut", "devices": [
        {"data_id": 7, "port": "p", "nut": {"model": "M", "status": {"SBL": ""}}},
        {"data_id": 8, "port": "q"}]})");
    EXPECT_EQ(config.nut_dir, "/run/nut");
    EXPECT_EQ(config.devices[0].nut.model, "M");
    EXPECT_TRUE(config.devices[0].nut.status[3].empty());  // SBL switched off
    EXPECT_EQ(config.devices[1].nut.status[3], std::vector<std::string>{"LB"});
    EXPECT_NE(ErrorOf(R"({"devices": [{"data_id": 1, "port": "p", "nut": {"status": {"SBX": "LB"}}}]})")
                  .find("device 1, nut.status: unknown key \"SBX\""),
              std::string::npos);
    EXPECT_NE(ErrorOf(R"({"nut_dri": "x", "devices": [{"data_id": 1, "port": "p"}]})")
                  .find("did you mean \"nut_dir\"?"),
              std::string::npos);
}

TEST(BenchConfig, RangeMessagesStateTheRange)
{
    const std::string range = "\"data_id\" is a whole number from 0 to 4294967295, not ";
    EXPECT_EQ(ErrorOf(R"({"devices": [{"data_id": -5, "port": "p"}]})"),
              "device 1: " + range + "-5");
    EXPECT_EQ(ErrorOf(R"({"devices": [{"data_id": 4294967296, "port": "p"}]})"),
              "device 1: " + range + "4294967296");
    EXPECT_EQ(ErrorOf(R"({"devices": [{"data_id": 1.5, "port": "p"}]})"),
              "device 1: " + range + "1.5");
    EXPECT_EQ(ErrorOf(R"({"devices": [{"data_id": true, "port": "p"}]})"),
              "device 1: " + range + "true or false");
}

// What a file that is no configuration at all is refused with: its name and
// place, and what is wrong, never jsoncpp's words alone.
TEST(BenchConfig, TextsThatAreNoJsonAreRefusedWithThePlaceAndTheReason)
{
    std::mt19937 draw(76);
    std::string random(300, '\0');
    for (char& byte : random) {
        byte = static_cast<char>(draw());
    }
    const std::pair<std::string, std::string> refusals[] = {
        {"{\"devices\": " + std::string(100, '[') + std::string(100, ']') + "}",
         "site.json:1:76: lists and objects nested more than 64 deep"},
        {R"({"devices": [{"data_id": 1e400, "port": "p"}]})",
         "site.json:1:26: 1e400 is out of range: a number is at most about 1.8e308 either "
         "side of 0"},
        {random, "site.json:1:"},
        {"{\"devices\": [] /* 机房 b */}", "site.json:1:16: a comment; JSON has none"},
        {"{\"module\": \"a\" / \"b\"}", "site.json:1:16: a ',' or '}' is missing before / \"b\"}"},
    };
    for (const auto& [text, said] : refusals) {
        const std::string error = ErrorText(
            [](const std::string& json) {
                json_keys::ParseWith("site.json", json, ParseBenchConfig);
            },
            text);
        EXPECT_EQ(error.rfind(said, 0), 0u) << error;
    }
    const auto parse = [](const std::string& json) { json_keys::Parse("site.json", json); };
    EXPECT_NE(ErrorText(parse, random).find(": not JSON text: the byte 0x"), std::string::npos);
}

// The host-level keys of a device and of the top, each at the default the
// manual page gives it, read as if it were not given.
TEST(BenchConfig, EveryKeyIsOnTheManualPageWithTheDefaultTheReaderTakes)
{
    const std::string page = command_line::ManualPage(HostProgram());
    for (const json_keys::KeyTable& table : ConfigurationKeys()) {
        for (const json_keys::Key& key : table.keys) {
            EXPECT_NE(page.find(".TP\n\\fB" + key.name + "\\fR\n"), std::string::npos) << key.name;
        }
    }
    const auto shown = [](const BenchConfig& config) {
        const DeviceConfig& device = config.devices.at(0);
        return config.module + "|" + config.state_dir + "|" + config.nut_dir + "|" + device.name +
               "|" + device.settings.toStyledString() + "|" +
               std::to_string(device.poll_interval.count()) + "|" +
               std::to_string(device.answer_timeout.count()) + "|" +
               std::to_string(device.cache_interval.count()) + "|" +
               std::to_string(device.history_max_bytes) + "|" + device.nut.model;
    };
    const std::string bare = R"({"devices": [{"data_id": 7, "port": "p"}]})";
    const std::string without = shown(Parse(bare));
    for (std::size_t level = 0; level < 2; ++level) {
        for (const json_keys::Key& key : ConfigurationKeys()[level].keys) {
            Json::Value fallback;
            if (key.fallback.empty() ||
                !Json::Reader().parse(key.fallback, fallback, false)) {
                continue;
            }
            Json::Value root = ParseJson(bare);
            (level == 0 ? root : root["devices"][0])[key.name] = fallback;
            EXPECT_EQ(shown(ParseBenchConfig(root)), without) << key.name << " = " << key.fallback;
        }
    }
}

TEST(BenchConfig, ShippedExamplesAreValidAndFindTheBuiltModuleFromTheirFolder)
{
    const std::filesystem::path top(QUILL_SOURCE_DIR);
    for (const char* name : {"demo.json", "usb-ups.json"}) {
        const std::string path = (top / "tools/smdhost/examples" / name).string();
        BenchConfig config;
        ASSERT_NO_THROW(config = LoadBenchConfig(path)) << name;
        EXPECT_EQ(std::filesystem::weakly_canonical(config.module),
                  std::filesystem::weakly_canonical(top / "build/dev/quillmarups.so"))
            << name;
    }
    // The one the package installs, for /etc/smdhost/smdhost.json.
    const BenchConfig installed =
        LoadBenchConfig((top / "tools/smdhost/examples/smdhost.json").string());
    EXPECT_EQ(installed.module, "/usr/lib/smd/modules/quillmarups.so");
    EXPECT_EQ(installed.state_dir, "/var/lib/smdhost");
}

TEST(BenchConfig, TyposAreNamedWithTheNearestKnownKey)
{
    EXPECT_EQ(json_keys::Nearest("poll_intervall", {"port", "poll_interval"}), "poll_interval");
    EXPECT_EQ(json_keys::Nearest("answer_timout", {"answer_timeout", "name"}), "answer_timeout");
    EXPECT_EQ(json_keys::Nearest("APPSETTINGS", {"appSetting", "thresholdSetting"}), "appSetting");
    EXPECT_EQ(json_keys::Nearest("colour", {"port", "data_id"}), "");
}

}  // namespace
