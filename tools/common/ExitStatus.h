#pragma once

// The exit statuses of the tools, in one place. When several apply, each
// program says which wins; --help lists them (each program's table).
namespace exit_status {

constexpr int kSuccess = 0;
constexpr int kUsage = 2;  // a mistake in the options: every tool

namespace smdhost {
constexpr int kDeviceFailed = 1;  // a cycle failed, or the module refused a device's settings
constexpr int kCannotStart = 2;   // options, configuration, state folder, module
constexpr int kNotStored = 3;     // a block was not stored, or a state file was refused
constexpr int kPortRefused = 4;   // a port is held by another program or is no terminal
}  // namespace smdhost

namespace smdhist {
constexpr int kDamaged = 1;     // a damaged block, skipped bytes or a torn tail, shown
constexpr int kEmpty = 3;       // a file without a whole block
constexpr int kUnreadable = 4;  // a file missing or unreadable
constexpr int kNoOutput = 5;    // the picture or the output could not be written
constexpr int kNothingChosen = 6;  // blocks were read, but none of the range or data id asked for
}  // namespace smdhist

namespace upssim {
constexpr int kCannotStart = 1;  // the scenario, the port or the pseudo-terminal
}  // namespace upssim

}  // namespace exit_status
