#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

// When the host reads the line during one answer, and when the answer is
// overdue. Waking for every byte costs a wakeup per byte at a line's pace;
// instead the host wakes for the first byte that comes after a quiet spell,
// and while bytes keep coming it pauses between reads and lets the terminal
// layer gather them: for the rest of an answer as long as the last one the
// module took for the same command, or for kBatchBytes, at the pace the bytes
// come. An answer then costs a handful of wakeups at any line speed.
//
// The answer is overdue when the line has been quiet for the answer timeout
// (before its first byte, or after its last), or when it has gone on for
// kBusyTimes the answer timeout while bytes kept coming (noise, a line too
// slow for the timeout). Only arithmetic on the times it is given: the host
// reads and tells it what came.
class AnswerPace {
public:
    using Clock = std::chrono::steady_clock;
    using milliseconds = std::chrono::milliseconds;

    // How many answer timeouts an answer may take in all while bytes come.
    static constexpr unsigned int kBusyTimes = 3;
    // Bytes gathered per read while the rest of the answer is not known.
    static constexpr std::size_t kBatchBytes = 16;
    // Bytes of margin on the rest of an answer of known length.
    static constexpr std::size_t kSlackBytes = 2;
    // A quiet spell within an answer counts as a pause (the trace starts a
    // new line) when longer than kPauseBytes at the line's pace, and at least
    // kShortestPause: at 2400 bit/s both are 100 ms.
    static constexpr std::size_t kPauseBytes = 24;
    static constexpr milliseconds kShortestPause{100};

    // `timeout`: the answer timeout, the quiet that ends an answer.
    explicit AnswerPace(milliseconds timeout) : timeout_(timeout) {}

    // The line's speed: ten bits a byte at it is the pace assumed until the
    // bytes of a taken answer show their own (a UPS may send slower, and a
    // pseudo-terminal at any pace).
    void SetSpeed(int baud);

    // `command` was sent at `now`: its answer begins.
    void Start(const std::string& command, Clock::time_point now);
    // The module took the answer to `command`, `size` bytes long.
    void Taken(const std::string& command, std::size_t size);

    // What the host does next: wait up to `time` for the first byte, pause
    // `time` and read what gathered, or give the answer up (the line quiet
    // for the timeout, or busy for Longest()).
    struct Step {
        enum class Kind { Wait, Pause, Quiet, Busy };
        Kind kind;
        milliseconds time;
    };
    Step Next(Clock::time_point now) const;

    // A read at `now` brought `count` bytes; `full`: it filled the buffer.
    void Read(Clock::time_point now, std::size_t count, bool full);
    // The last read's bytes came after a pause within the answer.
    bool AfterPause() const { return after_pause_; }
    // The quiet that makes a pause: kPauseBytes at the pace, kShortestPause at least.
    Clock::duration PauseGap() const;

    // The longest an answer may take while its bytes keep coming.
    milliseconds Longest() const { return timeout_ * kBusyTimes; }

private:
    // Bytes came after the line was quiet: a new measure of the pace.
    void BurstBegins(Clock::time_point now, std::size_t count);
    Clock::duration BytePace() const;
    // The pace of a byte before an answer's bytes show it.
    Clock::duration Assumed() const;
    Clock::duration PauseLength() const;

    milliseconds timeout_;
    Clock::duration line_pace_ = std::chrono::microseconds(4167);  // 2400 bit/s until told
    std::map<std::string, std::size_t> sizes_;  // of the last answer taken, by command
    std::size_t expected_ = 0;                  // the size of this answer, 0: not known
    Clock::duration seen_pace_{};               // of the last answer taken, 0: none yet

    Clock::time_point start_{};
    Clock::time_point last_bytes_{};  // the last read that brought bytes, or the start
    Clock::time_point wait_from_{};   // when the host last began to wait for a byte
    std::size_t got_ = 0;
    bool flowing_ = false;  // the last read brought bytes: more are coming
    bool full_ = false;
    bool after_pause_ = false;

    // The reads since bytes began to flow again: the first one's time and the
    // count up to it, and the pace it suggested; the read before the last, and
    // the last one's count and the time since the read before it.
    Clock::time_point burst_at_{};
    std::size_t burst_got_ = 0;
    Clock::duration first_pace_{};
    Clock::time_point before_last_at_{};
    std::size_t before_last_got_ = 0;
    std::size_t last_count_ = 0;
    Clock::duration last_span_{};
};
