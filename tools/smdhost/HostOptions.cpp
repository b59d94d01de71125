#include "tools/smdhost/HostOptions.h"

#include <cerrno>
#include <cstdlib>
#include <iterator>

#include "tools/common/ElfInfo.h"
#include "tools/smdhost/BenchConfig.h"
#include "tools/smdhost/HostManual.h"
#include "tools/smdhost/InstalledModule.h"

namespace {

using command_line::Arg;
using command_line::Completes;

enum Id {
    kModuleOutput = 1000,
    kNoCache,
    kAcceptShared,
    kNut,
    kNutUser,
    kNutGroup,
    kPrintUpsConf,
    kBrief,
    kProbe
};

// What -a leaves to ups.conf, and what only -a takes.
const char* const kNotWithUps[] = {"--config", "--port", "--probe", "--print-ups-conf", "--nut",
                                   "--nut-user", "--nut-group"};
constexpr const char* kDriverOnly = "-u, -x, -k, -D and -F are NUT's driver options: give -a NAME";

unsigned int Count(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long count = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || count > 1000000000UL) {
        command_line::Refuse(HostProgram(), std::string("not a count: ") + text);
    }
    if (count == 0) {
        command_line::Refuse(HostProgram(), "--cycles 0 would run no cycle; leave --cycles out "
                                            "to run until stopped");
    }
    return static_cast<unsigned int>(count);
}

// What --version adds: the module's own version, read from its file, when a
// module is named (on the command line or in the configuration) or installed.
std::string ModuleLine(const HostOptions& options)
{
    std::string module = options.module;
    if (module.empty() && !options.config.empty()) {
        try {
            module = LoadBenchConfig(options.config).module;
        } catch (const std::exception&) {
            return "";
        }
    }
    if (module.empty()) {
        module = installed_module::Find();
    }
    if (module.empty()) {
        return "";
    }
    ElfInfo info;
    std::string error;
    if (!ReadElfInfo(module, info, error)) {
        return "module " + module + ": " + error + "\n";
    }
    const std::string version = ModuleVersion(info);
    return "module " + module + ": " + (version.empty() ? "no version" : version) + ", " +
           ElfKind(info) + "\n";
}

// -a and the options of the bench host's own devices exclude each other.
void CheckDriverOptions(const HostOptions& options)
{
    const bool driver_only = !options.user.empty() || !options.extra.empty() ||
                             options.power_off || options.debug > 0 || options.foreground;
    if (options.ups.empty()) {
        if (driver_only) {
            command_line::Refuse(HostProgram(), kDriverOnly);
        }
        return;
    }
    const bool given[] = {!options.config.empty(), !options.port.empty(), !options.probe.empty(),
                          options.print_ups_conf, !options.nut_dir.empty(),
                          !options.nut_user.empty(), !options.nut_group.empty()};
    for (std::size_t i = 0; i < std::size(given); ++i) {
        if (given[i]) {
            command_line::Refuse(HostProgram(), std::string(kNotWithUps[i]) +
                                                    " is not for -a: ups.conf and NUT's folders "
                                                    "tell the driver of a UPS what it needs");
        }
    }
    if ((options.json || options.brief) && options.debug == 0 && !options.foreground) {
        command_line::Refuse(HostProgram(), "--json and --brief write to standard output, "
                                            "which a driver in the background closes: add -F");
    }
}

}  // namespace

