// smdhost: the bench host. Loads a driver module the way the controller does,
// makes one device per configured UPS and runs the host's poll loop on each,
// showing every block and alarm change as it happens.
#include <dlfcn.h>
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tools/smdhost/BenchConfig.h"
#include "tools/smdhost/BenchDevice.h"
#include "tools/smdhost/EventLog.h"
#include "tools/smdhost/StopSignal.h"
#include "plugin/Provider.h"

namespace {

// Exit statuses.
constexpr int kAllCompleted = 0;
constexpr int kDeviceFailed = 1;
constexpr int kCannotStart = 2;

constexpr const char* kUsage =
    "usage: smdhost [options]\n"
    "  -c, --config FILE         the devices to run (JSON); without it, one device on --port\n"
    "  -m, --module PATH         the driver module (default: \"module\" of the configuration)\n"
    "  -p, --port DEVICE         serial port of the first device, e.g. /dev/ttyUSB0\n"
    "  -s, --state-dir DIR       where history and cache files go (default: \"state_dir\"\n"
    "                            of the configuration, else smdhost-state)\n"
    "  -n, --cycles N            stop after N poll cycles of each device (default: run until\n"
    "                            SIGINT or SIGTERM)\n"
    "  -j, --json                one JSON object per event instead of text\n"
    "      --module-output FILE  where the module's own diagnostic lines go (default: standard\n"
    "                            output; standard error with --json)\n"
    "      --no-cache            do not hand the cached block to the driver at start\n"
    "  -h, --help                this text\n"
    "exit status: 0 every cycle of every device completed, 1 a device failed a cycle or\n"
    "could not start, 2 the host itself could not start\n";

struct Options {
    std::string config;
    std::string module;
    std::string port;
    std::string state_dir;
    std::string module_output;
    unsigned int cycles = 0;
    bool json = false;
    bool reload_cache = true;
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
    return static_cast<unsigned int>(count);
}

Options ReadOptions(int argc, char** argv)
{
    enum { kModuleOutput = 1000, kNoCache };
    static const option kLong[] = {
        {"config", required_argument, nullptr, 'c'},
        {"module", required_argument, nullptr, 'm'},
        {"port", required_argument, nullptr, 'p'},
        {"state-dir", required_argument, nullptr, 's'},
        {"cycles", required_argument, nullptr, 'n'},
        {"json", no_argument, nullptr, 'j'},
        {"module-output", required_argument, nullptr, kModuleOutput},
        {"no-cache", no_argument, nullptr, kNoCache},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    Options options;
    for (int option; (option = getopt_long(argc, argv, "c:m:p:s:n:jh", kLong, nullptr)) != -1;) {
        switch (option) {
        case 'c': options.config = optarg; break;
        case 'm': options.module = optarg; break;
        case 'p': options.port = optarg; break;
        case 's': options.state_dir = optarg; break;
        case 'n': options.cycles = Count(optarg); break;
        case 'j': options.json = true; break;
        case kModuleOutput: options.module_output = optarg; break;
        case kNoCache: options.reload_cache = false; break;
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
    std::filesystem::create_directories(config.state_dir);
    return config;
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
        module_fd = ::open(options.module_output.c_str(),
                           O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (module_fd < 0) {
            throw std::runtime_error("cannot open " + options.module_output + ": " +
                                     std::strerror(errno));
        }
    } else if (options.json) {
        module_fd = STDERR_FILENO;
    }
    if (module_fd >= 0) {
        dup2(module_fd, STDOUT_FILENO);
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

// Starts every device and runs each on its own thread. Answers the exit status.
int RunDevices(const BenchConfig& config, const Options& options,
               const SMDSPDeviceProvider& provider, EventLog& log)
{
    std::vector<std::shared_ptr<BenchDevice>> devices;
    bool all_started = true;
    for (const DeviceConfig& device : config.devices) {
        auto bench = std::make_shared<BenchDevice>(device, config.state_dir, log);
        if (!bench->Start(provider)) {
            all_started = false;
            continue;
        }
        if (options.reload_cache) {
            bench->ReloadCache();
        }
        devices.push_back(bench);
    }
    std::vector<std::thread> threads;
    for (const auto& device : devices) {
        threads.emplace_back([device, &options] { device->Run(options.cycles); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    bool all_completed = all_started;
    for (const auto& device : devices) {
        log.Summary(device->Identity(), device->Completed(), device->Failed(), device->Stale());
        all_completed = all_completed && device->Failed() == 0;
    }
    return all_completed ? kAllCompleted : kDeviceFailed;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = ReadOptions(argc, argv);
    BenchConfig config;
    int events_fd = -1;
    try {
        config = ReadConfig(options);
        events_fd = SeparateOutputs(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "smdhost: %s\n", error.what());
        return kCannotStart;
    }
    if (!StopSignal::Install()) {
        std::fprintf(stderr, "smdhost: cannot watch for signals: %s\n", std::strerror(errno));
        return kCannotStart;
    }
    void* module = dlopen(config.module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "smdhost: cannot load %s: %s\n", config.module.c_str(), dlerror());
        return kCannotStart;
    }
    int status = kCannotStart;
    try {
        EventLog log(events_fd, options.json ? EventLog::Format::Json : EventLog::Format::Text);
        const auto provider = SerialProvider(module, config.module);
        status = RunDevices(config, options, *provider, log);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "smdhost: %s\n", error.what());
    }
    std::cout.flush();
    dlclose(module);
    return status;
}
