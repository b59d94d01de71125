#include "bench/sidebyside/Contenders.h"

#include <pwd.h>
#include <stdlib.h>
#include <stdio.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include <json/value.h>
#include <json/writer.h>

#include "bench/sidebyside/StraceSummary.h"
#include "tests/e2e/Child.h"
#include "tests/e2e/LoopbackPort.h"

#if !defined(QUILL_SMDHOST) || !defined(QUILL_MODULE) || !defined(QUILL_UPSSIM) || \
    !defined(QUILL_Q1SIM)
#error "QUILL_SMDHOST, QUILL_MODULE, QUILL_UPSSIM and QUILL_Q1SIM name the built programs"
#endif

namespace side_by_side {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

constexpr const char* kNutdrvQx = "/lib/nut/nutdrv_qx";
constexpr const char* kUpsd = "/lib/nut/upsd";
constexpr const char* kStrace = "/usr/bin/strace";
constexpr unsigned int kPollSeconds = 1;
// The status polls nutdrv_qx (NUT 2.8.0) makes before the first of its loop:
// two as its megatec subdriver claims the UPS, one as it starts.
constexpr unsigned int kQxStartPolls = 3;
// What a cycle of the bench host puts on the line: "RS\r", the 47-byte status
// answer, "RD\r", the 156-byte data answer. A poll of nutdrv_qx: "Q1\r" and
// its 47-byte answer.
constexpr unsigned int kBenchHostBytes = 209;
constexpr unsigned int kQxBytes = 50;

std::string Environment(const char* name, const char* built)
{
    const char* set = std::getenv(name);
    return set != nullptr && *set != '\0' ? set : built;
}

// A folder of the run's own, removed with all in it.
class Folder {
public:
    Folder()
    {
        const fs::path pattern = fs::temp_directory_path() / "quill-side-XXXXXX";
        std::string name = pattern.string();
        if (mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("cannot make a folder in " + pattern.parent_path().string());
        }
        path_ = name;
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
}

// The end of what a program said on its standard error, to end a message
// with (": ...", or nothing when it said nothing).
std::string Said(const std::string& file)
{
    std::ifstream in(file);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (text.empty()) {
        return "";
    }
    return ": " + (text.size() > 600 ? "..." + text.substr(text.size() - 600) : text);
}

double Micros(const timeval& time) { return time.tv_sec * 1e6 + time.tv_usec; }

Cost CostOf(const Child& child)
{
    const rusage& usage = child.Usage();
    Cost cost;
    cost.cpu_us = Micros(usage.ru_utime) + Micros(usage.ru_stime);
    cost.switches = static_cast<double>(usage.ru_nvcsw + usage.ru_nivcsw);
    return cost;
}

std::string UserName()
{
    const passwd* user = getpwuid(geteuid());
    return user != nullptr ? user->pw_name : "root";
}

std::function<void()> NutEnvironment(const std::string& etc, const std::string& state)
{
    return [etc, state] {
        setenv("NUT_CONFPATH", etc.c_str(), 1);
        setenv("NUT_STATEPATH", state.c_str(), 1);
    };
}

void WaitFor(const std::string& path, const std::string& what, const std::string& errors)
{
    for (const auto deadline = Child::Clock::now() + seconds(20); !fs::exists(path);) {
        if (Child::Clock::now() >= deadline) {
            throw std::runtime_error(what + " did not come in 20 s" + Said(errors));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Starts a simulator and waits until it says where its line is.
std::unique_ptr<Child> StartSim(const std::vector<std::string>& argv, const std::string& errors)
{
    auto sim = std::make_unique<Child>(argv, errors);
    for (auto said = sim->ReadLine(seconds(10)); said; said = sim->ReadLine(seconds(10))) {
        if (said->find(": UPS on ") != std::string::npos) {
            return sim;
        }
    }
    const int status = sim->Wait(seconds(2));
    const std::string why = status == 127  ? " (it cannot be run)"
                            : status >= 0 ? " (status " + std::to_string(status) + ")"
                                          : "";
    throw std::runtime_error(argv[0] + " did not start" + why + Said(errors));
}

std::vector<std::string> SimArguments(const std::string& sim, const std::string& line,
                                      const RunSettings& settings)
{
    std::vector<std::string> argv{sim, "--link", line, "--baud", std::to_string(settings.baud)};
    if (settings.mode == Mode::Unpaced) {
        argv.push_back("--fast");
    }
    return argv;
}

// The program's command, under `strace -f -c` when the settings ask.
std::vector<std::string> Traced(std::vector<std::string> argv, const RunSettings& settings,
                                const std::string& summary)
{
    if (settings.strace) {
        argv.insert(argv.begin(), {kStrace, "-f", "-c", "-o", summary});
    }
    return argv;
}

// Waits for the program's end; throws unless it ended with `wanted`.
void Finish(Child& program, const std::string& name, seconds limit, int wanted,
            const std::string& errors)
{
    const int status = program.Wait(limit);
    if (status < 0) {
        throw std::runtime_error(name + " did not end in " + std::to_string(limit.count()) +
                                 " s" + Said(errors));
    }
    if (wanted >= 0 && status != wanted) {
        throw std::runtime_error(name + " ended with status " + std::to_string(status) +
                                 Said(errors));
    }
}

// A private upsd on a free loopback port, with NUT's folders of a run.
class Upsd {
public:
    Upsd(const std::string& etc, const std::string& state, const std::string& errors)
        : errors_(errors)
    {
        WriteFile(etc + "/upsd.conf", "LISTEN 127.0.0.1 " + std::to_string(FreePort()) + "\n");
        WriteFile(etc + "/upsd.users", "");
        upsd_ = std::make_unique<Child>(std::vector<std::string>{kUpsd, "-u", UserName(), "-F"},
                                        errors, NutEnvironment(etc, state));
    }

    // Stops it; answers its CPU time. Throws unless it was connected to `ups`.
    double Stop(const std::string& ups)
    {
        upsd_->Signal(SIGTERM);
        Finish(*upsd_, "upsd", seconds(10), -1, errors_);
        if (Said(errors_).find("Connected to UPS [" + ups + "]") == std::string::npos) {
            throw std::runtime_error("upsd was never connected to " + ups + Said(errors_));
        }
        return CostOf(*upsd_).cpu_us;
    }

private:
    std::string errors_;
    std::unique_ptr<Child> upsd_;
};

// A private upsd with its configuration in the run's etc/ and `state` as its
// state folder, started once the program's socket is there, when the run
// serves it.
std::unique_ptr<Upsd> ServeWhenAsked(const RunSettings& settings, const Folder& dir,
                                     const std::string& state, const std::string& socket,
                                     const std::string& errors)
{
    if (settings.mode != Mode::Serving) {
        return nullptr;
    }
    WaitFor(socket, "the socket " + socket, errors);
    return std::make_unique<Upsd>(dir / "etc", state, dir / "upsd.err");
}

// What the program cost, once it ended: with upsd's, stopped now, when it
// served `ups`, and with the system calls strace counted.
Cost Collect(const Child& program, const std::unique_ptr<Upsd>& upsd, const std::string& ups,
             const RunSettings& settings, const std::string& summary)
{
    Cost cost = CostOf(program);
    if (upsd) {
        cost.upsd_cpu_us = upsd->Stop(ups);
    }
    if (settings.strace) {
        std::ifstream in(summary);
        cost.syscalls = ReadStraceSummary(in);
    }
    return cost;
}

// True when `program --help` names `option`: an older build given as the
// baseline may not know an option this one needs.
bool Knows(const std::string& program, const std::string& option)
{
    FILE* help = ::popen(("'" + program + "' --help 2>/dev/null").c_str(), "r");
    if (help == nullptr) {
        return false;
    }
    std::string text;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof(chunk), help)) > 0;) {
        text.append(chunk, got);
    }
    ::pclose(help);
    return text.find(option) != std::string::npos;
}

// The bench host with the module, polling upssim.
class BenchHost : public Contender {
public:
    BenchHost(std::string name, std::string smdhost, std::string module, std::string upssim)
        : name_(std::move(name)),
          smdhost_(std::move(smdhost)),
          module_(std::move(module)),
          upssim_(std::move(upssim)),
          // Before it had the option, the bench host served whoever could reach the socket.
          names_nut_user_(Knows(smdhost_, "--nut-user"))
    {
    }

