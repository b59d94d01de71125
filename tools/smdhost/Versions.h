#pragma once

#include <string>

#include "tools/smdhost/EventLog.h"

// Which versions run, for whoever reads a log of it later: the host's and
// the module file's on standard error, with the host library the process
// runs on, and the module's in each device's start event.
void SayVersions(const std::string& module, EventLog& log);
