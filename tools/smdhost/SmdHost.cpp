// smdhost: the bench host. Loads a driver module the way the controller does,
// makes one device per configured UPS and runs the host's poll loop on each,
// showing every block and alarm change as it happens.
#include <dlfcn.h>
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <locale>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/HostLibrary.h"
#include "tools/smdhost/BenchConfig.h"
#include "tools/smdhost/BenchDevice.h"
#include "tools/smdhost/EventLog.h"
#include "plugin/Provider.h"
#include "tools/common/SafeFile.h"
#include "tools/smdhost/StopSignal.h"

namespace {

// Exit statuses; when several apply, the highest of 1, 3 and 4.
constexpr int kAllCompleted = 0;
constexpr int kDeviceFailed = 1;  // a cycle failed, or the module refused a device's settings
constexpr int kCannotStart = 2;   // options, configuration, state folder, module
constexpr int kNotStored = 3;     // a block was not stored, or a state file was refused
constexpr int kPortRefused = 4;   // a port is held by another program or is no terminal

constexpr const char* kUsage =
    "usage: smdhost [options]\n"
    "  -c, --config FILE         the devices to run (JSON); without it, one device on --port\n"
    "  -m, --module PATH         the driver module (default: \"module\" of the configuration)\n"
    "  -p, --port DEVICE         serial port of the first device, e.g. /dev/ttyUSB0\n"
    "  -s, --state-dir DIR       where history and cache files go (default: \"state_dir\"\n"
    "                            of the configuration, else smdhost-state)\n"
    "  -n, --cycles N            stop after N poll cycles of each device, N from 1 (default:\n"
    "                            run until SIGINT or SIGTERM)\n"
    "  -j, --json                one JSON object per event instead of text\n"
    "  -t, --trace[=FILE]        every byte on the lines, both ways, to FILE (default: with\n"
    "                            the events)\n"
    "      --module-output FILE  where the module's own diagnostic lines go (default: standard\n"
    "                            output; standard error with --json)\n"
    "      --no-cache            do not hand the cached block to the driver at start\n"
    "      --allow-shared-state-dir\n"
    "                            accept a state folder (or a folder of --trace and\n"
    "                            --module-output) that others can write to\n"
    "  -h, --help                this text\n"
    "exit status: 0 every cycle of every device completed; 1 a cycle failed or the module\n"
    "refused a device's settings; 2 the host could not start; 3 a block was not stored, or\n"
    "a state file was refused; 4 a port is held by another program or is no terminal;\n"
    "128+N a second signal N stopped the host at once\n";

struct Options {
    std::string config;
    std::string module;
    std::string port;
    std::string state_dir;
    std::string module_output;
    unsigned int cycles = 0;
    bool json = false;
    bool reload_cache = true;
    bool trace = false;
    std::string trace_file;  // empty: with the events
    bool accept_shared = false;
};

[[noreturn]] void Usage(const std::string& complaint)
{
    std::fprintf(stderr, "smdhost: %s\n%s", complaint.c_str(), kUsage);
    std::exit(kCannotStart);
}

unsigned int Count(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long count = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || count > 1000000000UL) {
        Usage(std::string("not a count: ") + text);
    }
    if (count == 0) {
        Usage("--cycles 0 would run no cycle; leave --cycles out to run until stopped");
    }
    return static_cast<unsigned int>(count);
}

// --trace takes its file as "--trace=FILE", "-tFILE" or the next argument
// when that is no option.
void TraceOption(int argc, char** argv, Options& options)
{
    options.trace = true;
    if (optarg != nullptr) {
        options.trace_file = optarg;
    } else if (optind < argc && argv[optind][0] != '-') {
        options.trace_file = argv[optind++];
    }
}

