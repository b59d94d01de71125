#pragma once

#include <sys/types.h>

#include <string>

// Who a process is, for a message that names the holder of a line or a
// socket: "smdhost (pid 4242)".
namespace process_name {

// The name the system gives the process (/proc/PID/comm), or "a process".
std::string Of(pid_t pid);

// "NAME (pid PID)".
std::string Described(pid_t pid);

}  // namespace process_name
