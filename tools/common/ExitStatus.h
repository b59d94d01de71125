#pragma once

// The exit statuses of the tools, in one place. When several apply, each
// program says which wins; --help lists them (each program's table).
namespace exit_status {

constexpr int kSuccess = 0;
constexpr int kUsage = 2;  // a mistake in the options: every tool

namespace smdhost {
// a cycle failed, or the module refused a device's settings; --probe: the UPS
// does not answer as the module reads it
constexpr int kDeviceFailed = 1;
// options, configuration, a state folder the user may not write or make, two
// devices on one port, module, a device's state files another host holds
constexpr int kCannotStart = 2;
constexpr int kNotStored = 3;  // a block was not stored, or a state file was refused
// a port is held by another program, is no terminal, may not be opened by the
// user, or is named without its /dev/
constexpr int kPortRefused = 4;
// -a NAME -k: the UPS has no power-off command (the failure status of NUT's
// drivers, which upsdrvctl shutdown reports)
constexpr int kNoPowerOff = 1;
}  // namespace smdhost

namespace smdhist {
constexpr int kDamaged = 1;     // a damaged block, skipped bytes or a torn tail, shown
constexpr int kLeftOut = 1;     // blocks or values a time series could not take, shown
constexpr int kEmpty = 3;       // a file without a whole block
constexpr int kUnreadable = 4;  // a file missing or unreadable
constexpr int kNoOutput = 5;    // the picture or the output could not be written
constexpr int kNothingChosen = 6;  // blocks were read, but none of the range or data id asked for
}  // namespace smdhist

namespace upssim {
// the scenario, the port or the pseudo-terminal: as smdhost's, so that a
// script tells "could not start" by one status whichever tool it ran
constexpr int kCannotStart = 2;
}  // namespace upssim

namespace q1sim {
// the pseudo-terminal could not be made, or was lost: as upssim's
constexpr int kCannotStart = 2;
}  // namespace q1sim

}  // namespace exit_status
