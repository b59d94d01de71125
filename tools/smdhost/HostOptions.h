#pragma once

#include <string>

#include "tools/common/CommandLine.h"

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
    bool print_ups_conf = false;
    std::string probe;  // a port to try, instead of running devices
};

// The bench host's options, each defined once.
const command_line::Program& HostProgram();

// Reads the command line; a mistake ends the program with status 2.
HostOptions ReadHostOptions(int argc, char** argv);
