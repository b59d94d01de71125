// The parts of smdhost's NUT driver mode (-a NAME) that need no process: the
// settings file, what ups.conf, the options and NUT's environment make of a
// UPS, what the driver logs at each detail, and its pid file.
#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/common/JsonKeys.h"
#include "tools/smdhost/driver/DriverLog.h"
#include "tools/smdhost/driver/DriverSetup.h"
#include "tools/smdhost/driver/PidFile.h"
#include "tools/smdhost/driver/SettingsFile.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// ---- The settings file --------------------------------------------------------------------------

driver_mode::SettingsFile Parse(const std::string& text)
{
    return json_keys::ParseWith("ups-a.json", text, [](const Json::Value& root) {
        return driver_mode::ParseSettingsFile(root, "[ups-a]");
    });
}

TEST(NutDriverSettings, ModuleSettingsGoToTheModuleAndNutChangesWhatNutShows)
{
    const driver_mode::SettingsFile settings = Parse(R"({
        "appSetting": {"b_mode": 3},
        "thresholdSetting": {"sbm": {"Level": 2, "Value": 1}},
        "nut": {"model": "Rack 7", "names": {"DLOA": "output.L1.power.percent"},
                "status": {"SBL": ""}}})");
    EXPECT_EQ(settings.module["appSetting"]["b_mode"].asInt(), 3);
    EXPECT_EQ(settings.module["thresholdSetting"]["sbm"]["Level"].asInt(), 2);
    EXPECT_FALSE(settings.module.isMember("nut")) << "the module never sees NUT's part";
    EXPECT_EQ(settings.nut.model, "Rack 7");
    EXPECT_EQ(settings.nut.names[6], "output.L1.power.percent");
    EXPECT_TRUE(settings.nut.status[3].empty()) << "SBL gives no word";
    EXPECT_EQ(Parse("{}").nut.names[0], "input.L1-N.voltage") << "NUT's defaults without \"nut\"";
}

TEST(NutDriverSettings, WhatNobodyReadsIsRefusedWithItsLineAndTheNearestKey)
{
    const struct {
        const char* text;
        const char* said;
    } kCases[] = {
        {"[]", "[ups-a]: the settings are an object, not a list"},
        {"{\n\"appSettings\": {}}", "ups-a.json:2: [ups-a], settings: unknown key \"appSettings\"; "
                                    "did you mean \"appSetting\"?"},
        {"{\"thresholdSetting\": {\"sbm\": {\"Levl\": 2}}}", "did you mean \"Level\"?"},
        {"{\"nut\": {\"names\": {\"DHZF\": \"input.frequncy\"}}}",
         "did you mean \"input.frequency\"?"},
        {"{\"nut\": {\"modle\": \"x\"}}", "did you mean \"model\"?"},
    };
    for (const auto& c : kCases) {
        std::string said = "accepted";
        try {
            Parse(c.text);
        } catch (const std::runtime_error& error) {
            said = error.what();
        }
        EXPECT_NE(said.find(c.said), std::string::npos) << c.text << ": " << said;
    }
}

// ---- What a UPS runs with ------------------------------------------------------------------------

// ups.conf and NUT's environment in a folder of their own.
class NutDriverSetup : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/nut-driver-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir = name;
        setenv("NUT_CONFPATH", dir.c_str(), 1);
        unsetenv("NUT_STATEPATH");
        unsetenv("NUT_ALTPIDPATH");
        std::ofstream(dir + "/ups-a.json") << R"({"nut": {"model": "from the file"}})";
    }
    void TearDown() override
    {
        unsetenv("NUT_CONFPATH");
        unsetenv("NUT_STATEPATH");
        unsetenv("NUT_ALTPIDPATH");
        fs::remove_all(dir);
    }

    driver_mode::Setup Read(const std::string& more, HostOptions options = {})
    {
        std::ofstream(dir + "/ups.conf") << "[ups-a]\n driver = smdhost\n port = /dev/ttyUSB0\n"
                                            " data_id = 7\n pollinterval = 5\n" << more;
        options.ups = "ups-a";
        return driver_mode::ReadSetup(options);
    }

    std::string dir;
};

TEST_F(NutDriverSetup, UpsConfGivesTheDeviceAndTheCommandLineHoldsOverIt)
{
    const driver_mode::Setup setup =
        Read(" module = lib/ups.so\n settings = ups-a.json\n state_dir = state\n"
             " override.ups.model = Rack\\ 7\n group = ups\n");
    ASSERT_EQ(setup.config.devices.size(), 1u);
    const DeviceConfig& device = setup.config.devices.front();
    EXPECT_EQ(device.name, "ups-a");
    EXPECT_EQ(device.data_id, 7u);
    EXPECT_EQ(device.port, "/dev/ttyUSB0");
    EXPECT_EQ(device.poll_interval, 5000ms);
    EXPECT_EQ(device.nut.model, "from the file");
    EXPECT_EQ(device.nut.overrides.at("ups.model"), "Rack 7") << "ups.conf over the file";
    EXPECT_EQ(setup.config.module, dir + "/lib/ups.so");
    EXPECT_EQ(setup.config.state_dir, dir + "/state");
    EXPECT_EQ(setup.identity.poll_seconds, 5.0);
    EXPECT_EQ(setup.account.user, "nut") << "upsd runs as nut unless a user is given";
    EXPECT_EQ(setup.account.group, "ups");
    EXPECT_EQ(setup.user, ::geteuid() == 0 ? "nut" : "") << "root becomes nut, as Debian's drivers";

    HostOptions options;
    options.module = "/opt/other.so";
    options.state_dir = "/srv/ups";
    options.user = "daemon";
    options.extra = {"pollinterval=0.5"};
    const driver_mode::Setup given = Read(" module = lib/ups.so\n user = nut\n", options);
    EXPECT_EQ(given.config.module, "/opt/other.so");
    EXPECT_EQ(given.config.state_dir, "/srv/ups");
    EXPECT_EQ(given.config.devices.front().poll_interval, 500ms) << "-x over ups.conf";
    EXPECT_EQ(given.account.user, "daemon") << "-u over ups.conf's user";
    EXPECT_EQ(given.user, ::geteuid() == 0 ? "daemon" : "");
}

