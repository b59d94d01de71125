// smdhost serving its devices to Debian's Network UPS Tools: each test starts
// its own upsd (and upsmon) on a private folder and port, never the system's,
// and reads what upsc, upsmon and a raw client on the driver socket see while
// upssim plays a scenario.
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/NutFixture.h"
#include "tools/common/CommandLine.h"
#include "tools/common/JsonKeys.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// upsd serving what smdhost --nut serves, as ups.conf of smdhost --print-ups-conf says.
class Nut : public NutServer {
protected:
    // Devices on the simulated line (or their own), polled every 0.3 s.
    std::string Config(Json::Value devices = Json::Value(), double answer_timeout = 0.5)
    {
        if (devices.isNull()) {
            devices[0]["data_id"] = kDataId;
            devices[0]["name"] = "ups-nut";
        }
        for (Json::Value& device : devices) {
            device["poll_interval"] = 0.3;
        }
        return WriteConfig(answer_timeout, devices);
    }

    // upsd runs as this test's user, whose group the NUT folder takes.
    std::vector<std::string> Serving() const
    {
        return {"--nut", nut_dir, "--nut-user", UserName(), "--nut-group", GroupName()};
    }

    // NUT's files as upsd reads them, ups.conf as smdhost prints it.
    void WriteUpsdFiles(const std::string& config)
    {
        Child print({QUILL_SMDHOST, "--config", config, "--print-ups-conf"}, dir + "/print.err");
        std::string ups_conf;
        for (auto line = print.ReadLine(seconds(10)); line; line = print.ReadLine(seconds(10))) {
            ups_conf += *line + "\n";
        }
        ASSERT_EQ(print.Wait(seconds(10)), 0) << ReadFile(dir + "/print.err");
        WriteNutFiles(ups_conf);
    }
};

// The variable of each value under the default names, in the block's order.
const std::map<std::string, std::string> kDefaultNames = {
    {"DVIA", "input.L1-N.voltage"},    {"DVIB", "input.L2-N.voltage"},
    {"DVIC", "input.L3-N.voltage"},    {"DVOA", "output.L1-N.voltage"},
    {"DVOB", "output.L2-N.voltage"},   {"DVOC", "output.L3-N.voltage"},
    {"DLOA", "experimental.load.dloa"}, {"DLOB", "experimental.load.dlob"},
    {"DLOC", "experimental.load.dloc"}, {"DTMP", "ups.temperature"},
    {"DHZF", "experimental.frequency.dhzf"}, {"DVBT", "battery.voltage"},
    {"DTMB", "experimental.battery.dtmb"}, {"DVBN", "experimental.battery.dvbn"},
    {"DVBL", "experimental.battery.dvbl"},
};

// ---- What upsc shows follows the blocks ------------------------------------------------

TEST_F(Nut, UpscShowsTheStatusWordsAsTheFlagsChangeAndTheValuesOfThePublishedBlocks)
{
    StartSim(kWalk);
    const std::string config = Config();
    WriteUpsdFiles(config);
    StartUpsd();
    auto host = StartHost(config, "28", Serving());

    const std::vector<std::string>& kStatuses = kWalkStatuses;
    std::vector<std::string> seen;
    Events events;
    Json::Value flags;
    while (seen.size() < kStatuses.size() && ReadUntil(*host, events, "block")) {
        const Json::Value& block = events.back()["block"];
        if (block["flags"] == flags) {
            continue;
        }
        flags = block["flags"];
        Upsc said = QueryStatus("ups-nut", kStatuses[seen.size()]);
        ASSERT_EQ(said.status, 0) << said.error;
        seen.push_back(said.variables.at("ups.status"));
        for (const auto& [tag, name] : kDefaultNames) {
            const std::string text = said.variables[name];
            EXPECT_EQ(std::strtof(text.c_str(), nullptr), static_cast<float>(block["values"][tag].asDouble()))
                << name << " " << text;
            EXPECT_LE(text.size(), 6u) << name << " is not the shortest decimal: " << text;
        }
        EXPECT_EQ(said.variables["ups.alarm"], seen.back() == "OL BYPASS ALARM" ? "UPS fault" : "");
        EXPECT_EQ(said.variables["ups.id"], std::to_string(kDataId));
        EXPECT_EQ(said.variables["driver.name"], "smdhost");
        EXPECT_EQ(said.variables["device.type"], "ups");
    }
    EXPECT_EQ(seen, kStatuses);
    EXPECT_EQ(Query("ups-nut").variables.count("ups.alarm"), 0u);
    EXPECT_EQ(Query("ups-nut").variables["driver.version"], command_line::Version());
}

