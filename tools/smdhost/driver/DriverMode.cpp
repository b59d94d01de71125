#include "tools/smdhost/driver/DriverMode.h"

#include <fcntl.h>
#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

#include "plugin/Provider.h"
#include "tools/common/CommandLine.h"
#include "tools/common/Diagnostics.h"
#include "tools/common/ExitStatus.h"
#include "tools/smdhost/BenchDevice.h"
#include "tools/smdhost/BriefOutput.h"
#include "tools/smdhost/JsonOutput.h"
#include "tools/smdhost/Module.h"
#include "tools/smdhost/NutOutput.h"
#include "tools/smdhost/StartChecks.h"
#include "tools/smdhost/StopSignal.h"
#include "tools/smdhost/TextOutput.h"
#include "tools/smdhost/Versions.h"
#include "tools/smdhost/driver/Background.h"
#include "tools/smdhost/driver/DriverLog.h"
#include "tools/smdhost/driver/DriverSetup.h"
#include "tools/smdhost/driver/PidFile.h"
#include "tools/smdhost/driver/Privileges.h"

namespace driver_mode {

namespace {

using exit_status::kSuccess;
using namespace exit_status::smdhost;

constexpr mode_t kStateFolderMode = 0770;
constexpr const char* kNowhere = "/dev/null";

// The state folder's rules: a folder the driver's user's group may write to
// is the driver's own, and one made for it gets that group.
safe_file::FolderRules StateRules(const HostOptions& options, const std::optional<Person>& person)
{
    safe_file::FolderRules rules = FolderRulesOf(options, true);
    if (person) {
        rules.writer_group = person->gid;
        rules.create_group = person->gid;
        rules.create_mode = kStateFolderMode;
    }
    return rules;
}

int OpenNamed(const std::string& path, const HostOptions& options)
{
    safe_file::Error error;
    const int fd = safe_file::OpenNamedFile(path, FolderRulesOf(options, false), error);
    if (fd < 0) {
        throw std::runtime_error(error.text);
    }
    return fd;
}

// The view --json or --brief ask for on `fd`; nothing without them.
std::shared_ptr<EventOutput> View(int fd, const HostOptions& options)
{
    if (options.json) {
        return std::make_shared<JsonOutput>(fd);
    }
    if (options.brief) {
        return std::make_shared<BriefOutput>(fd);
    }
    return nullptr;
}

// The driver of one UPS, from its start to its end; the members are made in
// the order the driver needs them and end in the reverse one.
class DriverRun {
public:
    DriverRun(const HostOptions& options, const Setup& setup) : options_(options), setup_(setup) {}
    DriverRun(const DriverRun&) = delete;
    DriverRun& operator=(const DriverRun&) = delete;
    ~DriverRun();

    // Everything up to serving, the background's parent ended once it
    // serves. Answers kSuccess, or the status of a device the module or the
    // port refused; throws std::runtime_error for what else cannot start.
    int Open(Background* background, const std::vector<std::string>& command_line);

    // Polls until a stop or the cycles of -n; answers the exit status.
    int Serve();

private:
    void AddOutputs(bool background, const std::vector<std::string>& command_line);
    void OpenFolders();
    void BecomeUser();

    const HostOptions& options_;
    const Setup& setup_;
    std::optional<Person> person_;
    EventLog log_;
    std::unique_ptr<Module> module_;
    std::shared_ptr<SMDSPDeviceProvider> provider_;
    std::optional<OpenedNut> opened_;
    safe_file::Folder state_;
    std::shared_ptr<BenchDevice> device_;
    std::shared_ptr<NutOutput> nut_;
    PidFile pid_;
};

DriverRun::~DriverRun()
{
    if (nut_) {
        nut_->Stop();
    }
    pid_.Remove();
    device_.reset();
    log_.Finish();
}

// Where the module's own lines go: where --module-output says, else beside
// more detail than a driver logs (-D, --json, --brief), else nowhere.
int ModuleLinesFd(const HostOptions& options)
{
    if (!options.module_output.empty()) {
        return OpenNamed(options.module_output, options);
    }
    if (options.debug > 0 || options.json || options.brief) {
        return STDERR_FILENO;
    }
    return OpenNamed(kNowhere, options);
}

// The events on standard error as a driver logs them (and to syslog in the
// background), or the view asked for on standard output.
void DriverRun::AddOutputs(bool background, const std::vector<std::string>& command_line)
{
    std::fflush(stdout);
    const int out = options_.json || options_.brief ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3) : -1;
    const int module_fd = ModuleLinesFd(options_);
    ::dup2(module_fd, STDOUT_FILENO);
    if (module_fd > STDERR_FILENO) {
        ::close(module_fd);
    }
    const bool trace_here = options_.trace && options_.trace_file.empty();
    std::shared_ptr<EventOutput> events = View(out, options_);
    if (!events) {
        events = std::make_shared<DriverLog>(STDERR_FILENO, trace_here ? 2 : options_.debug, background);
    }
    log_.AddOutput(events, EventLog::Stream::Events);
    if (trace_here || (options_.debug >= 2 && !options_.trace)) {
        log_.AddOutput(events, EventLog::Stream::Trace);
    } else if (options_.trace) {
        const int trace_fd = OpenNamed(options_.trace_file, options_);
        std::shared_ptr<EventOutput> trace = View(trace_fd, options_);
        log_.AddOutput(trace ? trace : std::make_shared<TextOutput>(trace_fd), EventLog::Stream::Trace);
        log_.Tell(events::Run{command_line::Version(), command_line});
    }
}

// The socket in NUT's folder and the state folder, both as root when the
// driver runs as root.
void DriverRun::OpenFolders()
{
    opened_ = OpenNut(setup_.config, {setup_.identity}, setup_.nut_folder,
                      FolderRulesOf(options_, true), setup_.account, log_);
    safe_file::Error error;
    if (!state_.Open(setup_.config.state_dir, StateRules(options_, person_), error)) {
        throw std::runtime_error("state folder: " + error.text + "; give state_dir = FOLDER in [" +
                                 setup_.driver.ups + "] of ups.conf");
    }
}

// Root no more, once the port and the socket are open; a state folder the
// user cannot write to is refused with the fix.
void DriverRun::BecomeUser()
{
    if (person_) {
        Become(*person_);
    } else if (!options_.user.empty() && options_.user != Myself().name) {
        diagnostics::Warning("not started as root: runs as user " + Myself().name + ", not " +
                             options_.user);
    }
    try {
        start_checks::CheckStateFolderWritable(state_);
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string(error.what()) + "; or give state_dir = FOLDER in [" +
                                 setup_.driver.ups + "] of ups.conf");
    }
}

