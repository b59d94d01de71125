#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

// The programs measured side by side, each run as a user runs it against a
// simulated UPS on a pseudo-terminal of its own: the bench host with the
// module against upssim, and NUT's serial driver nutdrv_qx against q1sim.
// Both poll once a second, the shortest interval nutdrv_qx takes.
namespace side_by_side {

// How the UPS answers, and whether upsd is served.
enum class Mode {
    Unpaced,  // each answer written at once
    Paced,    // each byte at the line's speed
    Serving,  // paced, and the program serves its UPS to a private upsd
};

// What a run of `polls` polls (and what it took to start and stop) cost.
struct Cost {
    double cpu_us = 0;       // the program's user and system time, its threads included
    double switches = 0;     // its context switches, voluntary and not
    double upsd_cpu_us = 0;  // upsd's, when it was served
    std::map<std::string, long> syscalls;  // by name, with "total"; with strace only
};

struct RunSettings {
    Mode mode = Mode::Unpaced;
    int baud = 2400;
    unsigned int polls = 1;
    bool strace = false;  // count the system calls (the times are then strace's)
};

// A program measured.
class Contender {
public:
    virtual ~Contender() = default;
    // The name its figures go by: "smdhost", "baseline", "nutdrv_qx".
    virtual std::string Name() const = 0;
    // The bytes on the line, both ways, per poll.
    virtual unsigned int WireBytes() const = 0;
    // Runs the program for the polls asked in a folder of its own; throws
    // what went wrong, with the program's own words.
    virtual Cost Run(const RunSettings& settings) const = 0;
};

// Whether strace is there to count the system calls (Debian's strace).
bool CanCountSyscalls();

// The bench host of this build (QUILL_SMDHOST, QUILL_MODULE, QUILL_UPSSIM
// name others), the one of QUILL_SMDHOST_BASELINE when set (with
// QUILL_MODULE_BASELINE, else the same module), and nutdrv_qx.
std::vector<std::unique_ptr<Contender>> Contenders();

}  // namespace side_by_side