// ---- upsmon shuts down on low battery ---------------------------------------------------

TEST_F(Nut, UpsmonAsPrimaryIsToldOnBatteryAndLowBatteryAndRunsItsShutdownCommand)
{
    StartSim(R"({"steps": [{"name": "on line", "polls": 6},
                           {"name": "on battery", "polls": 10, "flags": {"SUF": 1, "SBM": 1}},
                           {"name": "low battery", "flags": {"SBL": 1}}]})");
    const std::string config = Config();
    WriteUpsdFiles(config);
    StartUpsd();
    const std::string notify = dir + "/notify.sh";
    std::ofstream(notify) << "#!/bin/sh\necho \"$NOTIFYTYPE\" >> " << dir << "/notified\n";
    chmod(notify.c_str(), 0755);
    std::ofstream(etc + "/upsmon.conf")
        << "MONITOR ups-nut@127.0.0.1:" << port << " 1 mon secret primary\n"
        << "MINSUPPLIES 1\nPOLLFREQ 1\nPOLLFREQALERT 1\nHOSTSYNC 1\nFINALDELAY 0\n"
        << "SHUTDOWNCMD \"/usr/bin/touch " << dir << "/shut-down\"\n"
        << "POWERDOWNFLAG " << dir << "/killpower\n"
        << "NOTIFYCMD " << notify << "\n";
    // Every notice to the script alone: no wall messages on the machine's terminals.
    for (const char* notice : {"ONLINE", "ONBATT", "LOWBATT", "FSD", "COMMOK", "COMMBAD",
                               "SHUTDOWN", "REPLBATT", "NOCOMM", "NOPARENT"}) {
        std::ofstream(etc + "/upsmon.conf", std::ios::app) << "NOTIFYFLAG " << notice << " EXEC\n";
    }
    chmod((etc + "/upsmon.conf").c_str(), 0600);
    // upsmon logged in before the host polls, so that it sees "on battery" alone whatever its
    // start costs; seeing OB LB at its first look, it tells LOWBATT before ONBATT.
    // upsmon keeps its pid file in the system's /run/nut whatever NUT_STATEPATH says, and
    // refuses to start beside another upsmon: run as root, it gets a /run/nut of its own.
    std::vector<std::string> run_upsmon{kUpsmon, "-F", "-p"};
    if (geteuid() == 0 && fs::is_directory("/run/nut")) {
        fs::create_directories(dir + "/upsmon-run");
        run_upsmon = {"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                      "mount --bind \"$1\" /run/nut && exec " + std::string(kUpsmon) + " -F -p", "sh",
                      dir + "/upsmon-run"};
    }
    Child upsmon(run_upsmon, dir + "/upsmon.err", NutEnvironment());
    const std::string clients = "ups-nut@127.0.0.1:" + std::to_string(port);
    for (const auto deadline = Clock::now() + seconds(20);
         RunUpsc({"-c", clients}).variables.count("127.0.0.1") == 0 && Clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(RunUpsc({"-c", clients}).variables.count("127.0.0.1"), 1u) << ReadFile(dir + "/upsmon.err");
    auto host = StartHost(config, "", Serving());

    for (const auto deadline = Clock::now() + seconds(40);
         !fs::exists(dir + "/shut-down") && Clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(fs::exists(dir + "/shut-down")) << ReadFile(dir + "/upsmon.err");
    const std::string notified = ReadFile(dir + "/notified");
    EXPECT_NE(notified.find("ONBATT"), std::string::npos) << notified;
    EXPECT_NE(notified.find("LOWBATT"), std::string::npos) << notified;
    EXPECT_LT(notified.find("ONBATT"), notified.find("LOWBATT")) << notified;
}

// ---- Stale data ---------------------------------------------------------------------------

TEST_F(Nut, SilentSpellReadsAsDataStaleInUpscAndClearsAfterwards)
{
    StartSim(R"({"steps": [{"polls": 3}, {"name": "silent", "polls": 6, "faults": {"silence": 1}},
                           {"name": "back", "flags": {"SBP": 1}}]})");
    const std::string config = Config(Json::Value(), 0.3);
    WriteUpsdFiles(config);
    StartUpsd();
    auto host = StartHost(config, "", Serving());
    Events events;
    ASSERT_TRUE(ReadUntil(*host, events, "block"));
    EXPECT_EQ(QueryStatus("ups-nut", "OL").status, 0);

    ASSERT_TRUE(ReadUntil(*host, events, "stale"));
    EXPECT_NE(QueryStale("ups-nut").error.find("Error: Data stale"), std::string::npos);
    ASSERT_TRUE(ReadUntil(*host, events, "reestablished"));
    EXPECT_EQ(QueryStatus("ups-nut", "OL BYPASS").status, 0);
}

