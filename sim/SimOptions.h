#pragma once

#include <map>
#include <string>

#include "sim/UpsFaults.h"
#include "tools/common/CommandLine.h"

// What the simulator was asked to do on its command line.
struct SimOptions {
    std::string scenario;
    std::string port;
    std::string link;
    int baud = 2400;
    bool fast = false;
    std::map<ups_faults::Fault, double> faults;  // each fault's rate, 0 to 1
    unsigned int seed = 1;
    bool verbose = false;
};

// The simulator's options, each defined once.
const command_line::Program& SimProgram();

// Reads the command line; a mistake ends the program with status 2.
SimOptions ReadSimOptions(int argc, char** argv);
