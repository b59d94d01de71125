#include "sim/SimOptions.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tools/common/JsonKeys.h"
#include "tools/common/SerialPort.h"

namespace {

using command_line::Arg;
using command_line::Completes;

enum Id { kFast = 1000, kSeed };

[[noreturn]] void Refuse(const std::string& complaint)
{
    command_line::Refuse(SimProgram(), complaint);
}

// A fault's rate, from 0 to 1.
double Rate(const std::string& text)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0.0 && value <= 1.0)) {
        Refuse("not a rate from 0 to 1: " + text);
    }
    return value;
}

// A seed of the fault draws, a whole number.
unsigned int Seed(const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || value > UINT32_MAX) {
        Refuse("not a whole number from 0 to " + std::to_string(UINT32_MAX) + ": " + text);
    }
    return static_cast<unsigned int>(value);
}

// One of the speeds a serial line is set to.
int Baud(const std::string& text)
{
    std::string known;
    for (const int speed : SerialPort::Speeds()) {
        if (text == std::to_string(speed)) {
            return speed;
        }
        known += (known.empty() ? "" : ", ") + std::to_string(speed);
    }
    Refuse("not a line speed: " + text + " (one of " + known + " bit/s)");
}

void AddFault(const std::string& fault_option, SimOptions& options)
{
    const std::size_t equals = fault_option.find('=');
    const std::string name = fault_option.substr(0, equals);
    const ups_faults::FaultInfo* info = ups_faults::FindFault(name);
    if (info == nullptr) {
        std::vector<std::string> names;
        for (const auto& known : ups_faults::kFaults) {
            names.emplace_back(known.name);
        }
        const std::string nearest = json_keys::Nearest(name, names);
        std::string known;
        for (const std::string& fault : names) {
            known += (known.empty() ? "" : ", ") + fault;
        }
        Refuse("no such fault: " + name + (nearest.empty() ? " (the faults: " + known + ")"
                                                           : "; did you mean " + nearest + "?"));
    }
    options.faults[info->fault] =
        equals == std::string::npos ? 1.0 : Rate(fault_option.substr(equals + 1));
}

// The faults, a row each, and their names for the shell's completion.
std::string FaultRows()
{
    std::string rows = "faults:\n";
    for (const auto& info : ups_faults::kFaults) {
        char row[160];
        std::snprintf(row, sizeof(row), "  %-12s %s\n", info.name, info.summary);
        rows += row;
    }
    return rows;
}

const char* FaultNames()
{
    static const std::string names = [] {
        std::string text;
        for (const auto& info : ups_faults::kFaults) {
            text += (text.empty() ? "" : " ") + std::string(info.name);
        }
        return text;
    }();
    return names.c_str();
}

}  // namespace

const command_line::Program& SimProgram()
{
    static const command_line::Program program{
        "upssim",
        "[options]",
        "simulate a UPS on a serial line",
        "Answers \"RS\\r\" and \"RD\\r\" byte for byte as a UPS does, on a pseudo-terminal or a "
        "serial device, with the readings of a scenario and, on request, faults.",
        {
            {'s', "scenario", 's', Arg::Required, "FILE",
             "What the UPS reports over time (default: on line, steady).", Completes::File},
            {'p', "port", 'p', Arg::Required, "DEVICE",
             "Answer on this serial device instead of a pseudo-terminal.", Completes::Device},
            {'l', "link", 'l', Arg::Required, "PATH",
             "Make PATH a symbolic link to the pseudo-terminal's end.", Completes::File},
            {'b', "baud", 'b', Arg::Required, "N",
             "Line speed in bit/s, and the pace of the answers (default 2400)."},
            {kFast, "fast", 0, Arg::None, nullptr, "Answer at once, unpaced."},
            {'f', "fault", 'f', Arg::Required, "NAME[=RATE]",
             "Put the fault into answers at RATE, 0 to 1 (default 1); may be repeated.",
             Completes::Words, FaultNames()},
            {kSeed, "seed", 0, Arg::Required, "N", "Seed of the fault draws (default 1)."},
            {'v', "verbose", 'v', Arg::None, nullptr,
             "Show every command, how it was answered and the bytes sent."},
        },
        {
            {"0", "stopped by SIGINT or SIGTERM"},
            {"2", "bad options, or the scenario, the port or the pseudo-terminal could not be "
                  "used"},
        },
        FaultRows(),
    };
    return program;
}

SimOptions ReadSimOptions(int argc, char** argv)
{
    SimOptions options;
    const auto operands = command_line::Parse(argc, argv, SimProgram(), [&](int id, const char* value) {
        switch (id) {
        case 's': options.scenario = value; break;
        case 'p': options.port = value; break;
        case 'l': options.link = value; break;
        case 'b': options.baud = Baud(value); break;
        case kFast: options.fast = true; break;
        case 'f': AddFault(value, options); break;
        case kSeed: options.seed = Seed(value); break;
        case 'v': options.verbose = true; break;
        }
    });
    if (!operands.empty()) {
        Refuse("unexpected argument: " + operands.front());
    }
    if (!options.port.empty() && !options.link.empty()) {
        Refuse("--link names a pseudo-terminal; it does not go with --port");
    }
    return options;
}