Options ReadOptions(int argc, char** argv)
{
    enum { kModuleOutput = 1000, kNoCache, kAcceptShared };
    static const option kLong[] = {
        {"config", required_argument, nullptr, 'c'},
        {"module", required_argument, nullptr, 'm'},
        {"port", required_argument, nullptr, 'p'},
        {"state-dir", required_argument, nullptr, 's'},
        {"cycles", required_argument, nullptr, 'n'},
        {"json", no_argument, nullptr, 'j'},
        {"module-output", required_argument, nullptr, kModuleOutput},
        {"no-cache", no_argument, nullptr, kNoCache},
        {"trace", optional_argument, nullptr, 't'},
        {"allow-shared-state-dir", no_argument, nullptr, kAcceptShared},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    Options options;
    for (int option; (option = getopt_long(argc, argv, "c:m:p:s:n:jt::h", kLong, nullptr)) != -1;) {
        switch (option) {
        case 'c': options.config = optarg; break;
        case 'm': options.module = optarg; break;
        case 'p': options.port = optarg; break;
        case 's': options.state_dir = optarg; break;
        case 'n': options.cycles = Count(optarg); break;
        case 'j': options.json = true; break;
        case kModuleOutput: options.module_output = optarg; break;
        case kNoCache: options.reload_cache = false; break;
        case 't': TraceOption(argc, argv, options); break;
        case kAcceptShared: options.accept_shared = true; break;
        case 'h': std::fputs(kUsage, stdout); std::exit(kAllCompleted);
        default: Usage("unknown option");
        }
    }
    if (optind < argc) {
        Usage(std::string("unexpected argument: ") + argv[optind]);
    }
    if (options.config.empty() && options.port.empty()) {
        Usage("give a configuration file (--config) or a serial port (--port)");
    }
    return options;
}

BenchConfig ReadConfig(const Options& options)
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
    if (config.module.empty()) {
        throw std::runtime_error("no module: give --module or \"module\" in the configuration");
    }
    return config;
}

safe_file::FolderRules Rules(const Options& options, bool create)
{
    safe_file::FolderRules rules;
    rules.create = create;
    rules.accept_shared = options.accept_shared;
    rules.shared_hint = "--allow-shared-state-dir accepts it";
    return rules;
}

// The state folder, opened once for every file in it.
safe_file::Folder OpenStateFolder(const std::string& path, const Options& options)
{
    safe_file::Folder folder;
    safe_file::Error error;
    if (!folder.Open(path, Rules(options, true), error)) {
        throw std::runtime_error("state folder: " + error.text);
    }
    return folder;
}

// A file the host writes for its user, under the rules of the state files.
int OpenOutput(const std::string& path, const Options& options)
{
    safe_file::Error error;
    const int fd = safe_file::OpenNamedFile(path, Rules(options, false), error);
    if (fd < 0) {
        throw std::runtime_error(error.text);
    }
    return fd;
}

// dlopen searches the library path for a name without a slash, never the
// current folder, where a user who names a file expects it.
std::string ModulePath(const std::string& module)
{
    if (module.find('/') == std::string::npos && ::access(module.c_str(), F_OK) == 0) {
        return "./" + module;
    }
    return module;
}

std::string LoadHint(const std::string& module)
{
    if (module.find('/') != std::string::npos) {
        return "";
    }
    return "; a name without a slash is looked for in the library path (LD_LIBRARY_PATH, "
           "/etc/ld.so.cache, /lib, /usr/lib), not in the current folder: give a path such "
           "as ./" + module;
}

