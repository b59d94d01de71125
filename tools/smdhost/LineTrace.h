#pragma once

#include <chrono>
#include <string>

#include "tools/smdhost/EventLog.h"

// The bytes on one device's line as the trace shows them: a person reads one
// line per command and one per answer, not one per read of the line. The
// pieces of an answer are joined until a command is sent, a block published,
// a failure told, the cycle ends, or the answer pauses (the reader of the line
// tells when: AnswerPace). Bytes thrown away before a command are traced as
// such. Used from the device's thread only.
class LineTrace {
public:
    // Where a piece of received bytes stands among the reads of the line.
    enum class Piece {
        SameRead,    // the rest of the read the piece before came from
        NextRead,    // the first of a read while the answer flows
        AfterPause,  // the first of a read after a pause in the answer
    };

    LineTrace(EventLog& log, const EventLog::Device& device) : log_(log), device_(device) {}

    void Sent(unsigned int cycle, const unsigned char* data, std::size_t len);
    void Received(unsigned int cycle, const unsigned char* data, std::size_t len, Piece piece);
    void Discarded(unsigned int cycle, const std::string& bytes);
    // Traces the pieces received so far as one line.
    void Flush();

private:
    EventLog& log_;
    const EventLog::Device& device_;
    unsigned int cycle_ = 0;
    std::string pending_;
    std::size_t chunks_ = 0;  // the reads the pending bytes came in
    std::chrono::system_clock::time_point first_at_{};
    std::chrono::system_clock::time_point last_at_{};
};
