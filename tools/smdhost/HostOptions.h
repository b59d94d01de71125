#pragma once

#include <string>
#include <vector>

#include "tools/common/CommandLine.h"
#include "tools/common/SafeFile.h"

// What the bench host was asked to do on its command line.
struct HostOptions {
    std::string config;
    std::string module;
    std::string port;
    std::string state_dir;
    std::string module_output;
    unsigned int cycles = 0;  // 0: until stopped
    bool json = false;
    bool brief = false;  // one line per cycle
    bool reload_cache = true;
    bool trace = false;
    std::string trace_file;  // empty: with the events
    bool accept_shared = false;
    std::string nut_dir;  // serve the devices to NUT's upsd from this folder
    std::string nut_user;   // the user upsd runs as (--nut); "" for nut
    std::string nut_group;  // the group of the NUT folder (--nut); "" for nut
    bool print_ups_conf = false;
    std::string probe;  // a port to try, instead of running devices

    // NUT's driver convention: -a NAME runs the UPS NAME of ups.conf.
    std::string ups;
    std::string user;                // -u: whom to become after opening; "" not given
    std::vector<std::string> extra;  // each -x KEY=VALUE
    bool power_off = false;          // -k
    unsigned int debug = 0;          // -D, each once more
    bool foreground = false;         // -F
};

// The bench host's options, each defined once.
const command_line::Program& HostProgram();

// Reads the command line; a mistake ends the program with status 2.
HostOptions ReadHostOptions(int argc, char** argv);

// The rules of the folders the host writes to, as the options accept them;
// `create` makes a missing one.
safe_file::FolderRules FolderRulesOf(const HostOptions& options, bool create);
