// smdhost as Network UPS Tools' driver of one UPS (-a NAME), started as NUT
// starts its drivers: Debian's upsdrvctl with the test's own ups.conf, whose
// driverpath is the build's, and Debian's upsd on the test's own folders and
// port, the sockets' folder made as Debian makes /run/nut (0770, group nut).
// Run as root, upsd runs as nut and the drivers become nut, as on Debian;
// otherwise both run as this test's user.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/NutFixture.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kUpsdrvctl = "/sbin/upsdrvctl";
constexpr const char* kUpsstats = "/usr/lib/cgi-bin/nut/upsstats.cgi";

gid_t GroupId(const std::string& name)
{
    const group* found = getgrnam(name.c_str());
    return found != nullptr ? found->gr_gid : getegid();
}

// The user a process runs as, as ps shows it.
std::string UserOf(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Uid:", 0) == 0) {
            const passwd* user = getpwuid(static_cast<uid_t>(std::stoul(line.substr(4))));
            return user != nullptr ? user->pw_name : line;
        }
    }
    return "";
}

// True while `pid` runs; one that has ended and awaits its parent does not.
bool Running(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t end = text.rfind(") ");
    return end != std::string::npos && text[end + 2] != 'Z';
}

// Blanks and line ends as single blanks, for reading a page's cells.
std::string Squeezed(const std::string& text)
{
    std::istringstream words(text);
    std::string squeezed;
    for (std::string word; words >> word;) {
        squeezed += (squeezed.empty() ? "" : " ") + word;
    }
    return squeezed;
}

class NutDriver : public NutServer {
protected:
    bool root = geteuid() == 0;
    std::string group;    // NUT's group: of the sockets' folder and the state folders
    std::string reports;  // where a sanitizer of a driver in the background reports

    void SetUp() override
    {
        NutServer::SetUp();
        chmod(dir.c_str(), 0711);  // as / and /run: every user passes through
        upsd_user = root ? "nut" : UserName();
        group = root ? "nut" : GroupName();
        nut_dir = dir + "/run";
        MakeRunFolder(nut_dir);
        reports = dir + "/reports";
        fs::create_directories(reports);
        chmod(reports.c_str(), 0777);
    }

    void TearDown() override
    {
        for (const auto& entry : fs::directory_iterator(nut_dir)) {
            if (entry.path().extension() == ".pid") {
                pid_t pid = 0;
                std::ifstream(entry.path()) >> pid;
                if (pid > 0 && Running(pid)) {
                    kill(pid, SIGKILL);  // a driver this test started and left
                }
            }
        }
        for (const auto& report : fs::directory_iterator(reports)) {
            ADD_FAILURE() << ReadFile(report.path());
        }
        NutServer::TearDown();
    }

    // A folder as Debian makes /run/nut: root's (or this user's), NUT's group, 0770.
    void MakeRunFolder(const std::string& path) const
    {
        fs::create_directories(path);
        (void)!chown(path.c_str(), static_cast<uid_t>(-1), GroupId(group));
        chmod(path.c_str(), 0770);
    }

    // ups.conf with the drivers of the build; not run as root, the drivers
    // and upsd are this user and its group.
    std::string UpsConf(const std::string& sections) const
    {
        const std::string smdhost = QUILL_SMDHOST;
        std::string text = "driverpath = " + smdhost.substr(0, smdhost.rfind('/')) + "\n";
        if (!root) {
            text += "user = " + UserName() + "\ngroup = " + group + "\n";
        }
        return text + sections;
    }

    // A UPS on the simulated line, polled every 0.2 s, its history and cache
    // in a folder of its own; the module is the one built beside smdhost.
    std::string Section(const std::string& ups, const std::string& more = "") const
    {
        return "[" + ups + "]\n\tdriver = smdhost\n\tport = " + line + "\n\tdata_id = 42\n" +
               "\tpollinterval = 0.2\n\tanswer_timeout = 0.5\n\tstate_dir = " + dir + "/state-" +
               ups + "\n" + more;
    }

    std::function<void()> DriverEnvironment(const std::string& state_path = "") const
    {
        return [this, state_path] {
            NutEnvironment()();
            if (!state_path.empty()) {
                setenv("NUT_STATEPATH", state_path.c_str(), 1);
            }
            const char* tsan = getenv("TSAN_OPTIONS");
            const std::string options = std::string(tsan != nullptr ? tsan : "") + ":log_path=" + reports + "/tsan";
            setenv("TSAN_OPTIONS", options.c_str(), 1);
        };
    }

