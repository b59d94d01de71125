// smdhost: the bench host. Loads a driver module the way the controller does,
// makes one device per configured UPS and runs the host's poll loop on each,
// showing every block and alarm change as it happens.
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <locale>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tools/common/CommandLine.h"
#include "tools/common/Diagnostics.h"
#include "tools/common/ExitStatus.h"
#include "tools/smdhost/BenchConfig.h"
#include "tools/smdhost/BriefOutput.h"
#include "tools/smdhost/BenchDevice.h"
#include "tools/smdhost/EventLog.h"
#include "tools/smdhost/HostOptions.h"
#include "tools/smdhost/InstalledModule.h"
#include "tools/smdhost/JsonOutput.h"
#include "tools/smdhost/Module.h"
#include "tools/smdhost/ModuleLines.h"
#include "tools/smdhost/NutOutput.h"
#include "tools/smdhost/PortProbe.h"
#include "tools/smdhost/TextOutput.h"
#include "tools/smdhost/Versions.h"
#include "tools/smdhost/driver/DriverMode.h"
#include "plugin/Provider.h"
#include "tools/common/SafeFile.h"
#include "tools/smdhost/StartChecks.h"
#include "tools/smdhost/StopSignal.h"

namespace {

using exit_status::kSuccess;
using namespace exit_status::smdhost;

BenchConfig ReadConfig(const HostOptions& options)
{
    BenchConfig config;
    if (!options.config.empty()) {
        config = LoadBenchConfig(options.config);
    } else {
        config.devices.push_back(DefaultDevice(options.port));
    }
    if (!options.port.empty()) {
        config.devices.front().port = options.port;
    }
    if (!options.module.empty()) {
        config.module = options.module;
    }
    if (!options.state_dir.empty()) {
        config.state_dir = options.state_dir;
    }
    if (!options.nut_dir.empty()) {
        config.nut_dir = options.nut_dir;
    }
    if (config.module.empty()) {
        config.module = installed_module::Find();
    }
    if (config.module.empty() && !options.print_ups_conf) {
        throw std::runtime_error("no module: give --module or \"module\" in the configuration "
                                 "(none is installed beside smdhost)");
    }
    return config;
}

safe_file::FolderRules Rules(const HostOptions& options, bool create)
{
    return FolderRulesOf(options, create);
}

// The state folder, opened once for every file in it.
safe_file::Folder OpenStateFolder(const std::string& path, const HostOptions& options)
{
    safe_file::Folder folder;
    safe_file::Error error;
    if (!folder.Open(path, Rules(options, true), error)) {
        const std::string fix = start_checks::StateFolderFix(error.code);
        throw std::runtime_error("state folder: " + error.text + (fix.empty() ? "" : "; " + fix));
    }
    start_checks::CheckStateFolderWritable(folder);
    return folder;
}

// A file the host writes for its user, under the rules of the state files.
int OpenOutput(const std::string& path, const HostOptions& options)
{
    safe_file::Error error;
    const int fd = safe_file::OpenNamedFile(path, Rules(options, false), error);
    if (fd < 0) {
        throw std::runtime_error(error.text);
    }
    return fd;
}

// True when the module's own lines stay on the standard output with the text
// events.
bool ModuleLinesWithEvents(const HostOptions& options)
{
    return options.module_output.empty() && !options.json && !options.brief &&
           options.probe.empty();
}

// The events go to the standard output as it is now; the module's own lines
// (which it writes with std::cout) go where --module-output says. Answers the
// descriptor for the events.
int SeparateOutputs(const HostOptions& options)
{
    std::fflush(stdout);
    const int events = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    int module_fd = -1;
    if (!options.module_output.empty()) {
        module_fd = OpenOutput(options.module_output, options);
    } else if (!ModuleLinesWithEvents(options)) {
        module_fd = STDERR_FILENO;
    }
    if (module_fd >= 0) {
        dup2(module_fd, STDOUT_FILENO);
    }
    if (module_fd > STDERR_FILENO) {
        ::close(module_fd);
    }
    return events;
}

// Text, the compact view or JSON on a descriptor the host keeps open to the end.
std::shared_ptr<EventOutput> Console(int fd, const HostOptions& options)
{
    if (options.json) {
        return std::make_shared<JsonOutput>(fd);
    }
    if (options.brief) {
        return std::make_shared<BriefOutput>(fd);
    }
    return std::make_shared<TextOutput>(fd);
}

// Where the events and the trace go: the events to `events_fd`, the trace
// (when asked for) to `trace_fd` or with the events.
void AddOutputs(EventLog& log, const HostOptions& options, int events_fd, int trace_fd)
{
    const auto events = Console(events_fd, options);
    log.AddOutput(events, EventLog::Stream::Events);
    if (options.trace) {
        log.AddOutput(trace_fd < 0 ? events : Console(trace_fd, options),
                      EventLog::Stream::Trace);
    }
}

struct Refusals {
    bool settings = false;
    bool files = false;
    bool held = false;  // another host runs a device on its state files
    bool port = false;
};

// Makes and starts the configured devices; those that cannot run are shown
// and left out.
std::vector<std::shared_ptr<BenchDevice>> StartDevices(const BenchConfig& config,
                                                       const HostOptions& options,
                                                       const SMDSPDeviceProvider& provider,
                                                       const safe_file::Folder& state,
                                                       EventLog& log,
                                                       Refusals& refused)
{
    std::vector<std::shared_ptr<BenchDevice>> devices;
    for (const DeviceConfig& device : config.devices) {
        auto bench = std::make_shared<BenchDevice>(device, state, log);
        if (!bench->Start(provider)) {
            refused.settings = true;
            continue;
        }
        const BenchDevice::Files files = bench->OpenFiles();
        if (files != BenchDevice::Files::Open) {
            (files == BenchDevice::Files::Held ? refused.held : refused.files) = true;
            continue;
        }
        if (options.reload_cache) {
            bench->ReloadCache();
        }
        if (!bench->TakePort()) {
            refused.port = true;
            continue;
        }
        devices.push_back(bench);
    }
    return devices;
}

// The standard library fills the narrow() cache of the locale's ctype facet
// on first use of each character, and the module's pattern matching uses it
// from every device thread at once. Filled before the threads start, it is
// only read.
void FillNarrowCache()
{
    const auto& ctype = std::use_facet<std::ctype<char>>(std::locale());
    for (int c = 1; c < 256; ++c) {
        ctype.narrow(static_cast<char>(c), '\0');
    }
}

// Runs each device on its own thread; a signal is told as soon as it comes.
// The last device to end wakes this thread, which sleeps until then.
void RunAll(const std::vector<std::shared_ptr<BenchDevice>>& devices, unsigned int cycles,
            EventLog& log)
{
    FillNarrowCache();
    const int all_ended = ::eventfd(0, EFD_CLOEXEC);  // without it, a look every 50 ms
    std::atomic<std::size_t> running{devices.size()};
    std::vector<std::thread> threads;
    for (const auto& device : devices) {
        threads.emplace_back([device, cycles, &running, all_ended] {
            device->Run(cycles);
            if (--running == 0) {
                [[maybe_unused]] const int told = ::eventfd_write(all_ended, 1);
            }
        });
    }
    while (running > 0) {
        const bool stop = all_ended >= 0 ? StopSignal::WaitFor(all_ended)
                                         : StopSignal::WaitUntil(StopSignal::Clock::now() +
                                                                 std::chrono::milliseconds(50));
        if (stop) {
            break;
        }
    }
    if (StopSignal::Requested()) {
        log.Tell(events::Stopping{StopSignal::Name()});
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (all_ended >= 0) {
        ::close(all_ended);
    }
}

int ExitStatus(const std::vector<std::shared_ptr<BenchDevice>>& devices, const Refusals& refused)
{
    bool failed = refused.settings;
    bool not_stored = refused.files;
    for (const auto& device : devices) {
        failed = failed || device->Totals().failed > 0;
        not_stored = not_stored || device->StorageFailed();
    }
    if (refused.port) {
        return kPortRefused;
    }
    if (not_stored) {
        return kNotStored;
    }
    if (refused.held) {
        return kCannotStart;
    }
    return failed ? kDeviceFailed : kSuccess;
}

// Starts every device and runs each on its own thread. Answers the exit status.
int RunDevices(const BenchConfig& config, const HostOptions& options,
               const SMDSPDeviceProvider& provider, const safe_file::Folder& state,
               EventLog& log)
{
    Refusals refused;
    const auto devices = StartDevices(config, options, provider, state, log, refused);
    RunAll(devices, options.cycles, log);
    for (const auto& device : devices) {
        log.Tell(device->Identity(), device->Totals());
    }
    return ExitStatus(devices, refused);
}

// Loads the module and runs `run` with its provider; answers what `run`
// answers, or the status of a host that could not start.
int WithProvider(const BenchConfig& config,
                 const std::function<int(const SMDSPDeviceProvider&)>& run)
{
    std::unique_ptr<Module> module;  // kept loaded while an error it threw is shown
    int status = kCannotStart;
    try {
        module = std::make_unique<Module>(config.module);
        status = run(*module->SerialProvider());
    } catch (const std::exception& error) {
        diagnostics::Error(error.what());
    }
    std::cout.flush();
    return status;
}

// --probe PORT: the probe's lines on standard output, the module's on
// standard error.
int Probe(const HostOptions& options)
{
    BenchConfig config;
    int out = -1;
    try {
        config = ReadConfig(options);
        out = SeparateOutputs(options);
    } catch (const std::exception& error) {
        diagnostics::Error(error.what());
        return kCannotStart;
    }
    return WithProvider(config, [&](const SMDSPDeviceProvider& provider) {
        return port_probe::Run(options.probe, provider, config.devices.front().answer_timeout,
                               out);
    });
}

// The account NUT's upsd connects with, for --nut.
nut::Account NutAccount(const HostOptions& options)
{
    nut::Account account;
    account.user = options.nut_user.empty() ? account.user : options.nut_user;
    account.group = options.nut_group.empty() ? account.group : options.nut_group;
    return account;
}

}  // namespace

int main(int argc, char** argv)
{
    const HostOptions options = ReadHostOptions(argc, argv);
    if (!options.ups.empty()) {
        return driver_mode::Run(options, std::vector<std::string>(argv, argv + argc));
    }
    if (!options.probe.empty()) {
        return Probe(options);
    }
    // A file past its size limit must fail its write, not end the host.
    ::signal(SIGXFSZ, SIG_IGN);
    BenchConfig config;
    safe_file::Folder state;
    EventLog log;
    std::shared_ptr<NutOutput> nut;
    try {
        config = ReadConfig(options);
        start_checks::CheckOneDevicePerPort(config);
        if (options.print_ups_conf) {
            std::fputs(UpsConf(config).c_str(), stdout);
            return kSuccess;
        }
        state = OpenStateFolder(config.state_dir, options);
        const int trace_fd =
            options.trace_file.empty() ? -1 : OpenOutput(options.trace_file, options);
        AddOutputs(log, options, SeparateOutputs(options), trace_fd);
        nut = ServeNut(config, Rules(options, true), NutAccount(options), log);
        if (trace_fd >= 0) {
            log.Tell(events::Run{command_line::Version(),
                                 std::vector<std::string>(argv, argv + argc)});
        }
    } catch (const std::exception& error) {
        diagnostics::Error(error.what());
        return kCannotStart;
    }
    if (!StopSignal::Install()) {
        diagnostics::Error(std::string("cannot watch for signals: ") + std::strerror(errno));
        if (nut) {
            nut->Stop();
        }
        return kCannotStart;
    }
    SayVersions(config.module, log);
    std::optional<ModuleLines> module_lines;
    if (ModuleLinesWithEvents(options)) {
        module_lines.emplace(log);
    }
    const int status = WithProvider(config, [&](const SMDSPDeviceProvider& provider) {
        return RunDevices(config, options, provider, state, log);
    });
    module_lines.reset();
    if (nut) {
        nut->Stop();
    }
    log.Finish();
    return status;
}