// ---- Either side restarted ----------------------------------------------------------------

TEST_F(Nut, RestartedUpsdAndRestartedHostReconnectWithTheWholeStateAndACachedBlockStaysStale)
{
    StartSim(R"({"steps": [{"flags": {"SUF": 1, "SBM": 1}, "values": {"DVBT": 47.5}}]})");
    const std::string config = Config();
    WriteUpsdFiles(config);
    StartUpsd();
    auto host = StartHost(config, "", Serving());
    const Upsc before = QueryStatus("ups-nut", "OB");
    ASSERT_EQ(before.status, 0) << before.error;

    upsd.reset();  // killed mid-run, started again
    StartUpsd();
    EXPECT_EQ(QueryStatus("ups-nut", "OB").variables, before.variables);
    Events told;
    std::vector<std::string> upsd_states;
    while (upsd_states.size() < 3 && ReadUntil(*host, told, "upsd")) {
        upsd_states.push_back(told.back()["state"].asString());
        EXPECT_EQ(told.back()["process"].asString().rfind("upsd (pid ", 0), 0u) << told.back();
    }
    EXPECT_EQ(upsd_states, (std::vector<std::string>{"connected", "disconnected", "connected"}));

    host->Signal(SIGTERM);
    EXPECT_EQ(host->Wait(seconds(10)), 0);
    EXPECT_FALSE(fs::exists(Socket())) << "the socket is removed at exit";
    EXPECT_NE(Query("ups-nut").status, 0);

    // Back without its line: the cached block is served, and stays stale.
    sim->Signal(SIGTERM);
    EXPECT_EQ(sim->Wait(seconds(10)), 0);
    host = StartHost(config, "", Serving());
    Events events;
    ASSERT_TRUE(ReadUntil(*host, events, "cycle_failed"));
    RawClient client(Socket());
    ASSERT_TRUE(client.Connected());
    client.Send("DUMPALL\n");
    const std::string dump = client.ReadUntil("DUMPDONE\n");
    EXPECT_EQ(dump.rfind("DATASTALE\n", 0), 0u) << dump;
    EXPECT_NE(dump.find("SETINFO battery.voltage \"47.5\"\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("SETINFO ups.status \"OB\"\n"), std::string::npos) << dump;
    EXPECT_EQ(dump.find("DATAOK"), std::string::npos) << dump;
    EXPECT_NE(QueryStale("ups-nut").error.find("Data stale"), std::string::npos);

    StartSim(R"({"steps": [{"name": "mains back"}]})");
    EXPECT_EQ(QueryStatus("ups-nut", "OL").variables.size(), before.variables.size());
    EXPECT_NE(client.ReadUntil("DATAOK\n").find("SETINFO ups.status \"OL\"\nDATAOK\n"),
              std::string::npos);
}

// ---- Several devices ----------------------------------------------------------------------

