#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tools/common/DataBlock.h"

// What the bench host tells, each fact a struct of its own, made once where
// it happens and read by every output from its fields: the text and compact
// views format them, the JSON output makes JSON of them, the NUT output takes
// the decoded block. Names shared by producer and outputs are these types and
// members, never strings.
namespace events {

// A device as the events name it.
struct Device {
    std::string name;
    unsigned int data_id = 0;
};

// Whether a block or an alarm change comes from a poll cycle or the cache.
enum class Source { Poll, Cache };

// A device made by the module and about to run, with the versions that run it.
struct Started {
    std::string device_type;
    std::string port;
    int baud = 0;
    double poll_seconds = 0;
    double timeout_seconds = 0;
    std::string version;         // the bench host's
    std::string module_version;  // the module file's, "" when it has none
};

// The serial line opened (at start or again after it was lost).
struct PortOpened {
    std::string port;
    int baud = 0;
};

// A block published, decoded once: by poll `cycle`, or from the cache (stored at `stored_at`).
struct Block {
    Source source = Source::Poll;
    unsigned int cycle = 0;
    std::string stored_at;
    int data_type = 0;
    std::optional<data_block::Decoded> decoded;  // nothing for a block of another size
    std::string bytes;                           // the block of another size, as published

    // The block of another size as hex bytes: "01 02 ff".
    std::string Hex() const;
    // The block of `len` bytes at `data`, decoded when it has the record's size.
    static Block Of(Source source, unsigned int cycle, int data_type, const unsigned char* data,
                    unsigned int len);
};

// An alarm turned on or off, or on in the cached block.
struct Alarm {
    enum class Change { Raised, Cleared, Restored };
    Change change = Change::Raised;
    std::string key;
    std::string alarm_id;
    std::string text;
    std::string second_text;
    unsigned short index = 0;
    Source source = Source::Poll;
    unsigned int cycle = 0;  // 0 for the cached block
};

// A failed cycle; a person's view shows it only when `in_text` (a repeat of
// the failure before it, which comes again in a Repeated).
struct CycleFailed {
    unsigned int cycle = 0;
    std::string reason;  // timeout, refused, port, module
    std::string detail;
    bool in_text = true;
};

// Failed cycles in a row that each failed as the one before them did (the
// same reason and detail), counted on one line of a person's view when they
// end, each minute and at the end of the run. Each was a CycleFailed of its own.
struct Repeated {
    unsigned int first_cycle = 0;
    unsigned int last_cycle = 0;
    std::string reason;
    std::string detail;
};

// The third failed cycle in a row: the device's data is stale.
struct Stale {
    unsigned int failed_in_a_row = 0;
};

// Failures in a row that go on (a reminder a minute) or ended with a completed cycle.
struct Failing {
    enum class Now { Ongoing, Ended };
    Now now = Now::Ongoing;
    unsigned int failed_in_a_row = 0;
    std::string over;
    std::string last;
};

// A history or cache file that cannot be written, still cannot (each minute), or can again.
struct Storage {
    enum class State { Failed, Failing, Stored };
    State state = State::Failed;
    std::string file;
    std::string detail;
    unsigned int lost = 0;  // blocks not stored
    std::string over;       // Failing only
};

// The history reached its limit: kept as `kept_as`, a new one started.
struct Rotated {
    std::string file;
    std::string kept_as;
    std::uint64_t limit = 0;
};

// A warning or an error about a device, or about one of its poll cycles.
struct Message {
    enum class Level { Warning, Error };
    Level level = Level::Warning;
    std::string detail;
    unsigned int cycle = 0;  // the cycle it is about; 0: none
};

// The host was asked to stop (a signal, or the output's reader gone).
struct Stopping {
    std::string signal;
};

// A device's totals, at the end of the run.
struct Summary {
    unsigned int completed = 0;
    unsigned int failed = 0;
    bool stale = false;
    bool interrupted = false;
    unsigned int not_stored = 0;
    std::string last_failure;  // "cycle N (reason): detail"; "" when none failed
};

// Bytes on a line, for the trace: sent, received (in `chunks`) or left there before a command.
struct Bytes {
    enum class Direction { Sent, Received, Discarded };
    unsigned int cycle = 0;
    Direction direction = Direction::Sent;
    std::string bytes;
    std::size_t chunks = 1;
    std::chrono::system_clock::time_point first;
    std::chrono::system_clock::time_point last;
};

// The first line of a run's trace: the version and the command line.
struct Run {
    std::string version;
    std::vector<std::string> command_line;
};

// A line the module wrote on the standard output it shares with the text events.
struct ModuleLine {
    std::string text;  // as written, with its newline
};

// Events the outputs could not take in time, left out (see EventQueue.h).
struct Dropped {
    unsigned long long count = 0;
};

// upsd connected to the device's NUT socket, or went.
struct Upsd {
    bool connected = true;
    std::string process;  // "upsd (pid 4242)"
    std::string socket;
};

using Fact = std::variant<Started, PortOpened, Block, Alarm, CycleFailed, Repeated, Stale,
                          Failing, Storage, Rotated, Message, Stopping, Summary, Bytes, Run,
                          ModuleLine, Dropped, Upsd>;

// One fact with the moment it happened and, for most, its device.
struct Event {
    std::chrono::system_clock::time_point time;
    std::optional<Device> device;
    Fact fact;
};

// True for the facts of the trace (Bytes, Run), which go to the trace's
// output and show their time to the millisecond.
bool IsTrace(const Fact& fact);

// Builds a visitor of a Fact from lambdas: std::visit(Overloaded{...}, fact).
template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace events