    std::string Name() const override { return name_; }
    unsigned int WireBytes() const override { return kBenchHostBytes; }

    Cost Run(const RunSettings& settings) const override
    {
        Folder dir;
        const std::string line = dir / "ups";
        const auto sim = StartSim(SimArguments(upssim_, line, settings), dir / "upssim.err");
        std::vector<std::string> argv{smdhost_, "--config", Config(dir, line), "--cycles",
                                      std::to_string(settings.polls)};
        if (settings.mode == Mode::Serving) {
            fs::create_directories(dir / "nut");
            fs::create_directories(dir / "etc");
            argv.insert(argv.end(), {"--nut", dir / "nut"});
            if (names_nut_user_) {
                argv.insert(argv.end(), {"--nut-user", UserName()});
            }
            WriteFile(dir / "etc/ups.conf", "[smd]\n\tdriver = smdhost\n\tport = " + line + "\n");
        }
        const std::string errors = dir / "smdhost.err";
        Child host(Traced(argv, settings, dir / "strace.txt"), errors);
        const auto upsd =
            ServeWhenAsked(settings, dir, dir / "nut", dir / "nut/smdhost-smd", errors);
        Finish(host, name_, seconds(30 + settings.polls * (kPollSeconds + 3)), 0, errors);
        return Collect(host, upsd, "smd", settings, dir / "strace.txt");
    }

private:
    // The bench host's default settings but the poll interval: one device.
    std::string Config(const Folder& dir, const std::string& line) const
    {
        Json::Value device;
        device["name"] = "smd";
        device["data_id"] = 1;
        device["port"] = line;
        device["poll_interval"] = kPollSeconds;
        Json::Value config;
        config["module"] = module_;
        config["state_dir"] = dir / "state";
        config["devices"].append(device);
        const std::string path = dir / "smdhost.json";
        WriteFile(path, Json::writeString(Json::StreamWriterBuilder(), config));
        return path;
    }

