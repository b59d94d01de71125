#pragma once

#include <chrono>
#include <string>

class SMDSPDeviceProvider;

// smdhost --probe PORT: a port tried before anything is configured. Lists
// the serial ports this machine has (/dev/serial/by-id first), checks that
// the user may open PORT and that no other program holds it, sends one
// "RS\r" and one "RD\r" at the driver's line speed, shows each answer
// escaped and what the module made of it, and ends with a verdict line.
namespace port_probe {

// Exit statuses: 0 a UPS answers and the module took both answers; 1 the port
// works but nothing answers or the module refuses what comes; 4 the port
// cannot be used (missing, no terminal, not permitted, held by another).
// Each answer is waited for `answer_time` at most.
int Run(const std::string& port, const SMDSPDeviceProvider& provider,
        std::chrono::milliseconds answer_time, int out_fd);

}  // namespace port_probe
