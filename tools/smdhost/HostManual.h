#pragma once

#include <vector>

#include "tools/common/CommandLine.h"

// The parts of the bench host's manual page beyond its options: every key of
// the configuration with its kind, default and range (from the tables the
// configuration is read by), the state files, and examples.
std::vector<command_line::Section> HostManualSections();