// The events go to the standard output as it is now; the module's own lines
// (which it writes with std::cout) go where --module-output says. Answers the
// descriptor for the events.
int SeparateOutputs(const Options& options)
{
    std::fflush(stdout);
    const int events = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    int module_fd = -1;
    if (!options.module_output.empty()) {
        module_fd = OpenOutput(options.module_output, options);
    } else if (options.json) {
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

// The module's first provider of serial-port devices.
std::shared_ptr<SMDSPDeviceProvider> SerialProvider(void* module, const std::string& path)
{
    auto get_providers = reinterpret_cast<GetProvidersFn>(dlsym(module, kGetProvidersSymbol));
    if (get_providers == nullptr) {
        throw std::runtime_error(path + " has no " + kGetProvidersSymbol + ": " + dlerror());
    }
    for (const auto& provider : get_providers()) {
        if (auto serial = std::dynamic_pointer_cast<SMDSPDeviceProvider>(provider)) {
            return serial;
        }
    }
    throw std::runtime_error(path + " provides no serial-port device");
}

const char* SignalName(int signal) { return signal == SIGINT ? "SIGINT" : "SIGTERM"; }

struct Refusals {
    bool settings = false;
    bool files = false;
    bool port = false;
};

// Makes and starts the configured devices; those that cannot run are shown
// and left out.
std::vector<std::shared_ptr<BenchDevice>> StartDevices(const BenchConfig& config,
                                                       const Options& options,
                                                       const SMDSPDeviceProvider& provider,
                                                       const safe_file::Folder& state,
                                                       BenchDevice::Trace trace, EventLog& log,
                                                       Refusals& refused)
{
    std::vector<std::shared_ptr<BenchDevice>> devices;
    for (const DeviceConfig& device : config.devices) {
        auto bench = std::make_shared<BenchDevice>(device, state, log, trace);
        if (!bench->Start(provider)) {
            refused.settings = true;
            continue;
        }
        if (!bench->OpenFiles()) {
            refused.files = true;
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
void RunAll(const std::vector<std::shared_ptr<BenchDevice>>& devices, unsigned int cycles,
            EventLog& log)
{
    FillNarrowCache();
    std::atomic<std::size_t> running{devices.size()};
    std::vector<std::thread> threads;
    for (const auto& device : devices) {
        threads.emplace_back([device, cycles, &running] {
            device->Run(cycles);
            --running;
        });
    }
    while (running > 0) {
        if (StopSignal::WaitUntil(StopSignal::Clock::now() + std::chrono::milliseconds(50))) {
            log.Stopping(SignalName(StopSignal::Signal()));
            break;
        }
    }
    for (std::thread& thread : threads) {
        thread.join();
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
    return failed ? kDeviceFailed : kAllCompleted;
}

// Starts every device and runs each on its own thread. Answers the exit status.
int RunDevices(const BenchConfig& config, const Options& options,
               const SMDSPDeviceProvider& provider, const safe_file::Folder& state,
               BenchDevice::Trace trace, EventLog& log)
{
    Refusals refused;
    const auto devices = StartDevices(config, options, provider, state, trace, log, refused);
    RunAll(devices, options.cycles, log);
    for (const auto& device : devices) {
        log.Summary(device->Identity(), device->Totals());
    }
    return ExitStatus(devices, refused);
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = ReadOptions(argc, argv);
    // A file past its size limit must fail its write, not end the host.
    ::signal(SIGXFSZ, SIG_IGN);
    BenchConfig config;
    safe_file::Folder state;
    BenchDevice::Trace trace;
    int events_fd = -1;
    try {
        config = ReadConfig(options);
        state = OpenStateFolder(config.state_dir, options);
        trace.on = options.trace;
        if (options.trace && !options.trace_file.empty()) {
            trace.fd = OpenOutput(options.trace_file, options);
        }
        events_fd = SeparateOutputs(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "smdhost: %s\n", error.what());
        return kCannotStart;
    }
    if (!StopSignal::Install()) {
        std::fprintf(stderr, "smdhost: cannot watch for signals: %s\n", std::strerror(errno));
        return kCannotStart;
    }
    std::fprintf(stderr, "smdhost: runs on the host library %s\n", HostLibraryPath().c_str());
    const std::string module_path = ModulePath(config.module);
    void* module = dlopen(module_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "smdhost: cannot load %s: %s%s\n", config.module.c_str(), dlerror(),
                     LoadHint(module_path).c_str());
        return kCannotStart;
    }
    int status = kCannotStart;
    try {
        EventLog log(events_fd, options.json ? EventLog::Format::Json : EventLog::Format::Text);
        const auto provider = SerialProvider(module, config.module);
        status = RunDevices(config, options, *provider, state, trace, log);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "smdhost: %s\n", error.what());
    }
    std::cout.flush();
    dlclose(module);
    return status;
}