    // upsdrvctl with `args`; answers its exit status, and what it and the
    // driver said on standard error in `said`.
    int Upsdrvctl(const std::vector<std::string>& args, std::string& said)
    {
        std::vector<std::string> argv{kUpsdrvctl};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string errors = dir + "/upsdrvctl.err";
        fs::remove(errors);
        Child run(argv, errors, DriverEnvironment());
        while (run.ReadLine(seconds(30))) {
        }
        const int status = run.Wait(seconds(30));
        said = ReadFile(errors);
        return status;
    }

    // smdhost -a UPS in the foreground, its events as JSON.
    std::unique_ptr<Child> StartDriver(const std::string& ups, std::vector<std::string> more = {})
    {
        std::vector<std::string> argv{QUILL_SMDHOST, "-a", ups, "-F", "--json"};
        argv.insert(argv.end(), more.begin(), more.end());
        return std::make_unique<Child>(argv, dir + "/smdhost.err", DriverEnvironment());
    }

    std::string PidFile(const std::string& ups) const { return nut_dir + "/smdhost-" + ups + ".pid"; }

    pid_t PidOf(const std::string& ups) const
    {
        pid_t pid = 0;
        std::ifstream(PidFile(ups)) >> pid;
        return pid;
    }

    // upsd has read the driver's whole dump once the model is there.
    Upsc QueryModel(const std::string& ups)
    {
        return QueryUntil(ups, [](const Upsc& said) {
            return said.variables.count("ups.model") != 0 && said.variables.count("ups.status") != 0;
        });
    }
};

// ---- upsdrvctl start, stop and shutdown -------------------------------------------------------

TEST_F(NutDriver, UpsdrvctlStartsItInTheBackgroundAsItsUserStopsItAndShutdownSaysTheUpsStaysOn)
{
    StartSim(R"({"steps": [{"name": "on line"}]})");
    WriteNutFiles(UpsConf(Section("ups-a")));
    StartUpsd();
    std::string said;
    ASSERT_EQ(Upsdrvctl({"-u", upsd_user, "start", "ups-a"}, said), 0) << said;
    const pid_t pid = PidOf("ups-a");
    ASSERT_GT(pid, 0) << said;
    EXPECT_TRUE(Running(pid));
    EXPECT_EQ(UserOf(pid), upsd_user) << "ps shows the user -u names";
    EXPECT_NE(said.find("serving the UPS ups-a on " + Socket("ups-a") + " in the background"),
              std::string::npos) << said;
    EXPECT_EQ(QueryStatus("ups-a", "OL").status, 0);
    struct stat run {};
    ASSERT_EQ(stat(nut_dir.c_str(), &run), 0);
    EXPECT_EQ(run.st_mode & 07777, 0770u) << "NUT's folder is taken as Debian makes it";
    EXPECT_EQ(run.st_gid, GroupId(group));
    if (root) {
        struct stat state {};
        ASSERT_EQ(stat((dir + "/state-ups-a").c_str(), &state), 0);
        EXPECT_EQ(state.st_mode & 07777, 0770u) << "a state folder made for nut";
        EXPECT_EQ(state.st_gid, GroupId("nut"));
    }

    ASSERT_EQ(Upsdrvctl({"stop", "ups-a"}, said), 0) << said;
    for (const auto deadline = Clock::now() + seconds(10); Running(pid) && Clock::now() < deadline;) {
        std::this_thread::sleep_for(milliseconds(50));
    }
    EXPECT_FALSE(Running(pid));
    EXPECT_FALSE(fs::exists(Socket("ups-a"))) << "the socket is removed at the stop";
    EXPECT_FALSE(fs::exists(PidFile("ups-a"))) << "the pid file is removed at the stop";

    EXPECT_NE(Upsdrvctl({"shutdown", "ups-a"}, said), 0);
    EXPECT_NE(said.find("smdhost: error: shutdown not supported: the UPS ups-a has no command "
                        "that powers it off"),
              std::string::npos) << said;
}

// ---- What upsc shows of a driver upsdrvctl started --------------------------------------------

