#pragma once

#include <chrono>
#include <string>

#include "tools/smdhost/EventLog.h"

// The bytes on one device's line as the trace shows them: a person reads one
// line per command and one per answer, not one per chunk the serial driver
// happened to deliver (at 2400 bit/s that is often one byte). Received chunks
// are joined while each comes within kGap of the one before; a command sent,
// a block published, a failure or the end of a cycle closes the line. Bytes
// thrown away before a command are traced as such. Used from the device's
// thread only.
class LineTrace {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kGap{100};

    LineTrace(EventLog& log, const EventLog::Device& device) : log_(log), device_(device) {}

    void Sent(unsigned int cycle, const unsigned char* data, std::size_t len);
    void Received(unsigned int cycle, const unsigned char* data, std::size_t len);
    void Discarded(unsigned int cycle, const std::string& bytes);
    // Traces the chunks received so far as one line.
    void Flush();

private:
    EventLog& log_;
    const EventLog::Device& device_;
    unsigned int cycle_ = 0;
    std::string pending_;
    std::size_t chunks_ = 0;
    Clock::time_point last_{};
    std::chrono::system_clock::time_point first_at_{};
    std::chrono::system_clock::time_point last_at_{};
};