TEST_F(NutDriverSetup, NutsFoldersComeFromItsEnvironmentElseDebiansOwn)
{
    driver_mode::Setup setup = Read(" module = ups.so\n");
    EXPECT_EQ(setup.nut_folder, "/run/nut");
    EXPECT_EQ(setup.pid_folder, "/run/nut");
    EXPECT_EQ(setup.config.state_dir, "/var/lib/smdhost/ups-a");
    setenv("NUT_STATEPATH", "/tmp/state", 1);
    setup = Read(" module = ups.so\n");
    EXPECT_EQ(setup.nut_folder, "/tmp/state");
    EXPECT_EQ(setup.pid_folder, "/tmp/state") << "upsdrvctl looks for pid files in the state folder";
    setenv("NUT_ALTPIDPATH", "/tmp/pids", 1);
    EXPECT_EQ(Read(" module = ups.so\n").pid_folder, "/tmp/pids");
}

TEST_F(NutDriverSetup, SettingsThatCannotBeReadAreRefusedWithTheirFile)
{
    std::ofstream(dir + "/bad.json") << "{\"appSetting\": {\"b_mod\": 3}}";
    EXPECT_THROW(Read(" module = ups.so\n settings = missing.json\n"), std::runtime_error);
    try {
        Read(" module = ups.so\n settings = bad.json\n");
        ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(dir + "/bad.json:1: [ups-a], settings.appSetting"),
                  std::string::npos) << error.what();
    }
}

// ---- What the driver logs ------------------------------------------------------------------------

events::Event At(events::Fact fact) { return {std::chrono::system_clock::now(), events::Device{"ups-a", 7}, std::move(fact)}; }

TEST(NutDriverLog, EachDetailTellsMoreAndSyslogTakesWarningsApart)
{
    const events::Event block = At(events::Block::Of(events::Source::Poll, 3, 5017, nullptr, 0));
    const events::Event failed = At(events::CycleFailed{4, "timeout", "no answer", false});
    events::Bytes sent;
    sent.cycle = 4;
    sent.bytes = "RS\r";
    const events::Event bytes = At(sent);
    const events::Event upsd = At(events::Upsd{true, "upsd (pid 9)", "/run/nut/smdhost-ups-a"});
    const events::Event stale = At(events::Stale{3});
    const events::Event repeated = At(events::Repeated{5, 9, "timeout", "no answer"});
    const events::Event failing = At(events::Failing{events::Failing::Now::Ongoing, 40,
                                                     "1 min 20 s", "cycle 40 (timeout): no answer"});
    const struct {
        const events::Event& event;
        unsigned int first_detail;  // where it is told from
        const char* text;
        int priority;
    } kCases[] = {
        {upsd, 0, "upsd (pid 9) connected to /run/nut/smdhost-ups-a", LOG_INFO},
        {stale, 0, "data stale: 3 cycles failed in a row", LOG_WARNING},
        {failing, 0,
         "still failing: 40 cycles in a row over 1 min 20 s; last cycle 40 (timeout): no answer",
         LOG_WARNING},
        {repeated, 3, "", LOG_INFO},  // each failure has its line from -D on
        {block, 1, "block 3: ", LOG_INFO},
        {failed, 1, "cycle 4 failed (timeout): no answer", LOG_INFO},
        {bytes, 2, "cycle 4 sent 3 bytes: \"RS\\r\"", LOG_INFO},
    };
    for (const auto& c : kCases) {
        for (unsigned int detail = 0; detail <= 2; ++detail) {
            const std::string text = DriverLog::Text(c.event, detail);
            if (detail < c.first_detail) {
                EXPECT_EQ(text, "") << c.text << " at detail " << detail;
            } else {
                EXPECT_EQ(text.rfind(c.text, 0), 0u) << text << " at detail " << detail;
            }
        }
        EXPECT_EQ(DriverLog::Priority(c.event), c.priority) << c.text;
    }
    EXPECT_EQ(DriverLog::Priority(At(events::Message{events::Message::Level::Error, "x"})), LOG_ERR);
}

// ---- The pid file --------------------------------------------------------------------------------

TEST(NutDriverPidFile, HoldsTheProcessReplacesALeftoverAndGoesOnlyWhileItIsStillOurs)
{
    char name[] = "/tmp/nut-pid-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    const std::string dir = name;
    const std::string path = dir + "/smdhost-ups-a.pid";
    std::ofstream(path) << "1\n";  // a killed driver's
    const std::string mine = std::to_string(::getpid()) + "\n";
    {
        driver_mode::PidFile pid;
        pid.Write(dir, "ups-a", {});
        EXPECT_EQ(pid.Path(), path);
        std::ifstream file(path);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), mine);
    }
    EXPECT_FALSE(fs::exists(path)) << "removed at the end";
    {
        driver_mode::PidFile pid;
        pid.Write(dir, "ups-a", {});
        std::ofstream(path) << "2\n";  // a driver started since
    }
    EXPECT_TRUE(fs::exists(path)) << "another's is left alone";
    EXPECT_THROW(driver_mode::PidFile().Write(dir + "/missing", "ups-a", {}), std::runtime_error);
    fs::remove_all(dir);
}

}  // namespace