TEST_F(Nut, TwoDevicesAreTwoUpsesEachWithItsOwnState)
{
    StartSim(R"({"steps": [{"flags": {"SUF": 1, "SBM": 1}}]})");
    auto second = StartSimAt(dir + "/ups2", R"({"steps": [{"flags": {"SBP": 1}}]})");
    Json::Value devices;
    devices[0]["data_id"] = 11;
    devices[0]["name"] = "room-a";
    devices[0]["nut"] = json_keys::Parse("nut", R"({"model": "rack \"A\" #1",
        "names": {"DLOA": "output.L1.power.percent", "DLOB": "output.L2.power.percent",
                  "DLOC": "output.L3.power.percent"},
        "default": {"battery.voltage.high": 56, "battery.voltage.low": 42}})");
    devices[1]["data_id"] = 12;
    devices[1]["name"] = "room-b";
    devices[1]["port"] = dir + "/ups2";
    devices[1]["nut"]["status"]["SBP"] = "BYPASS ALARM";
    const std::string config = Config(devices);
    WriteUpsdFiles(config);
    StartUpsd();
    auto host = StartHost(config, "", Serving());

    const Upsc a = QueryStatus("room-a", "OB");
    const Upsc b = QueryStatus("room-b", "OL BYPASS ALARM");
    EXPECT_EQ(a.variables.at("ups.id"), "11");
    EXPECT_EQ(a.variables.at("device.model"), "rack \"A\" #1");
    EXPECT_EQ(a.variables.at("ups.model"), "rack \"A\" #1") << "upsstats reads ups.model";
    EXPECT_EQ(a.variables.at("battery.charge"), "90") << "54.6 V between 42 V and 56 V";
    EXPECT_EQ(a.variables.at("ups.load"), "36.5") << "the highest of 35, 36.5 and 34 %";
    EXPECT_EQ(a.variables.at("input.phases"), "3");
    EXPECT_EQ(b.variables.count("battery.charge") + b.variables.count("ups.load"), 0u);
    EXPECT_EQ(b.variables.at("ups.id"), "12");
    EXPECT_EQ(b.variables.at("ups.alarm"), "supply by bypass");
    Upsc listed = RunUpsc({"-L", "127.0.0.1:" + std::to_string(port)});
    EXPECT_EQ(listed.variables.size(), 2u);
    EXPECT_EQ(listed.variables["room-a"], "data id 11 on " + line) << "the desc of --print-ups-conf";
    EXPECT_EQ(listed.variables["room-b"], "data id 12 on " + dir + "/ups2");
}

// ---- A hostile local client ---------------------------------------------------------------

TEST_F(Nut, HostileClientsOnTheSocketAreDroppedOrAnsweredAndStopNothing)
{
    StartSim(R"({"steps": [{"name": "on line"}]})");
    const std::string config = Config();
    WriteUpsdFiles(config);
    StartUpsd();
    auto host = StartHost(config, "", Serving());
    Events events;
    ASSERT_TRUE(ReadUntil(*host, events, "block"));

    RawClient talker(Socket());
    talker.Send("HELLO\nSET \"open\nINSTCMD load.off\nINSTCMD load.off TRACKING 1bd3\n"
                "SET ups.id \"x\" TRACKING \"a b\"\nGETPID\nPING\n");
    const std::string answers = talker.ReadUntil("PONG\n");
    EXPECT_NE(answers.find("TRACKING 1bd3 1\nTRACKING \"a b\" 1\nPID "), std::string::npos)
        << answers;
    EXPECT_NE(answers.find("PONG\n"), std::string::npos) << answers;
    EXPECT_NE(talker.ReadUntil("DATAOK\n").find("DATAOK\n"), std::string::npos)
        << "a connection that takes broadcasts is told of every completed cycle";

    RawClient overlong(Socket());
    overlong.Send(std::string(8192, 'x'));
    RawClient stalled(Socket());
    std::string requests;
    for (int i = 0; i < 8000; ++i) {
        requests += "DUMPALL\n";  // each answer about 800 bytes, and none read
    }
    stalled.Send(requests);
    EXPECT_TRUE(overlong.ClosedByServer());
    EXPECT_TRUE(stalled.ClosedByServer());
    std::vector<std::unique_ptr<RawClient>> crowd;
    for (int i = 0; i < 20; ++i) {
        crowd.push_back(std::make_unique<RawClient>(Socket()));
    }
    std::size_t closed = 0;
    for (const auto deadline = Clock::now() + seconds(20); closed < 5 && Clock::now() < deadline;) {
        closed = 0;
        for (const auto& idle : crowd) {
            closed += idle->ClosedByServer(seconds(0)) ? 1 : 0;
        }
    }
    EXPECT_GE(closed, 5u) << "idle connections past the limit of 16 are closed";
    const Upsc said = QueryStatus("ups-nut", "OL");
    EXPECT_EQ(said.status, 0) << "upsd's connection is served still: " << said.error;

    host->Signal(SIGTERM);
    EXPECT_EQ(host->Wait(seconds(10)), 0) << Errors();
    ASSERT_TRUE(ReadUntil(*host, events, "summary"));
    EXPECT_EQ(events.back()["completed"].asUInt(), Of(events, "block").size());
    EXPECT_EQ(events.back()["failed"].asUInt(), 0u);
}

