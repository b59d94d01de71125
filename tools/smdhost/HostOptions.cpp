#include "tools/smdhost/HostOptions.h"

#include <cerrno>
#include <cstdlib>

#include "tools/common/ElfInfo.h"
#include "tools/smdhost/BenchConfig.h"
#include "tools/smdhost/HostManual.h"

namespace {

using command_line::Arg;
using command_line::Completes;

enum Id { kModuleOutput = 1000, kNoCache, kAcceptShared, kNut, kPrintUpsConf, kBrief, kProbe };

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
// module is named (on the command line or in the configuration).
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
             "The driver module (default: \"module\" of the configuration).", Completes::File},
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
             "what the module made of them, and end with a verdict (needs --module; the answer timeout "
             "is the first device's of --config, else 3 s).",
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
            {kPrintUpsConf, "print-ups-conf", 0, Arg::None, nullptr,
             "Print the ups.conf sections that make upsd find the devices, and end."},
        },
        {
            {"0", "every cycle of every device completed"},
            {"1", "a cycle failed or the module refused a device's settings (--probe: the UPS "
                  "does not answer as the module reads it)"},
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
        case kPrintUpsConf: options.print_ups_conf = true; break;
        case kProbe: options.probe = value; break;
        }
    }, [&] { return ModuleLine(options); });
    if (!operands.empty()) {
        command_line::Refuse(HostProgram(), "unexpected argument: " + operands.front());
    }
    if (options.brief && options.json) {
        command_line::Refuse(HostProgram(), "--brief is a view for people; --json is for "
                                            "scripts: give one of them");
    }
    if (options.config.empty() && options.port.empty() && options.probe.empty()) {
        command_line::Refuse(HostProgram(), "give a configuration file (--config), a serial "
                                            "port (--port) or a port to try (--probe)");
    }
    return options;
}
