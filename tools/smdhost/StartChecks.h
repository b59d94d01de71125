#pragma once

#include <string>

#include "tools/common/SafeFile.h"
#include "tools/smdhost/BenchConfig.h"

// What the host refuses before any device starts, because it cannot work:
// each check throws std::runtime_error with the way out (exit status 2).
namespace start_checks {

// Every block would be lost in a state folder the user cannot write to.
void CheckStateFolderWritable(const safe_file::Folder& folder);

// The way out after the state folder could not be made or opened for the
// system's reason `code`; "" when there is no general one.
std::string StateFolderFix(int code);

// Two devices polling one line would each take half of the other's answers:
//   devices 1 (ups-a, data id 1) and 2 (ups-b, data id 2) both use the port
//   /dev/ttyUSB0; one device per line
void CheckOneDevicePerPort(const BenchConfig& config);

}  // namespace start_checks