// ---- The socket's file --------------------------------------------------------------------

struct SocketCase {
    const char* name;
    std::function<void(const std::string& nut_dir)> before;
    std::vector<std::string> extra;
    std::string device_name;
    int status;
    std::string said;  // on standard error, or in a warning event
};

// Test names and messages show a case by its name.
void PrintTo(const SocketCase& c, std::ostream* out) { *out << c.name; }

class NutSocket : public Nut, public ::testing::WithParamInterface<SocketCase> {};

// A socket bound at `path` and closed: what a host killed at once leaves.
void LeaveSocket(const std::string& path, bool listening)
{
    static std::vector<int> kept;
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    if (listening) {
        listen(fd, 1);
        kept.push_back(fd);  // held by this test program to its end
    } else {
        close(fd);
    }
}

const SocketCase kSocketCases[] = {
    {"leftover_socket_nobody_listens_on_is_replaced",
     [](const std::string& nut) { fs::create_directories(nut); LeaveSocket(nut + "/smdhost-ups-nut", false); },
     {}, "ups-nut", 0, "removed the leftover socket"},
    {"live_socket_is_refused_naming_its_process",
     [](const std::string& nut) { fs::create_directories(nut); LeaveSocket(nut + "/smdhost-ups-nut", true); },
     {}, "ups-nut", 2, "is held by nut_tests (pid " + std::to_string(getpid()) + "); one server per UPS"},
    {"symbolic_link_is_refused_and_its_target_untouched",
     [](const std::string& nut) {
         fs::create_directories(nut);
         fs::create_symlink(nut + "/../target", nut + "/smdhost-ups-nut");
     },
     {}, "ups-nut", 2, "smdhost-ups-nut: it is a symbolic link, not a socket"},
    {"regular_file_is_refused",
     [](const std::string& nut) { fs::create_directories(nut); std::ofstream(nut + "/smdhost-ups-nut") << "x"; },
     {}, "ups-nut", 2, "smdhost-ups-nut: it is a regular file, not a socket"},
    {"folder_others_can_write_to_is_refused",
     [](const std::string& nut) { fs::create_directories(nut); chmod(nut.c_str(), 0777); },
     {}, "ups-nut", 2, "others can write to it (mode 0777, no sticky bit); --allow-shared-state-dir accepts it"},
    {"folder_others_can_write_to_is_accepted_when_asked",
     [](const std::string& nut) { fs::create_directories(nut); chmod(nut.c_str(), 0777); },
     {"--allow-shared-state-dir"}, "ups-nut", 0, ""},
    {"name_nut_cannot_take_is_refused_at_start", nullptr, {}, "ups room a", 2,
     "the name \"ups room a\" cannot be a NUT UPS name: a NUT UPS name has 1 to 64 letters, digits, . - _"},
};

TEST_P(NutSocket, IsMadeUnderTheFileRulesAndRemovedAtExit)
{
    const SocketCase& c = GetParam();
    StartSim(R"({"steps": [{"name": "on line"}]})");
    if (c.before) {
        c.before(nut_dir);
    }
    Json::Value devices;
    devices[0]["data_id"] = kDataId;
    devices[0]["name"] = c.device_name;
    std::vector<std::string> extra = Serving();
    extra.insert(extra.end(), c.extra.begin(), c.extra.end());
    Events events;
    const int status = RunHost(Config(devices), 2, events, extra);
    EXPECT_EQ(status, c.status) << Errors();
    std::string said = Errors();
    for (const Json::Value& warning : Of(events, "warning")) {
        said += warning["detail"].asString();
    }
    EXPECT_NE(said.find(c.said), std::string::npos) << said;
    if (c.status == 0) {
        EXPECT_FALSE(fs::exists(Socket())) << "the socket is removed at exit";
        EXPECT_EQ(Of(events, "block").size(), 2u);
    }
    EXPECT_FALSE(fs::exists(dir + "/target"));
}

INSTANTIATE_TEST_SUITE_P(FileRules, NutSocket, ::testing::ValuesIn(kSocketCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
