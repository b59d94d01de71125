// The bench host as a field engineer meets it: a disk that fills, a folder
// that goes, a second host on the line, typos in a configuration, a stop in
// the middle of an answer, the bytes on the line, many lines at once.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <linux/capability.h>

#include <atomic>
#include <cmath>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <ctime>
#include <random>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "sim/UpsAnswers.h"
#include "tests/e2e/HostFixture.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;

// Root writes through any folder's permissions; without these capabilities
// a child run as root meets them as any user does.
void WithoutOverride()
{
    if (geteuid() == 0) {
        for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
            prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
        }
    }
}

bool Says(const Events& events, const std::string& fragment)
{
    for (const Json::Value& event : events) {
        if (event["detail"].asString().find(fragment) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// ---- Storage faults --------------------------------------------------------------

struct StorageFault {
    const char* name;
    std::function<void(const std::string& state)> before;  // the state folder, before start
    std::function<void(const std::string& state)> during;  // after the first block
    rlim_t file_size_limit;                                 // 0: none
    bool read_only;
    int status;
    std::vector<std::string> said;  // in the details of the events
    std::size_t blocks;             // whole blocks in the history at the end
    // A cache the host must refuse, planted before start: kept aside whole.
    std::function<std::string()> bad_cache = nullptr;
};

// A cached block of the device's as the module stores it, stamped `days`
// from now in local time, with a flag or the data id changed as asked.
std::string CachedBlock(unsigned int data_id, unsigned char suf, int days, int month = 0)
{
    std::string block(kBlockSize, '\0');
    std::memcpy(&block[0], &data_id, sizeof(data_id));
    block[4 + 2] = static_cast<char>(suf);
    const std::time_t when = std::time(nullptr) + days * 86400L;
    std::tm local{};
    localtime_r(&when, &local);
    const std::uint16_t year = static_cast<std::uint16_t>(local.tm_year + 1900);
    std::memcpy(&block[69], &year, sizeof(year));
    const int fields[] = {month != 0 ? month : local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        block[71 + i] = static_cast<char>(fields[i]);
    }
    return block;
}

// `count` bytes: whole blocks of the device's, then part of one.
void WriteBytes(const std::string& path, std::size_t count)
{
    std::string bytes;
    while (bytes.size() + kBlockSize <= count) {
        bytes += CachedBlock(kDataId, 0, -1);
    }
    std::ofstream(path, std::ios::binary) << bytes << std::string(count - bytes.size(), '\x5a');
}

std::string RandomBytes()
{
    std::mt19937 rng(76);
    std::string bytes(kBlockSize, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(rng());
    }
    return bytes;
}

// The host may be replacing its cache in the folder at that moment: a file
// listed for removal can be renamed before it is removed. Try again until
// the folder is gone.
void RemoveWhileTheHostWrites(const std::string& state)
{
    std::error_code raced;
    for (int attempt = 0; attempt < 100 && fs::exists(state); ++attempt) {
        fs::remove_all(state, raced);
    }
    ASSERT_FALSE(fs::exists(state)) << raced.message();
}

const StorageFault kStorageFaults[] = {
    {"torn_tail_is_cut_back_at_start",
     [](const std::string& state) {
         fs::create_directories(state);
         WriteBytes(state + "/42.history", 2 * kBlockSize + 30);
     },
     nullptr, 0, false, 0, {"30 bytes dropped, 2 whole blocks kept"}, 2 + 5},
    {"blocks_of_zeros_a_power_loss_left_are_cut_at_start",
     [](const std::string& state) {
         fs::create_directories(state);
         WriteBytes(state + "/42.history", 2 * kBlockSize);
         std::ofstream(state + "/42.history", std::ios::binary | std::ios::app)
             << std::string(3 * kBlockSize, '\0');
     },
     nullptr, 0, false, 0,
     {"42.history ended in 3 blocks of zeros, left by a power loss: 228 bytes dropped, 2 whole "
      "blocks kept"},
     2 + 5},
    {"temporary_file_of_a_killed_cache_write_is_removed_at_start",
     [](const std::string& state) {
         fs::create_directories(state);
         WriteBytes(state + "/.42.cache.tmp-0123456789ab", kBlockSize);
     },
     nullptr, 0, false, 0,
     {"removed 1 temporary file of a cache write an earlier run left unfinished ("},
     5},
    {"empty_cache_is_kept_aside_not_blamed_on_the_module", nullptr, nullptr, 0, false, 0,
     {"42.cache is refused: it holds 0 bytes, not one 76-byte block; kept aside as "}, 5,
     [] { return std::string(); }},
    {"cache_of_another_device_is_kept_aside", nullptr, nullptr, 0, false, 0,
     {"42.cache is refused: it holds the block of data id 1001, not this device's 42; "
      "kept aside as ",
      ", and the device starts without it"},
     5, [] { return CachedBlock(1001, 0, -1); }},
    {"cache_of_77_bytes_is_kept_aside", nullptr, nullptr, 0, false, 0,
     {"42.cache is refused: it holds 77 bytes, not one 76-byte block; kept aside as "}, 5,
     [] { return CachedBlock(kDataId, 0, -1) + "x"; }},
    {"random_bytes_as_cache_are_kept_aside", nullptr, nullptr, 0, false, 0,
     {"42.cache is refused: it holds the block of data id ", "; its flags are 0 or 1, not SOK ",
      "is no real time; kept aside as "},
     5, RandomBytes},
    {"cache_with_a_bad_flag_is_kept_aside", nullptr, nullptr, 0, false, 0,
     {"42.cache is refused: its flags are 0 or 1, not SUF 7; kept aside as "}, 5,
     [] { return CachedBlock(kDataId, 7, 0); }},
    {"cache_of_an_impossible_month_is_kept_aside", nullptr, nullptr, 0, false, 0,
     {"is no real time; kept aside as "}, 5, [] { return CachedBlock(kDataId, 1, 0, 13); }},
    {"cache_from_the_future_is_kept_aside", nullptr, nullptr, 0, false, 0,
     {"ahead of this machine's clock (the cache or the clock is wrong); kept aside as "}, 5,
     [] { return CachedBlock(kDataId, 1, 400); }},
    {"full_disk_leaves_whole_blocks_only", nullptr, nullptr, 3 * kBlockSize + 40, false, 3,
     {"42.history: File too large"}, 3},
    {"folder_made_read_only_is_named_with_the_reason", nullptr,
     [](const std::string& state) {
         fs::permissions(state, fs::perms::owner_read | fs::perms::owner_exec);
     },
     0, true, 3, {"42.cache: Permission denied"}, 5},
    {"folder_that_disappears_is_noticed", nullptr, RemoveWhileTheHostWrites, 0, false, 3,
     {"42.history, it was removed: No such file or directory"}, 0},
};

class StorageFaults : public EndToEnd, public ::testing::WithParamInterface<StorageFault> {};

TEST_P(StorageFaults, AreShownOnceWithTheFileAndTheReasonAndLeaveWholeBlocks)
{
    const StorageFault& fault = GetParam();
    if (fault.before) {
        fault.before(state);
    }
    const std::string planted = fault.bad_cache ? fault.bad_cache() : "";
    if (fault.bad_cache) {
        fs::create_directories(state);
        std::ofstream(state + "/42.cache", std::ios::binary) << planted;
    }
    StartSim(R"({"steps": [{"name": "on line"}]})");
    auto host = StartHost(WriteConfig(2.0), "5", {"--module-output", "/dev/null"}, [&] {
        if (fault.file_size_limit > 0) {
            const rlimit limit{fault.file_size_limit, fault.file_size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (fault.read_only) {
            WithoutOverride();
        }
    });
    Events events;
    if (fault.during) {
        ASSERT_TRUE(ReadUntil(*host, events, "block")) << Errors();
        fault.during(state);
    }
    EXPECT_EQ(Finish(*host, events), fault.status) << Errors();

    for (const std::string& fragment : fault.said) {
        EXPECT_TRUE(Says(events, fragment)) << fragment;
    }
    std::map<std::string, int> failed_per_file;
    for (const Json::Value& event : Of(events, "storage")) {
        failed_per_file[event["file"].asString()] += event["state"] == "failed";
    }
    for (const auto& [file, failed] : failed_per_file) {
        EXPECT_EQ(failed, 1) << file << " is shown once, then counted";
    }
    EXPECT_EQ(Cycles(Of(events, "block")), (std::vector<unsigned int>{1, 2, 3, 4, 5}));
    for (const Json::Value& block : Of(events, "block")) {
        EXPECT_EQ(block["block"]["data_id"].asUInt(), kDataId) << "only the device's own id";
    }
    EXPECT_EQ(History().size(), fault.blocks * kBlockSize);
    if (fault.bad_cache) {
        std::vector<std::string> aside;
        for (const auto& entry : fs::directory_iterator(state)) {
            if (entry.path().filename().string().rfind("42.cache.rejected-", 0) == 0) {
                aside.push_back(ReadFile(entry.path()));
            }
        }
        EXPECT_EQ(aside, std::vector<std::string>{planted}) << "kept aside whole, once";
    }
}

void PrintTo(const StorageFault& fault, std::ostream* out) { *out << fault.name; }

INSTANTIATE_TEST_SUITE_P(Table, StorageFaults, ::testing::ValuesIn(kStorageFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Values the module reads in part -----------------------------------------------

// A UPS on a pseudo-terminal that the test answers itself, for an answer the
// simulator never sends: the status answer to each "RS\r", `data` to each "RD\r".
class ScriptedUps {
public:
    ScriptedUps(const std::string& link, const std::string& data)
        : master_(posix_openpt(O_RDWR | O_NOCTTY))
    {
        grantpt(master_);
        unlockpt(master_);
        terminal_ = open(ptsname(master_), O_RDWR | O_NOCTTY);  // kept open: no hang-up
        fs::create_symlink(ptsname(master_), link);
        thread_ = std::thread([this, data] {
            const std::string status = ups_answers::StatusAnswer(ups_answers::OnLine());
            for (char byte = 0; !stop_;) {
                pollfd in{master_, POLLIN, 0};
                if (poll(&in, 1, 20) == 1 && read(master_, &byte, 1) == 1 && byte == '\r') {
                    const std::string& answer = (said_++ % 2 == 0) ? status : data;
                    stop_ = stop_ || write(master_, answer.data(), answer.size()) < 0;
                }
            }
        });
    }
    ~ScriptedUps()
    {
        stop_ = true;
        thread_.join();
        close(terminal_);
        close(master_);
    }

private:
    int master_;
    int terminal_ = -1;
    unsigned int said_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(EndToEnd, ValuesTheModuleStoresInPartOrNotFiniteAreNamedOnTheirCycle)
{
    std::vector<ups_answers::Line> lines = ups_answers::DataLines(ups_answers::OnLine());
    lines[0].value = "230.5V";
    lines[9].value = "nan";
    ScriptedUps ups(line, ups_answers::Join(lines));
    Events events;
    EXPECT_EQ(RunHost(WriteConfig(2.0), 2, events, {"--trace", "--module-output", "/dev/null"}),
              0)
        << Errors();

    const Events warnings = Of(events, "warning");
    EXPECT_EQ(Cycles(warnings), (std::vector<unsigned int>{1, 2}));
    EXPECT_EQ(warnings.at(0)["detail"].asString(),
              "values only in part a number or not finite, stored as the module read them: "
              "DVIA \"230.5V\" stored as 230.5 (only \"230.5\" of it is a number); DTMP "
              "\"nan\" stored as nan (no finite number)");
    EXPECT_EQ(Of(events, "trace").at(3)["bytes"].asString().rfind("DVIA230.5V\\r\\n", 0), 0u)
        << "the trace shows the answer as it came";
    float stored[2];
    std::memcpy(&stored[0], History().data() + 4 + 5, sizeof(float));   // DVIA
    std::memcpy(&stored[1], History().data() + 4 + 41, sizeof(float));  // DTMP
    EXPECT_EQ(stored[0], 230.5f);
    EXPECT_TRUE(std::isnan(stored[1]));
}

// ---- Port faults -------------------------------------------------------------------

struct PortFault {
    const char* name;
    std::function<std::string(const std::string& dir)> port;  // the port to give
    bool held;  // another smdhost holds the simulated line
    std::vector<std::string> options;  // DIR: the test's folder
    int status;
    std::string said;  // on standard error or in an event's detail
    bool as_user;      // run without root's override of permissions
};

// The simulated line's terminal given to user 1 and the group dialout, as a
// USB serial adapter's port is.
std::string DialoutPort(const std::string& dir)
{
    const std::string line = dir + "/ups";
    const group* dialout = getgrnam("dialout");
    const std::string terminal = fs::read_symlink(line).string();
    if (dialout == nullptr || chown(terminal.c_str(), 1, dialout->gr_gid) != 0 ||
        chmod(terminal.c_str(), 0660) != 0) {
        ADD_FAILURE() << "cannot give " << terminal << " to the group dialout";
    }
    return line;
}

// Two devices, the second on a link to the first one's port.
std::string TwoDevicesOnOnePort(const std::string& dir)
{
    fs::create_symlink(dir + "/ups", dir + "/ups-too");
    std::ofstream(dir + "/two.json") << R"({"devices": [{"data_id": 1, "port": "ups"},
                                                        {"data_id": 2, "port": "ups-too"}]})";
    return dir + "/ups";
}

std::string Line(const std::string& dir) { return dir + "/ups"; }

// The line, with the folder "second" ('s', the state folder) or "locked" ('l')
// made read-only.
template <char kFolder>
std::string ReadOnlyFolder(const std::string& dir)
{
    const std::string folder = dir + (kFolder == 's' ? "/second" : "/locked");
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    return Line(dir);
}

const PortFault kPortFaults[] = {
    {"second_host_on_the_line_stops_naming_the_first", Line, true, {}, 4,
     "is held by smdhost (pid ", false},
    {"regular_file_is_refused_at_start",
     [](const std::string& dir) {
         std::ofstream(dir + "/file") << "x";
         return dir + "/file";
     },
     false, {}, 4, "is a regular file, not a terminal", false},
    {"dev_null_is_refused_at_start", [](const std::string&) { return std::string("/dev/null"); },
     false, {}, 4, "is a character device that is no terminal", false},
    {"folder_is_refused_at_start", [](const std::string& dir) { return dir; }, false, {}, 4,
     "is a folder, not a terminal", false},
    {"missing_port_is_looked_for_each_cycle",
     [](const std::string& dir) { return dir + "/not-yet"; }, false, {}, 1,
     "No such file or directory", false},
    {"no_cycles_is_refused", Line, false, {"--cycles", "0"}, 2, "--cycles 0 would run no cycle",
     false},
    {"port_named_without_dev_is_refused_naming_the_device",
     [](const std::string&) { return std::string("null"); }, false, {}, 4,
     "port null does not exist; did you mean /dev/null? Give the device's full path", false},
    {"port_of_a_group_the_user_is_not_in_names_the_group_and_how_to_join_it", DialoutPort, false,
     {}, 4,
     "Permission denied: it belongs to the group dialout (mode 0660) and you (user root) are "
     "not in it: add yourself to the group dialout: sudo usermod -aG dialout $USER, then log "
     "in again",
     true},
    {"state_folder_the_user_cannot_write_is_refused_at_start", ReadOnlyFolder<'s'>, false, {}, 2,
     "second: you (user root) may not write to it (it belongs to user root, mode 0500), so "
     "every block would be lost; give --state-dir a folder you can write to",
     true},
    {"state_folder_the_user_cannot_make_is_refused_at_start", ReadOnlyFolder<'l'>, false,
     {"--state-dir", "DIR/locked/state"}, 2,
     "locked/state: Permission denied; give --state-dir a folder you can write to", true},
    {"two_devices_on_one_port_are_refused_naming_both", TwoDevicesOnOnePort, false,
     {"--config", "DIR/two.json"}, 2,
     "devices 1 (ups-1, data id 1) and 2 (ups-2, data id 2) both use the port ", false},
};

class PortFaults : public EndToEnd, public ::testing::WithParamInterface<PortFault> {};

TEST_P(PortFaults, AreRefusedOrRetriedWithAClearMessage)
{
    const PortFault& fault = GetParam();
    StartSim(R"({"steps": [{"name": "on line"}]})");
    std::unique_ptr<Child> first;
    std::string said = fault.said;
    if (fault.held) {
        first = StartHost(WriteConfig(2.0), "");
        Events started;
        ASSERT_TRUE(ReadUntil(*first, started, "block")) << Errors();
        said += std::to_string(first->Pid()) + ")";
    }
    std::vector<std::string> argv{QUILL_SMDHOST, "--json", "--module", QUILL_MODULE, "--port",
                                  fault.port(dir), "--state-dir", dir + "/second"};
    for (std::string option : fault.options) {
        const std::size_t at = option.find("DIR");
        argv.push_back(at == std::string::npos ? option : option.replace(at, 3, dir));
    }
    if (std::find(argv.begin(), argv.end(), "--cycles") == argv.end()) {
        argv.insert(argv.end(), {"--cycles", "2"});
    }
    Child host(argv, dir + "/smdhost.err", [&] {
        if (fault.as_user) {
            WithoutOverride();
        }
    });
    Events events;
    EXPECT_EQ(Finish(host, events), fault.status);
    EXPECT_TRUE(Says(events, said) || Errors().find(said) != std::string::npos)
        << said << "\n" << Errors();
    if (fault.status == 4) {
        EXPECT_TRUE(Of(events, "cycle_failed").empty()) << "refused at start, not retried";
    }
}

void PrintTo(const PortFault& fault, std::ostream* out) { *out << fault.name; }

INSTANTIATE_TEST_SUITE_P(Table, PortFaults, ::testing::ValuesIn(kPortFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- A port tried before anything is configured -----------------------------------

struct ProbeCase {
    const char* name;
    const char* faults;  // of the simulated UPS, "" for none
    std::function<std::string(const std::string& dir)> port;
    bool held;     // another smdhost polls the line
    bool as_user;  // run without root's override of permissions
    int status;
    std::vector<std::string> said;  // on standard output, in order
};

const ProbeCase kProbeCases[] = {
    {"ups_that_answers_is_read_by_the_module", "", Line, false, false, 0,
     {"serial ports on this machine:", "sent \"RS\\r\"",
      "  received 47 bytes in ", "the module took the status answer and asks for the data",
      "sent \"RD\\r\"", "  the module published a block: SOK0 SBP0 SUF0 SBL0 SBM0 DVIA=230.5",
      "verdict: a UPS answers on "}},
    {"silent_line_is_told_to_check_the_cable", "silence", Line, false, false, 1,
     {"  nothing came within 0.3 s", "  nothing came within 0.3 s",
      "verdict: nothing answers on ", ": check the cable"}},
    {"bad_digit_is_refused_naming_the_line", "bad-digit", Line, false, false, 1,
     {"  the module refused it: line ", "not 0 or 1",
      "  not handed to the module, which did not take the status answer",
      "verdict: something answers on "}},
    {"port_named_without_dev_is_named_with_it",
     "", [](const std::string&) { return std::string("null"); }, false, false, 4,
     {"verdict: null does not exist; did you mean /dev/null?"}},
    {"port_of_a_group_the_user_is_not_in_names_how_to_join_it", "", DialoutPort, false, true, 4,
     {"verdict: you may not open ", "add yourself to the group dialout: sudo usermod -aG "
                                    "dialout $USER, then log in again"}},
    {"port_held_by_a_running_host_names_it", "", Line, true, false, 4,
     {"verdict: port ", " is held by smdhost (pid "}},
};

class PortProbe : public EndToEnd, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(PortProbe, ShowsTheAnswersWhatTheModuleMadeOfThemAndAVerdict)
{
    const ProbeCase& probe = GetParam();
    StartSim(std::string(R"({"steps": [{"name": "on line")") +
             (*probe.faults ? std::string(R"(, "faults": {")") + probe.faults + R"(": 1})" : "") +
             "}]}");
    // An answer that came is not waited on for the rest of the answer timeout:
    // past the wait below, a minute is reached only by a probe that waits it out.
    const std::string config = WriteConfig(std::string(probe.faults) == "silence" ? 0.3 : 60.0);
    std::unique_ptr<Child> first;
    if (probe.held) {
        first = StartHost(config, "");
        Events started;
        ASSERT_TRUE(ReadUntil(*first, started, "block")) << Errors();
    }
    Child host({QUILL_SMDHOST, "--probe", probe.port(dir), "--config", config},
               dir + "/smdhost.err", [&] {
                   if (probe.as_user) {
                       WithoutOverride();
                   }
               });
    EXPECT_EQ(host.Wait(seconds(20)), probe.status) << Errors();
    std::string out;
    for (auto said = host.ReadLine(seconds(1)); said; said = host.ReadLine(seconds(1))) {
        out += *said + "\n";
    }
    std::size_t at = 0;
    for (const std::string& fragment : probe.said) {
        at = out.find(fragment, at);
        ASSERT_NE(at, std::string::npos) << fragment << " in\n" << out;
    }
    EXPECT_EQ(out.find("verdict: "), out.rfind("verdict: ")) << "one verdict, last";
    EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1).rfind("verdict: ", 0), 0u) << out;
}

void PrintTo(const ProbeCase& probe, std::ostream* out) { *out << probe.name; }

INSTANTIATE_TEST_SUITE_P(Table, PortProbe, ::testing::ValuesIn(kProbeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Configuration faults ----------------------------------------------------------

struct ConfigFault {
    const char* name;
    const char* device;    // members of the one device, after "data_id" and "port"
    const char* top;       // members at the top, after "module", "state_dir" and "devices"
    std::string said;      // on standard error
};

const ConfigFault kConfigFaults[] = {
    {"misspelt_poll_interval", R"("poll_intervall": 5)", "",
     R"(:4: device 1: unknown key "poll_intervall"; did you mean "poll_interval"?)"},
    {"misspelt_answer_timeout", R"("answer_timout": 5)", "",
     R"(device 1: unknown key "answer_timout"; did you mean "answer_timeout"?)"},
    {"misspelt_app_setting", R"("settings": {"appSettings": {"b_mode": 3}})", "",
     R"(device 1, settings: unknown key "appSettings"; did you mean "appSetting"?)"},
    {"misspelt_signal", R"("settings": {"thresholdSetting": {"sufx": {"Level": 2}}})", "",
     R"(settings.thresholdSetting: unknown key "sufx"; did you mean "suf"?)"},
    {"misspelt_top_key", "", R"("modul": "x.so")",
     R"(configuration: unknown key "modul"; did you mean "module"?)"},
    {"interval_as_text", R"("poll_interval": "5")", "",
     R"("poll_interval" is a number of seconds from 0 to 86400, not a text)"},
    {"name_as_number", R"("name": 5)", "", R"(device 1: "name" is a text, not a whole number)"},
    {"level_as_text", R"("settings": {"thresholdSetting": {"suf": {"Level": "2"}}})", "",
     R"(suf: "Level" is a whole number from -2147483648 to 2147483647, not a text)"},
    {"key_given_twice", R"("port": "/dev/ttyUSB1")", "", "typo.json:4:3: the key 'port' is given twice"},
    {"missing_comma", R"("name": "a" "poll_interval": 5)", "",
     R"(typo.json:4:15: a ',' or '}' is missing before "poll_interval": 5}]})"},
    {"trailing_comma", R"("name": "a",)", "",
     "typo.json:4:15: a comma before '}'; JSON allows no trailing comma"},
    {"comment", R"("name": "a" // room b)", "", "typo.json:4:15: a comment; JSON has none"},
    {"negative_interval", R"("poll_interval": -1)", "",
     R"(device 1: "poll_interval" is a number of seconds from 0 to 86400, not -1)"},
    {"history_under_one_block", R"("history_max_bytes": 75)", "",
     R"("history_max_bytes" is 0 (no limit) or from 76 (one block) to 1099511627776, not 75)"},
    {"cache_interval_as_text", R"("cache_interval": "1h")", "",
     R"("cache_interval" is a number of seconds from 0 to 86400, not a text)"},
};

class ConfigFaults : public EndToEnd, public ::testing::WithParamInterface<ConfigFault> {};

TEST_P(ConfigFaults, AreRefusedNamingTheKeyTheLineAndTheFix)
{
    const ConfigFault& fault = GetParam();
    const std::string config = dir + "/typo.json";
    std::ofstream(config) << "{\"module\": \"" << QUILL_MODULE << "\",\n \"state_dir\": \"state\",\n"
                          << " \"devices\": [{\"data_id\": 42, \"port\": \"ups\""
                          << (*fault.device ? ",\n  " : "") << fault.device << "}]" << (*fault.top ? ",\n " : "") << fault.top
                          << "}\n";
    Child host({QUILL_SMDHOST, "--config", config, "--cycles", "1"}, dir + "/smdhost.err");
    EXPECT_EQ(host.Wait(seconds(10)), 2);
    EXPECT_NE(Errors().find(fault.said), std::string::npos) << Errors();
}

void PrintTo(const ConfigFault& fault, std::ostream* out) { *out << fault.name; }

INSTANTIATE_TEST_SUITE_P(Table, ConfigFaults, ::testing::ValuesIn(kConfigFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EndToEnd, PathsOfAConfigurationAreTakenFromItsFolderWhereverTheHostRuns)
{
    StartSim(R"({"steps": [{"name": "on line"}]})");
    fs::create_directories(dir + "/site");
    const std::string module = fs::relative(QUILL_MODULE, dir + "/site").string();
    std::ofstream(dir + "/site/ups.json")
        << R"({"module": ")" << module << R"(", "state_dir": "state",
              "devices": [{"data_id": 42, "port": "../ups", "poll_interval": 0.02}]})";
    Child host({QUILL_SMDHOST, "--config", dir + "/site/ups.json", "--cycles", "1"},
               dir + "/smdhost.err", [] { chdir("/"); });
    EXPECT_EQ(host.Wait(seconds(20)), 0) << Errors();
    EXPECT_EQ(ReadFile(dir + "/site/state/42.history").size(), kBlockSize);
}

TEST_F(EndToEnd, ModuleNamedWithoutASlashIsLoadedFromTheCurrentFolder)
{
    StartSim(R"({"steps": [{"name": "on line"}]})");
    const fs::path module(QUILL_MODULE);
    Child host({QUILL_SMDHOST, "--module", module.filename().string(), "--port", line,
                "--state-dir", dir + "/state", "--cycles", "1"},
               dir + "/smdhost.err", [&] { chdir(module.parent_path().c_str()); });
    EXPECT_EQ(host.Wait(seconds(20)), 0) << Errors();
}

// ---- Stop at once; see the line ----------------------------------------------------

TEST_F(EndToEnd, SignalsEndTheWaitForAnAnswerWithoutFailingTheCycle)
{
    const std::map<int, std::string> kSignals = {
        {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
    for (const auto& [signal, name] : kSignals) {
        StartSim(R"({"steps": [{"polls": 1}, {"name": "silent", "faults": {"silence": 1}}]})");
        auto host = StartHost(WriteConfig(600.0), "", {"--trace", "--no-cache"});
        Events events;
        do {
            ASSERT_TRUE(ReadUntil(*host, events, "trace")) << name;
        } while (events.back()["cycle"].asUInt() < 2);  // the second "RS\r" is on its way
        host->Signal(signal);
        // Far less than the answer timeout: the wait itself was ended.
        EXPECT_EQ(Finish(*host, events), 0) << name << Errors();
        const Events stopping = Of(events, "stopping");
        ASSERT_EQ(stopping.size(), 1u) << name;
        EXPECT_EQ(stopping[0]["signal"].asString(), name);
        ASSERT_EQ(Of(events, "summary").size(), 1u) << name;
        const Json::Value summary = Of(events, "summary").at(0);
        EXPECT_EQ(summary["failed"].asUInt(), 0u) << name;
        EXPECT_TRUE(summary["interrupted"].asBool()) << name;
    }
}

TEST_F(EndToEnd, ClosedOutputStopsTheHostBetweenCyclesWithHistoryAndCacheOnOneBlock)
{
    StartSim(R"({"steps": [{"name": "on line", "flags": {"SUF": 1}}]})");
    const std::string config = WriteConfig(2.0);
    for (const int lines : {1, 4, 9, 17, 30}) {  // what `| head -N` reads before it goes
        Child host({QUILL_SMDHOST, "--config", config, "--module-output", "/dev/null"},
                   dir + "/smdhost.err");
        for (int line = 0; line < lines; ++line) {
            ASSERT_TRUE(host.ReadLine(seconds(20))) << Errors();
        }
        host.CloseOutput();
        EXPECT_EQ(host.Wait(seconds(20)), 0) << "not ended by SIGPIPE (141)";
        const std::string history = History();
        EXPECT_EQ(history.size() % kBlockSize, 0u);
        EXPECT_EQ(ReadFile(state + "/42.cache"),
                  history.substr(history.size() - std::min(history.size(), kBlockSize)))
            << "after " << lines << " lines";
    }
}

TEST_F(EndToEnd, TraceShowsEachCommandAndAnswerOnALineAndEachRunInAFileUnderAHeader)
{
    StartSim(R"({"steps": [{"name": "on line", "faults": {"split": 1}}]})");
    Events events;
    ASSERT_EQ(RunHost(WriteConfig(2.0), 1, events, {"--trace"}), 0) << Errors();
    std::vector<std::string> seen;
    for (const Json::Value& trace : Of(events, "trace")) {
        EXPECT_EQ(trace["cycle"].asUInt(), 1u);
        EXPECT_EQ(trace["data_id"].asUInt(), kDataId);
        seen.push_back(trace["direction"].asString() + " " + trace["bytes"].asString());
        if (trace["direction"] == "received") {
            EXPECT_GT(trace["chunks"].asUInt(), 1u) << "the split answer, joined";
            EXPECT_LE(trace["first"].asString(), trace["last"].asString());
        }
    }
    ASSERT_EQ(seen.size(), 4u) << ::testing::PrintToString(seen);
    EXPECT_EQ(seen[0], "sent RS\\r");
    EXPECT_EQ(seen[1].rfind("received SOK0\\r\\nSBP0\\r\\n", 0), 0u) << seen[1];
    EXPECT_EQ(seen[1].size() - seen[1].rfind("\\r\\n"), 4u) << "the whole answer: " << seen[1];
    EXPECT_EQ(seen[2], "sent RD\\r");
    EXPECT_EQ(seen[3].rfind("received DVIA", 0), 0u) << seen[3];

    const std::string file = dir + "/trace.txt";
    for (int run = 0; run < 2; ++run) {
        Events to_file;
        ASSERT_EQ(RunHost(WriteConfig(2.0), 1, to_file, {"--trace=" + file}), 0);
        EXPECT_TRUE(Of(to_file, "trace").empty());
    }
    std::istringstream trace(ReadFile(file));
    Events written;
    for (std::string line; std::getline(trace, line);) {
        written.push_back(ParseJson(line));
    }
    ASSERT_EQ(written.size(), 2 * (1 + 4u));
    for (const std::size_t header : {0u, 5u}) {
        EXPECT_EQ(written[header]["event"].asString(), "run");
        EXPECT_FALSE(written[header]["version"].asString().empty());
        EXPECT_EQ(written[header]["command_line"][0].asString(), QUILL_SMDHOST);
        EXPECT_EQ(written[header]["command_line"][2].asString(), "--config");
    }
    EXPECT_EQ(written[1]["bytes"].asString(), "RS\\r");
    EXPECT_EQ(written[1]["time"].asString().size(), 29u) << "milliseconds and offset";
}

// A UPS that answers at 600 bit/s (upssim's own pace; the host's pseudo-terminal
// stays at the module's 2400): its data answer takes 2.6 s. Timed by the line's
// quiet, an answer longer than answer_timeout completes, each answer is one line
// of the trace, read in far fewer reads than bytes.
TEST_F(EndToEnd, AnswersAt600BitPerSecondAreReadWholeInAFewReadsTimedByTheLinesQuiet)
{
    if (SlowedDown()) {
        GTEST_SKIP() << "paced: not under ThreadSanitizer";
    }
    sim = StartSimAt(line, R"({"steps": [{"name": "on line"}]})", {"--baud", "600"}, true);
    Events events;
    ASSERT_EQ(RunHost(WriteConfig(1.0), 1, events, {"--trace"}), 0) << Errors();
    std::vector<std::size_t> answers;
    for (const Json::Value& trace : Of(events, "trace")) {
        if (trace["direction"] == "received") {
            answers.push_back(trace["length"].asUInt());
            EXPECT_LT(trace["chunks"].asUInt() * 4, trace["length"].asUInt()) << trace;
        }
    }
    EXPECT_EQ(answers, (std::vector<std::size_t>{47, 156})) << "one line per answer";
}

// An answer still coming after three times answer_timeout fails its cycle
// naming answer_timeout; its rest is let through and thrown away before the
// next command, so each cycle fails for its own reason, never spoiled by it.
TEST_F(EndToEnd, AnswerStillComingAfterThreeTimeoutsFailsNamingItAndItsRestIsThrownAway)
{
    if (SlowedDown()) {
        GTEST_SKIP() << "paced: not under ThreadSanitizer";
    }
    sim = StartSimAt(line, R"({"steps": [{"name": "on line"}]})", {}, true);
    Events events;
    // 0.2 s: the data answer's 650 ms at 2400 bit/s are longer than three times that.
    EXPECT_EQ(RunHost(WriteConfig(0.2), 2, events, {"--trace"}), 1) << Errors();
    const Events failed = Of(events, "cycle_failed");
    ASSERT_EQ(Cycles(failed), (std::vector<unsigned int>{1, 2}));
    for (const Json::Value& failure : failed) {
        const std::string detail = failure["detail"].asString();
        EXPECT_NE(detail.find("\"RD\\r\" within 0.6 s ("), std::string::npos) << detail;
        EXPECT_NE(detail.find("bytes were still arriving"), std::string::npos) << detail;
        EXPECT_NE(detail.find("longer answer_timeout"), std::string::npos) << detail;
    }
    const Events traces = Of(events, "trace");
    EXPECT_TRUE(std::any_of(traces.begin(), traces.end(), [](const Json::Value& trace) {
        return trace["direction"] == "discarded" && trace["cycle"].asUInt() == 2u &&
               trace["bytes"].asString().find("DVBL20.0\\r\\n") != std::string::npos;
    })) << "the rest of the data answer, to its last line";
}

// ---- Unattended ---------------------------------------------------------------------

TEST_F(EndToEnd, InitScriptStartsTheHostInASessionOfItsOwnStopsItAndTellsItsStatus)
{
    StartSim(R"({"steps": [{"name": "on line"}]})");
    const std::string defaults = dir + "/defaults";
    const std::string log = dir + "/service.log";
    auto write_defaults = [&](const std::string& config) {
        std::ofstream(defaults) << "SMDHOST=" << QUILL_SMDHOST << "\nSMDHOST_CONFIG=" << config
                                << "\nSMDHOST_OPTIONS=\"--json --module-output /dev/null\""
                                << "\nSMDHOST_LOG=" << log << "\nSMDHOST_RUN=" << dir << "/run\n";
    };
    auto script = [&](const std::string& action, std::string& said) {
        Child run({"/bin/sh", QUILL_SOURCE_DIR "/tools/smdhost/service/smdhost.init", action},
                  dir + "/script.err",
                  [&] { setenv("SMDHOST_DEFAULTS", defaults.c_str(), 1); });
        const int status = run.Wait(seconds(30));
        said.clear();
        for (auto line = run.ReadLine(seconds(1)); line; line = run.ReadLine(seconds(1))) {
            said += *line + "\n";
        }
        return status;
    };
    write_defaults(WriteConfig(2.0));
    std::string said;
    ASSERT_EQ(script("start", said), 0) << ReadFile(dir + "/script.err");
    EXPECT_EQ(said.rfind("smdhost started (pid ", 0), 0u) << said;
    const pid_t pid = std::stoi(ReadFile(dir + "/run/smdhost.pid"));
    EXPECT_NE(getsid(pid), getsid(0)) << "a closed terminal does not reach it";
    EXPECT_EQ(script("status", said), 0);
    EXPECT_EQ(said, "smdhost is running (pid " + std::to_string(pid) + ")\n");
    for (int wait = 0; wait < 100 && ReadFile(log).find("\"block\"") == std::string::npos; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(script("stop", said), 0);
    EXPECT_EQ(said, "smdhost stopped\n");
    EXPECT_EQ(script("status", said), 3);
    EXPECT_EQ(said, "smdhost is not running; it ended with status 0\n");
    EXPECT_NE(ReadFile(log).find(R"("signal":"SIGTERM")"), std::string::npos) << ReadFile(log);
    EXPECT_NE(ReadFile(log).find(R"("event":"summary")"), std::string::npos);

    write_defaults(dir + "/missing.json");
    EXPECT_EQ(script("start", said), 1);
    EXPECT_NE(ReadFile(dir + "/script.err").find("smdhost did not start (status 2); "),
              std::string::npos)
        << ReadFile(dir + "/script.err");
    EXPECT_NE(ReadFile(dir + "/script.err").find("cannot read " + dir + "/missing.json"),
              std::string::npos);
}

// ---- Many lines at once ------------------------------------------------------------

TEST_F(EndToEnd, EightDevicesOnEightLinesWithFaultsKeepTheirOwnCounts)
{
    constexpr unsigned int kDevices = 8;
    constexpr unsigned int kCycles = 25;
    std::vector<std::unique_ptr<Child>> sims;
    Json::Value devices;
    for (unsigned int i = 0; i < kDevices; ++i) {
        const std::string link = dir + "/ups" + std::to_string(i);
        sims.push_back(StartSimAt(link, R"({"steps": [{"name": "rough line"}]})",
                                  {"--seed", std::to_string(i + 1), "--fault", "split=0.3",
                                   "--fault", "garbled=0.1", "--fault", "bad-digit=0.1"}));
        devices[i]["data_id"] = 100 + i;
        devices[i]["port"] = link;
    }
    Events events;
    const int status = RunHost(WriteConfig(1.0, devices), kCycles, events);
    EXPECT_TRUE(status == 0 || status == 1) << status << Errors();

    const Events summaries = Of(events, "summary");
    ASSERT_EQ(summaries.size(), kDevices);
    for (const Json::Value& summary : summaries) {
        const unsigned int id = summary["data_id"].asUInt();
        EXPECT_EQ(summary["completed"].asUInt() + summary["failed"].asUInt(), kCycles) << id;
        const std::string history = ReadFile(dir + "/state/" + std::to_string(id) + ".history");
        EXPECT_EQ(history.size(), summary["completed"].asUInt() * kBlockSize) << id;
    }
}

}  // namespace