int DriverRun::Open(Background* background, const std::vector<std::string>& command_line)
{
    if (!setup_.user.empty()) {
        person_ = FindUser(setup_.user);
        if (!person_) {
            throw std::runtime_error("there is no user \"" + setup_.user +
                                     "\" to run as (-u, or user in ups.conf; nut by default)");
        }
    }
    AddOutputs(background != nullptr, command_line);
    module_ = std::make_unique<Module>(setup_.config.module);
    provider_ = module_->SerialProvider();
    SayVersions(setup_.config.module, log_);
    if (setup_.driver.nolock) {
        diagnostics::Warning("nolock: the port is taken for this driver alone all the same; a "
                             "second program on the line would take half of each answer");
    }
    OpenFolders();
    device_ = std::make_shared<BenchDevice>(setup_.config.devices.front(), state_, log_);
    if (!device_->Start(*provider_)) {
        return kDeviceFailed;
    }
    if (!device_->TakePort()) {
        return kPortRefused;
    }
    BecomeUser();
    nut_ = StartNut(std::move(*opened_), setup_.config, log_);
    opened_.reset();
    const BenchDevice::Files files = device_->OpenFiles();
    if (files != BenchDevice::Files::Open) {
        return files == BenchDevice::Files::Held ? kCannotStart : kNotStored;
    }
    if (options_.reload_cache) {
        device_->ReloadCache();
    }
    const std::string socket = nut::SocketName(setup_.driver.ups);
    if (background == nullptr) {
        diagnostics::Note("serving the UPS " + setup_.driver.ups + " on " + setup_.nut_folder + "/" + socket);
        return kSuccess;
    }
    pid_.Write(setup_.pid_folder, setup_.driver.ups, nut::FolderRulesFor(FolderRulesOf(options_, true), setup_.account));
    diagnostics::Note("serving the UPS " + setup_.driver.ups + " on " + setup_.nut_folder + "/" + socket +
                      " in the background, pid " + std::to_string(::getpid()) + " in " + pid_.Path());
    background->Ready();
    return kSuccess;
}

int DriverRun::Serve()
{
    device_->Run(options_.cycles);
    const bool stopped = StopSignal::Requested();
    if (stopped) {
        log_.Tell(events::Stopping{StopSignal::Name()});
    }
    const events::Summary totals = device_->Totals();
    log_.Tell(device_->Identity(), totals);
    if (stopped) {
        return kSuccess;  // as NUT's drivers end when told to
    }
    if (device_->StorageFailed()) {
        return kNotStored;
    }
    return totals.failed > 0 ? kDeviceFailed : kSuccess;
}

// -k: NUT's drivers power the UPS off; this UPS has no command for it.
int PowerOff(const HostOptions& options)
{
    try {
        nut::ReadDriverConfig(nut::ReadUpsConf(nut::UpsConfPath()), options.ups, options.extra);
    } catch (const std::exception& error) {
        diagnostics::Error(error.what());
        return kCannotStart;
    }
    diagnostics::Error("shutdown not supported: the UPS " + options.ups +
                       " has no command that powers it off, so it stays on until its battery is "
                       "flat");
    return kNoPowerOff;
}

}  // namespace

int Run(const HostOptions& options, const std::vector<std::string>& command_line)
{
    // A file past its size limit must fail its write, not end the driver.
    ::signal(SIGXFSZ, SIG_IGN);
    if (options.power_off) {
        return PowerOff(options);
    }
    Setup setup;
    std::optional<Background> background;
    try {
        setup = ReadSetup(options);
        if (!options.foreground && options.debug == 0) {
            background.emplace(Background::Start());
        }
    } catch (const std::exception& error) {
        diagnostics::Error(error.what());
        return kCannotStart;
    }
    if (!StopSignal::Install()) {
        diagnostics::Error(std::string("cannot watch for signals: ") + std::strerror(errno));
        return kCannotStart;
    }
    DriverRun run(options, setup);
    try {
        const int status = run.Open(background ? &*background : nullptr, command_line);
        if (status != kSuccess) {
            return status;
        }
    } catch (const std::exception& error) {
        diagnostics::Error(error.what());
        if (background) {
            ::syslog(LOG_ERR, "%s", error.what());
        }
        return kCannotStart;
    }
    return run.Serve();
}

}  // namespace driver_mode
