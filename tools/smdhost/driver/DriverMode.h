#pragma once

#include <string>
#include <vector>

#include "tools/smdhost/HostOptions.h"

// smdhost as Network UPS Tools' driver of one UPS (-a NAME), run the way NUT
// runs its drivers: upsdrvctl start runs `smdhost -a NAME [-u USER]`, waits
// for it to go to the background once it serves, and stop sends SIGTERM to
// the process of its pid file; upsdrvctl shutdown runs `smdhost -a NAME -k`.
//
// As root, the port, the socket and the state folder are opened first, then
// the driver becomes its user (-u, ups.conf's user, else nut) and opens its
// state files as that user, so that they stay its own. A state folder made
// for it belongs to root and the user's group, mode 0770, as NUT's own are.
namespace driver_mode {

// Runs the UPS options.ups; answers the exit status. `command_line` goes to
// the trace's first line.
int Run(const HostOptions& options, const std::vector<std::string>& command_line);

}  // namespace driver_mode