    std::string name_;
    std::string smdhost_;
    std::string module_;
    std::string upssim_;
    bool names_nut_user_;
};

// The child strace started, the program it counts the calls of; throws when
// there is none.
pid_t TracedProgram(const Child& strace)
{
    const std::string pid = std::to_string(strace.Pid());
    std::ifstream children("/proc/" + pid + "/task/" + pid + "/children");
    pid_t child = 0;
    if (!(children >> child) || child <= 0) {
        throw std::runtime_error("strace (pid " + pid + ") runs no program");
    }
    return child;
}

// Asks the program to stop, itself or the one strace counts the calls of.
void Stop(const Child& program, bool traced)
{
    const pid_t pid = traced ? TracedProgram(program) : program.Pid();
    if (pid > 0) {
        kill(pid, SIGTERM);
    }
}

// Reads q1sim's count until `polls` status polls were answered.
void WaitForPolls(Child& sim, unsigned int polls, const std::string& errors)
{
    const std::string prefix = "q1sim: polls ";
    const auto limit = seconds(30 + polls * (kPollSeconds + 3));
    for (const auto deadline = Child::Clock::now() + limit;;) {
        const auto said = sim.ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - Child::Clock::now()));
        if (!said) {
            throw std::runtime_error("nutdrv_qx made fewer than " + std::to_string(polls) +
                                     " status polls in " + std::to_string(limit.count()) +
                                     " s" + Said(errors));
        }
        if (said->rfind(prefix, 0) == 0 && std::stoul(said->substr(prefix.size())) >= polls) {
            return;
        }
    }
}

// NUT's serial driver for Megatec "Q1" UPSes, polling q1sim.
class NutSerialDriver : public Contender {
public:
    explicit NutSerialDriver(std::string q1sim) : q1sim_(std::move(q1sim)) {}

    std::string Name() const override { return "nutdrv_qx"; }
    unsigned int WireBytes() const override { return kQxBytes; }

    Cost Run(const RunSettings& settings) const override
    {
        if (!fs::exists(kNutdrvQx)) {
            throw std::runtime_error(std::string(kNutdrvQx) +
                                     " is missing: cmake/install-deps.sh bench installs it");
        }
        Folder dir;
        const std::string line = dir / "ups";
        const std::string etc = dir / "etc";
        const std::string state = dir / "state";
        fs::create_directories(etc);
        fs::create_directories(state);
        const auto sim = StartSim(SimArguments(q1sim_, line, settings), dir / "q1sim.err");
        WriteFile(etc + "/ups.conf", "[qx]\n\tdriver = nutdrv_qx\n\tport = " + line +
                                         "\n\tprotocol = megatec\n\tpollinterval = " +
                                         std::to_string(kPollSeconds) + "\n");
        const std::string errors = dir / "nutdrv_qx.err";
        Child driver(Traced({kNutdrvQx, "-a", "qx", "-F", "-u", UserName()}, settings,
                            dir / "strace.txt"),
                     errors, NutEnvironment(etc, state));
        const std::string socket = state + "/nutdrv_qx-qx";
        const auto upsd = ServeWhenAsked(settings, dir, state, socket, errors);
        WaitForPolls(*sim, kQxStartPolls + settings.polls, errors);
        // The driver makes its socket once its megatec subdriver has claimed
        // the UPS, which it does only for a status answer it can read.
        if (!fs::exists(socket)) {
            throw std::runtime_error("nutdrv_qx was still starting after " +
                                     std::to_string(kQxStartPolls + settings.polls) +
                                     " status polls" + Said(errors));
        }
        // The answer read, the driver waits for its next poll: stop it then.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Stop(driver, settings.strace);
        Finish(driver, "nutdrv_qx", seconds(10), -1, errors);
        return Collect(driver, upsd, "qx", settings, dir / "strace.txt");
    }

private:
    std::string q1sim_;
};

}  // namespace

bool CanCountSyscalls() { return fs::exists(kStrace); }

std::vector<std::unique_ptr<Contender>> Contenders()
{
    const std::string module = Environment("QUILL_MODULE", QUILL_MODULE);
    const std::string upssim = Environment("QUILL_UPSSIM", QUILL_UPSSIM);
    std::vector<std::unique_ptr<Contender>> contenders;
    contenders.push_back(std::make_unique<BenchHost>(
        "smdhost", Environment("QUILL_SMDHOST", QUILL_SMDHOST), module, upssim));
    const std::string baseline = Environment("QUILL_SMDHOST_BASELINE", "");
    if (!baseline.empty()) {
        contenders.push_back(std::make_unique<BenchHost>(
            "baseline", baseline, Environment("QUILL_MODULE_BASELINE", module.c_str()), upssim));
    }
    contenders.push_back(
        std::make_unique<NutSerialDriver>(Environment("QUILL_Q1SIM", QUILL_Q1SIM)));
    return contenders;
}

}  // namespace side_by_side
