#pragma once

#include <chrono>

// SIGINT, SIGTERM and SIGHUP (a terminal closed, an ssh session dropped)
// turned into a request to stop, which every device thread
// sees at once: between cycles they wait on it instead of sleeping, and
// during an exchange their wait for the line watches it too. A second SIGINT
// or SIGTERM ends the process at once (status 128 + the signal's number): stored files
// are whole at every moment, so nothing is torn by it.
class StopSignal {
public:
    using Clock = std::chrono::steady_clock;

    // Installs the handlers. Answers false when the process cannot make the
    // pipe that wakes the waiting threads.
    static bool Install();

    // Asks every thread to stop, as the signals do; `signal` names why (the
    // first reason given stays).
    static void Request(int signal = 0);
    static bool Requested();
    // The signal that asked, 0 when none did.
    static int Signal();
    // Its name for the stop event: "SIGINT", "SIGHUP", "SIGPIPE", else "SIGTERM".
    static const char* Name();

    // Becomes readable, and stays so, once a stop is requested: for poll().
    static int WakeFd();

    // Waits until `when`; answers true, at once, when a stop is requested.
    static bool WaitUntil(Clock::time_point when);
    // Waits, with no wakeup meanwhile, until `fd` is readable; answers true,
    // at once, when a stop is requested.
    static bool WaitFor(int fd);
};