TEST_F(NutDriver, DriverUpsdrvctlStartedWalksThroughEveryStatusWithTheChargeLoadAndOverrides)
{
    StartSim(kWalk);
    std::ofstream(etc + "/ups-w.json") << R"({"nut": {"names": {
        "DLOA": "output.L1.power.percent", "DLOB": "output.L2.power.percent",
        "DLOC": "output.L3.power.percent"}}})";
    WriteNutFiles(UpsConf(Section("ups-w", "\tdesc = \"Room A\"\n\tsettings = ups-w.json\n"
                                           "\tdefault.battery.voltage.high = 56\n"
                                           "\tdefault.battery.voltage.low = 42\n"
                                           "\toverride.ups.model = \"Rack 7\"\n")));
    StartUpsd();
    std::string said;
    ASSERT_EQ(Upsdrvctl({"start", "ups-w"}, said), 0) << said;

    const struct {
        const char* status;
        const char* charge;
    } kSteps[] = {{"OL", "100"},       {"OB", "50"},        {"OB LB", "0"},
                  {"OL", "84"},        {"OL BYPASS", "84"}, {"OL BYPASS ALARM", "84"},
                  {"OL", "90"}};
    for (const auto& step : kSteps) {
        Upsc seen = QueryUntil("ups-w", [&](const Upsc& upsc) {
            return upsc.status == 0 && upsc.variables.count("ups.status") != 0 &&
                   upsc.variables.at("ups.status") == step.status &&
                   upsc.variables.count("battery.charge") != 0 &&
                   upsc.variables.at("battery.charge") == step.charge;
        });
        EXPECT_EQ(seen.variables["ups.status"], step.status) << seen.error;
        EXPECT_EQ(seen.variables["battery.charge"], step.charge) << step.status;
        EXPECT_EQ(seen.variables["ups.model"], "Rack 7") << "override.ups.model";
        EXPECT_EQ(seen.variables["battery.voltage.high"], "56") << "default.battery.voltage.high";
        EXPECT_EQ(seen.variables["device.description"], "Room A");
        EXPECT_EQ(seen.variables["ups.load"], "36.5") << "the highest of the phases' loads";
        EXPECT_EQ(seen.variables["output.L1.power.percent"], "35") << "the settings file's names";
        EXPECT_EQ(seen.variables["driver.parameter.data_id"], "42");
    }
    EXPECT_EQ(Upsdrvctl({"stop", "ups-w"}, said), 0) << said;
}

// ---- Stale data -------------------------------------------------------------------------------

TEST_F(NutDriver, LongPollIntervalStaysFreshPastUpsdsMaxageAndAPortGoneIsStaleAtOnce)
{
    StartSim(R"({"steps": [{"name": "on line"}]})");
    WriteNutFiles(UpsConf(Section("ups-s")), "MAXAGE 2\n");
    StartUpsd();
    auto driver = StartDriver("ups-s", {"-x", "pollinterval=3"});
    Events events;
    ASSERT_TRUE(ReadUntil(*driver, events, "upsd")) << Errors();
    EXPECT_EQ(events.back()["state"].asString(), "connected");
    EXPECT_EQ(events.back()["process"].asString().rfind("upsd (pid ", 0), 0u) << events.back();
    ASSERT_EQ(QueryStatus("ups-s", "OL").status, 0);

    // Past MAXAGE and within the poll interval: upsd's PINGs are answered.
    for (const auto until = Clock::now() + milliseconds(2500); Clock::now() < until;) {
        const Upsc said = Query("ups-s");
        EXPECT_EQ(said.status, 0) << said.error;
        std::this_thread::sleep_for(milliseconds(250));
    }

    sim->Signal(SIGTERM);
    EXPECT_EQ(sim->Wait(seconds(10)), 0);
    ASSERT_TRUE(ReadUntil(*driver, events, "cycle_failed", "port"));
    EXPECT_NE(QueryStale("ups-s").error.find("Data stale"), std::string::npos);
    while (auto line = driver->ReadLine(milliseconds(0))) {
        events.push_back(ParseJson(*line));
    }
    EXPECT_TRUE(Of(events, "stale").empty()) << "stale at the first failure, not at the third";

    upsd.reset();
    ASSERT_TRUE(ReadUntil(*driver, events, "upsd"));
    EXPECT_EQ(events.back()["state"].asString(), "disconnected");
    driver->Signal(SIGTERM);
    EXPECT_EQ(driver->Wait(seconds(10)), 0) << "a driver told to stop ends well: " << Errors();
    EXPECT_FALSE(fs::exists(Socket("ups-s")));
}

// ---- NUT's web page ---------------------------------------------------------------------------

