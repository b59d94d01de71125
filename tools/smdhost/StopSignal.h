#pragma once

#include <chrono>

// SIGINT and SIGTERM turned into a request to stop, which every device thread
// sees: between cycles they wait on it instead of sleeping.
class StopSignal {
public:
    using Clock = std::chrono::steady_clock;

    // Installs the handlers. Answers false when the process cannot make the
    // pipe that wakes the waiting threads.
    static bool Install();

    // Asks every thread to stop, as the signals do.
    static void Request();
    static bool Requested();

    // Waits until `when`; answers true, at once, when a stop is requested.
    static bool WaitUntil(Clock::time_point when);
};
