// When the bench host reads an answer and when it gives it up, on simulated
// lines: bytes arrive at a pace (with a pause, if asked), the host reads as
// AnswerPace says. An answer costs a handful of reads at any pace, not one per
// byte; the answer timeout counts the line's quiet, not the time since the
// command; an answer still coming after three timeouts is given up as busy.
#include <algorithm>
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "tools/smdhost/AnswerPace.h"

namespace {

using Clock = AnswerPace::Clock;
using Kind = AnswerPace::Step::Kind;
using std::chrono::milliseconds;

Clock::duration ByteAt(int baud)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(10.0 / baud));
}

struct Case {
    const char* name;
    int ups_baud;  // the pace the UPS sends at, on a line set to 2400; 0: all at once
    std::size_t bytes;
    bool size_known;  // an answer as long was taken before
    int timeout_ms;
    std::size_t pause_after = 0;  // the line quiet for `pause_ms` after this byte
    int pause_ms = 0;
    int first_ms = 2;  // the first byte this long after the command
    // What is seen: how the answer ended (Wait: read whole), at most this many
    // reads, the last byte read within this many byte times (0: unchecked),
    // reads after a pause.
    Kind end = Kind::Wait;
    std::size_t most_reads = 0;
    int read_within = 0;
    std::size_t after_pause = 0;
};

struct Seen {
    Kind end = Kind::Wait;
    std::size_t reads = 0;
    std::size_t after_pause = 0;
    Clock::duration last_byte_read{};
};

// Reads the answer of `c` as the bench host does: a 512-byte buffer.
Seen ReadAnswer(AnswerPace& pace, const Case& c)
{
    const auto arrival = [&](std::size_t byte) {
        const Clock::duration pause = byte >= c.pause_after && c.pause_after > 0
                                          ? milliseconds(c.pause_ms) : Clock::duration{};
        return milliseconds(c.first_ms) + pause +
               (c.ups_baud > 0 ? ByteAt(c.ups_baud) * static_cast<long>(byte) : Clock::duration{});
    };
    const Clock::time_point start{};
    Clock::time_point now = start;
    pace.Start("RD\r", start);
    Seen seen;
    std::size_t read = 0;
    while (read < c.bytes) {
        const AnswerPace::Step step = pace.Next(now);
        if (step.kind == Kind::Quiet || step.kind == Kind::Busy) {
            seen.end = step.kind;
            return seen;
        }
        const Clock::time_point next = start + arrival(read);
        const bool woken = step.kind == Kind::Wait && next <= now + step.time;
        now = woken ? std::max(now, next) : now + step.time;
        std::size_t count = 0;
        while (read + count < c.bytes && start + arrival(read + count) <= now && count < 512) {
            ++count;
        }
        pace.Read(now, count, count == 512);
        read += count;
        seen.reads += count > 0 ? 1 : 0;
        seen.after_pause += pace.AfterPause() ? 1 : 0;
    }
    seen.last_byte_read = now - (start + arrival(c.bytes - 1));
    pace.Taken("RD\r", c.bytes);
    return seen;
}

class AnswerReads : public ::testing::TestWithParam<Case> {};

TEST_P(AnswerReads, AreAFewPerAnswerAndEndAsTheLinesQuietSays)
{
    const Case& c = GetParam();
    AnswerPace pace{milliseconds(c.timeout_ms)};
    pace.SetSpeed(2400);
    if (c.size_known) {
        ReadAnswer(pace, Case{"before", c.ups_baud, c.bytes, false, 3000});
    }
    const Seen seen = ReadAnswer(pace, c);
    EXPECT_EQ(seen.end, c.end);
    EXPECT_LE(seen.reads, c.most_reads);
    EXPECT_EQ(seen.after_pause, c.after_pause) << "a pause within an answer starts a trace line";
    if (c.read_within > 0) {
        EXPECT_LE(seen.last_byte_read, ByteAt(c.ups_baud) * c.read_within);
    }
}

const Case kCases[] = {
    {"data_answer_at_2400_bit_s", 2400, 156, true, 3000, 0, 0, 2, Kind::Wait, 2, 4},
    {"status_answer_at_2400_bit_s", 2400, 47, true, 3000, 0, 0, 2, Kind::Wait, 2, 4},
    {"of_unknown_size_in_reads_of_16_bytes", 2400, 156, false, 3000, 0, 0, 2, Kind::Wait, 12, 17},
    {"at_600_bit_s_on_a_line_set_to_2400", 600, 156, true, 3000, 0, 0, 2, Kind::Wait, 2, 4},
    {"at_38400_bit_s_on_a_pseudo_terminal", 38400, 156, true, 3000, 0, 0, 2, Kind::Wait, 2, 256},
    {"written_at_once", 0, 156, true, 3000, 0, 0, 2, Kind::Wait, 1},
    {"noise_of_4_KiB_at_once_in_buffers_one_after_another", 0, 4200, false, 3000, 0, 0, 2,
     Kind::Wait, 9},
    {"taking_2_6_s_against_a_1_s_timeout_as_the_line_never_falls_quiet", 600, 156, false, 1000,
     0, 0, 2, Kind::Wait, 20},
    {"pausing_for_less_than_the_timeout", 2400, 156, false, 1000, 40, 800, 2, Kind::Wait, 14, 0,
     1},
    {"pausing_for_longer_than_the_timeout", 2400, 156, false, 1000, 40, 1500, 2, Kind::Quiet, 5},
    {"never_starting", 2400, 156, false, 1000, 0, 0, 5000, Kind::Quiet, 0},
    {"coming_after_three_timeouts", 600, 156, false, 500, 0, 0, 2, Kind::Busy, 20},
};

INSTANTIATE_TEST_SUITE_P(Table, AnswerReads, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