TEST_F(NutDriver, UpsstatsCgiShowsTheModelTheChargeAndTheThreePhases)
{
    if (!root) {
        GTEST_SKIP() << "Debian's upsstats.cgi reads /etc/nut: a private one is mounted over it, "
                        "which needs root";
    }
    ASSERT_TRUE(fs::exists(kUpsstats)) << "nut-cgi is missing: cmake/install-deps.sh nut installs it";
    StartSim(R"({"steps": [{"name": "on line"}]})");
    WriteNutFiles(UpsConf(Section("ups-c", "\toverride.ups.model = \"Rack 7\"\n"
                                           "\tdefault.battery.voltage.high = 56\n"
                                           "\tdefault.battery.voltage.low = 42\n")));
    StartUpsd();
    auto driver = StartDriver("ups-c");
    ASSERT_EQ(QueryModel("ups-c").variables["ups.model"], "Rack 7");
    const std::string cgi_etc = dir + "/cgi-etc";
    fs::create_directories(cgi_etc);
    for (const char* page : {"upsstats.html", "upsstats-single.html"}) {
        fs::copy_file(std::string("/etc/nut/") + page, cgi_etc + "/" + page);
    }
    std::ofstream(cgi_etc + "/hosts.conf") << "MONITOR ups-c@127.0.0.1:" << port << " \"Room C\"\n";

    Child cgi({"/usr/bin/unshare", "-m", "/bin/sh", "-c",
               "mount --bind \"$1\" /etc/nut && exec " + std::string(kUpsstats), "sh", cgi_etc},
              dir + "/cgi.err", [] {
                  setenv("REQUEST_METHOD", "GET", 1);
                  setenv("QUERY_STRING", "", 1);
                  unsetenv("NUT_CONFPATH");
              });
    std::string html;
    for (auto line = cgi.ReadLine(seconds(10)); line; line = cgi.ReadLine(seconds(10))) {
        html += *line + "\n";
    }
    ASSERT_EQ(cgi.Wait(seconds(10)), 0) << ReadFile(dir + "/cgi.err");
    const std::string page = Squeezed(html);
    for (const char* shown : {">Room C</a>", "Rack 7", "ONLINE", "90 %", "230.5 229.8 231.1",
                              "220 220.1 219.9"}) {
        EXPECT_NE(page.find(shown), std::string::npos) << shown << " in " << html;
    }
}

// ---- Refusals ---------------------------------------------------------------------------------

struct Refusal {
    const char* name;
    std::vector<std::string> args;
    std::string state_path;  // NUT_STATEPATH under the test's folder; "" the usual
    std::string said;
};

void PrintTo(const Refusal& c, std::ostream* out) { *out << c.name; }

class NutDriverRefusal : public NutDriver, public ::testing::WithParamInterface<Refusal> {};

const Refusal kRefusals[] = {
    {"bench_options_are_not_for_a_ups", {"-a", "ups-r", "--port", "/dev/ttyS0"}, "",
     "--port is not for -a"},
    {"driver_options_need_a_ups", {"--port", "/dev/ttyS0", "-u", "nut"}, "",
     "-u, -x, -k, -D and -F are NUT's driver options: give -a NAME"},
    // Given as its own word, "-x" is an option where the name was forgotten.
    {"name_reading_as_an_option_is_refused", {"--ups=-x", "-F"}, "",
     "the UPS name \"-x\": a NUT UPS name may not start with -"},
    {"missing_section_is_named_with_the_nearest", {"-a", "ups-q", "-F"}, "",
     "has no section [ups-q]; did you mean [ups-r]?"},
    {"views_need_the_foreground", {"-a", "ups-r", "--json"}, "", "add -F"},
    {"folder_upsd_cannot_reach_is_refused_with_the_fix", {"-a", "ups-r", "-F", "-u", "nobody"},
     "/hidden/run", "user nobody may not enter the folder "},
};

TEST_P(NutDriverRefusal, EndsWithStatusTwoAndTheReason)
{
    const Refusal& c = GetParam();
    WriteNutFiles(UpsConf(Section("ups-r")));
    const std::string state_path = c.state_path.empty() ? "" : dir + c.state_path;
    if (!state_path.empty()) {
        fs::create_directories(fs::path(state_path).parent_path());
        chmod(fs::path(state_path).parent_path().c_str(), 0700);
    }
    std::vector<std::string> argv{QUILL_SMDHOST};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Child driver(argv, dir + "/smdhost.err", DriverEnvironment(state_path));
    while (driver.ReadLine(seconds(10))) {
    }
    EXPECT_EQ(driver.Wait(seconds(10)), 2);
    EXPECT_NE(Errors().find(c.said), std::string::npos) << Errors();
    if (!state_path.empty()) {
        EXPECT_NE(Errors().find("upsd cannot reach " + state_path + "/smdhost-ups-r"),
                  std::string::npos) << Errors();
    }
}

INSTANTIATE_TEST_SUITE_P(CommandLineAndFolders, NutDriverRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
