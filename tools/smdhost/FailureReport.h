#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "tools/smdhost/EventLog.h"

// True at most once a minute: the pace of the reminders of a fault that goes on.
class Reminder {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kEvery{60};

    void Restart(Clock::time_point now) { last_ = now; }
    bool Due(Clock::time_point now);

private:
    Clock::time_point last_{};
};

// The failed cycles of one device, as its user sees them: every one in JSON
// and in the compact view; in text the first three in a row in full, then
// each that fails otherwise than the one before it, while repeats of one
// failure are counted on one line (when they end, each minute, at the end of
// the run). With the third in a row the data is stale; a line a minute says
// the failures go on, and one says when they end.
class FailureReport {
public:
    static constexpr unsigned int kStaleAfter = 3;

    FailureReport(EventLog& log, const EventLog::Device& device) : log_(log), device_(device) {}

    void Failed(unsigned int cycle, const std::string& reason, const std::string& detail);
    void Completed();
    // The run ends: repeats not yet told are.
    void Finish() { TellRepeats(); }

    unsigned int Total() const { return total_; }
    bool Stale() const { return stale_; }
    // "cycle N (reason): detail" of the last failed cycle; "" when none failed.
    const std::string& Last() const { return last_; }

private:
    void TellRepeats();

    EventLog& log_;
    const EventLog::Device& device_;
    unsigned int total_ = 0;
    unsigned int in_a_row_ = 0;
    bool stale_ = false;
    Reminder::Clock::time_point first_{};
    std::string last_;  // "cycle N (reason): detail"
    std::string last_reason_;
    std::string last_detail_;
    std::optional<events::Repeated> repeats_;  // not yet told
    Reminder reminder_;
};

// The storage failures of one file: the first is shown with the file's name
// and the system's reason, the next are counted with a reminder a minute, and
// the first block stored again says so.
class StorageReport {
public:
    StorageReport(EventLog& log, const EventLog::Device& device, std::string file)
        : log_(log), device_(device), file_(std::move(file))
    {
    }

    void Failed(const std::string& detail);
    void Stored();

    unsigned int Lost() const { return lost_total_; }

private:
    EventLog& log_;
    const EventLog::Device& device_;
    std::string file_;
    unsigned int lost_total_ = 0;
    unsigned int lost_now_ = 0;  // since the file last took a block
    Reminder::Clock::time_point first_{};
    Reminder reminder_;
};