const command_line::Program& HostProgram()
{
    static const command_line::Program program{
        "smdhost",
        "[options]",
        "run a driver module's devices as the controller does",
        "Runs a driver module's devices on real or simulated serial lines, as the controller "
        "does, and shows each block and alarm change.",
        {
            {'c', "config", 'c', Arg::Required, "FILE",
             "The devices to run (JSON); without it, one device on --port.", Completes::File},
            {'m', "module", 'm', Arg::Required, "PATH",
             "The driver module (default: \"module\" of the configuration, else the module "
             "installed beside smdhost).",
             Completes::File},
            {'p', "port", 'p', Arg::Required, "DEVICE",
             "Serial port of the first device, e.g. /dev/ttyUSB0.", Completes::Device},
            {'s', "state-dir", 's', Arg::Required, "DIR",
             "Where history and cache files go (default: \"state_dir\" of the configuration, "
             "else smdhost-state).",
             Completes::Folder},
            {'n', "cycles", 'n', Arg::Required, "N",
             "Stop after N poll cycles of each device, N from 1 (default: run until SIGINT, "
             "SIGTERM or SIGHUP)."},
            {'j', "json", 'j', Arg::None, nullptr, "One JSON object per event instead of text."},
            {kBrief, "brief", 0, Arg::None, nullptr,
             "One line per cycle: its flags and values, or why it failed; alarm changes and "
             "other events on lines of their own. The module's lines go to standard error."},
            {'t', "trace", 't', Arg::Optional, "FILE",
             "Every byte on the lines, both ways, a line per command and per answer; appended "
             "to FILE under a header line per run (default: with the events).",
             Completes::File},
            {kModuleOutput, "module-output", 0, Arg::Required, "FILE",
             "Where the module's own diagnostic lines go (default: standard output; standard "
             "error with --json, --brief or --probe).",
             Completes::File},
            {kProbe, "probe", 0, Arg::Required, "PORT",
             "Try PORT before configuring anything: list the serial ports, check permission "
             "and exclusive access, send one \"RS\\r\" and one \"RD\\r\", show the answers and "
             "what the module made of them, and end with a verdict (the answer timeout is the first "
             "device's of --config, else 3 s).",
             Completes::Device},
            {kNoCache, "no-cache", 0, Arg::None, nullptr,
             "Do not hand the cached block to the driver at start."},
            {kAcceptShared, "allow-shared-state-dir", 0, Arg::None, nullptr,
             "Accept a state folder (or a folder of --trace, --module-output or --nut) that "
             "others can write to."},
            {kNut, "nut", 0, Arg::Required, "DIR",
             "Serve every device to Network UPS Tools' upsd as the UPS of its name, on the "
             "socket DIR/smdhost-NAME (default: \"nut_dir\" of the configuration).",
             Completes::Folder},
            {kNutUser, "nut-user", 0, Arg::Required, "USER",
             "The user upsd runs as (default: nut): it must reach the sockets of --nut, and its "
             "connections keep a place on a full socket."},
            {kNutGroup, "nut-group", 0, Arg::Required, "GROUP",
             "The group of the folder of --nut (default: nut): a folder it may write to is "
             "NUT's own, and one made for it gets that group and mode 0770."},
            {kPrintUpsConf, "print-ups-conf", 0, Arg::None, nullptr,
             "Print the ups.conf sections that make upsd find the devices, and end."},
            {'a', "ups", 'a', Arg::Required, "NAME",
             "Run as Network UPS Tools' driver of the UPS NAME, as upsdrvctl starts it: the "
             "section [NAME] of ups.conf ($NUT_CONFPATH/ups.conf, else /etc/nut/ups.conf) gives "
             "port, data_id, pollinterval, desc, answer_timeout, module, settings (a JSON file) "
             "and state_dir. The socket smdhost-NAME goes to NUT's state folder ($NUT_STATEPATH, "
             "else /run/nut), the pid file smdhost-NAME.pid beside it ($NUT_ALTPIDPATH, if set), "
             "history and cache to state_dir (default /var/lib/smdhost/NAME). Goes to the "
             "background once the socket is up, unless -F or -D; SIGTERM ends it.",
             Completes::Nothing},
            {'u', "user", 'u', Arg::Required, "USER",
             "With -a, started as root: become USER once the port and the socket are open "
             "(default: user of ups.conf, else nut); upsd is taken to run as USER too."},
            {'x', "parameter", 'x', Arg::Required, "KEY=VALUE",
             "With -a: a parameter over those of ups.conf, as NUT's drivers take it; again for "
             "more."},
            {'k', "power-off", 'k', Arg::None, nullptr,
             "With -a: power the UPS off, as upsdrvctl shutdown asks; the UPS has no such command, "
             "so this says so and ends with status 1."},
            {'D', "debug", 'D', Arg::None, nullptr,
             "With -a: stay in the foreground and tell more on standard error: each block and "
             "failed cycle; -DD the bytes on the line too."},
            {'F', "foreground", 'F', Arg::None, nullptr,
             "With -a: stay in the foreground, telling on standard error what a driver logs."},
        },
        {
            {"0", "every cycle of every device completed (-a: or a signal stopped it)"},
            {"1", "a cycle failed or the module refused a device's settings (--probe: the UPS "
                  "does not answer as the module reads it; -k: the UPS has no power-off "
                  "command)"},
            {"2", "the host could not start"},
            {"3", "a block was not stored, or a state file was refused"},
            {"4", "a port is held by another program, is no terminal, may not be opened or is "
                  "misnamed"},
            {"128+N", "a second SIGINT or SIGTERM (signal N) stopped the host at once"},
        },
        "",
        Completes::Nothing,
        HostManualSections(),
    };
    return program;
}

HostOptions ReadHostOptions(int argc, char** argv)
{
    HostOptions options;
    const auto operands = command_line::Parse(argc, argv, HostProgram(), [&](int id, const char* value) {
        switch (id) {
        case 'c': options.config = value; break;
        case 'm': options.module = value; break;
        case 'p': options.port = value; break;
        case 's': options.state_dir = value; break;
        case 'n': options.cycles = Count(value); break;
        case 'j': options.json = true; break;
        case kBrief: options.brief = true; break;
        case 't':
            options.trace = true;
            options.trace_file = value != nullptr ? value : "";
            break;
        case kModuleOutput: options.module_output = value; break;
        case kNoCache: options.reload_cache = false; break;
        case kAcceptShared: options.accept_shared = true; break;
        case kNut: options.nut_dir = value; break;
        case kNutUser: options.nut_user = value; break;
        case kNutGroup: options.nut_group = value; break;
        case 'a': options.ups = value; break;
        case 'u': options.user = value; break;
        case 'x': options.extra.emplace_back(value); break;
        case 'k': options.power_off = true; break;
        case 'D': ++options.debug; break;
        case 'F': options.foreground = true; break;
        case kPrintUpsConf: options.print_ups_conf = true; break;
        case kProbe: options.probe = value; break;
        }
    }, [&] { return ModuleLine(options); });
    if (!operands.empty()) {
        command_line::Refuse(HostProgram(), "unexpected argument: " + operands.front());
    }
    CheckDriverOptions(options);
    if (options.brief && options.json) {
        command_line::Refuse(HostProgram(), "--brief is a view for people; --json is for "
                                            "scripts: give one of them");
    }
    if (options.config.empty() && options.port.empty() && options.probe.empty() &&
        options.ups.empty()) {
        command_line::Refuse(HostProgram(), "give a configuration file (--config), a serial "
                                            "port (--port), a port to try (--probe) or a UPS of "
                                            "ups.conf (-a NAME)");
    }
    return options;
}

safe_file::FolderRules FolderRulesOf(const HostOptions& options, bool create)
{
    safe_file::FolderRules rules;
    rules.create = create;
    rules.accept_shared = options.accept_shared;
    rules.shared_hint = "--allow-shared-state-dir accepts it";
    return rules;
}
