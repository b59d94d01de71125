// When the bench host reads an answer and when it gives it up, on simulated
// lines: bytes arrive at a pace (with a pause, if asked), the host reads as
// AnswerPace says, and what it read, how often and how it ended are checked.
// An answer costs a handful of reads at any pace instead of one per byte;
// the answer timeout counts the line's quiet, not the time since the command.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/smdhost/AnswerPace.h"

namespace {

using Clock = AnswerPace::Clock;
using Kind = AnswerPace::Step::Kind;
using std::chrono::milliseconds;

constexpr std::size_t kReadSize = 512;  // what the bench host reads at once

// An answer on a simulated line: `bytes` bytes, the first `first_after` after
// the command, then one each `pace`; after byte `pause_after` (0: none) the
// line is quiet for `pause`.
struct Line {
    std::size_t bytes;
    Clock::duration pace;
    Clock::duration first_after = milliseconds(2);
    std::size_t pause_after = 0;
    Clock::duration pause{};

    // How many bytes have arrived `since` the command.
    std::size_t ArrivedBy(Clock::duration since) const
    {
        std::size_t count = 0;
        while (count < bytes && ArrivalOf(count) <= since) {
            ++count;
        }
        return count;
    }
    Clock::duration ArrivalOf(std::size_t byte) const
    {
        const bool after = pause_after > 0 && byte >= pause_after;
        return first_after + pace * static_cast<long>(byte) + (after ? pause : Clock::duration{});
    }
};

Clock::duration ByteAt(int baud)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(10.0 / baud));
}

struct Seen {
    Kind end = Kind::Wait;           // Wait: every byte was read
    std::size_t reads = 0;           // reads that brought bytes
    std::size_t after_pause = 0;     // of them, reads after a pause in the answer
    Clock::duration ended{};         // since the command
    Clock::duration last_byte_read;  // from the last byte's arrival to its read
};

// Reads `line`'s answer to `command` the way the bench host does.
Seen ReadAnswer(AnswerPace& pace, const Line& line, const std::string& command = "RD\r")
{
    const Clock::time_point start{};
    pace.Start(command, start);
    Seen seen;
    std::size_t read = 0;
    Clock::time_point now = start;
    while (read < line.bytes) {
        const AnswerPace::Step step = pace.Next(now);
        if (step.kind == Kind::Quiet || step.kind == Kind::Busy) {
            seen.end = step.kind;
            seen.ended = now - start;
            return seen;
        }
        if (step.kind == Kind::Pause) {
            now += step.time;
        } else {
            const Clock::time_point next_byte = start + line.ArrivalOf(read);
            now = read < line.bytes && next_byte <= now + step.time ? std::max(now, next_byte)
                                                                    : now + step.time;
        }
        const std::size_t count = std::min(line.ArrivedBy(now - start) - read, kReadSize);
        pace.Read(now, count, count == kReadSize);
        read += count;
        seen.reads += count > 0 ? 1 : 0;
        seen.after_pause += pace.AfterPause() ? 1 : 0;
    }
    seen.ended = now - start;
    seen.last_byte_read = now - (start + line.ArrivalOf(line.bytes - 1));
    if (read == line.bytes) {
        pace.Taken(command, line.bytes);
    }
    return seen;
}

// An answer pace for a line set to 2400 bit/s, with `timeout`.
AnswerPace PaceAt2400(milliseconds timeout)
{
    AnswerPace pace(timeout);
    pace.SetSpeed(2400);
    return pace;
}

struct PaceCase {
    const char* name;
    int ups_baud;  // the pace the UPS sends at; 0: all at once
    std::size_t bytes;
    bool size_known;  // an answer to the command was taken before
    std::size_t most_reads;
    // The last byte read within this many byte times at the UPS's pace (0:
    // not checked); a pseudo-terminal faster than the line is read within
    // kBatchBytes of the line's.
    int read_within;
};

class Reads : public ::testing::TestWithParam<PaceCase> {};

TEST_P(Reads, TakeAHandfulPerAnswerAndEndSoonAfterItsLastByte)
{
    const PaceCase& c = GetParam();
    AnswerPace pace = PaceAt2400(milliseconds(3000));
    const Line line{c.bytes, c.ups_baud == 0 ? Clock::duration{} : ByteAt(c.ups_baud)};
    if (c.size_known) {
        ReadAnswer(pace, line);
    }
    const Seen seen = ReadAnswer(pace, line);
    EXPECT_EQ(seen.end, Kind::Wait) << "every byte read, no timeout";
    EXPECT_LE(seen.reads, c.most_reads);
    EXPECT_EQ(seen.after_pause, 0u) << "an answer that flows is one line of the trace";
    if (c.read_within > 0) {
        EXPECT_LE(seen.last_byte_read, ByteAt(c.ups_baud) * c.read_within)
            << "read soon after its end";
    }
}

const PaceCase kPaceCases[] = {
    {"data_answer_at_2400_bit_s", 2400, 156, true, 2, 4},
    {"status_answer_at_2400_bit_s", 2400, 47, true, 2, 4},
    {"data_answer_of_unknown_size_in_reads_of_about_16_bytes", 2400, 156, false, 12, 17},
    {"data_answer_at_600_bit_s_on_a_line_set_to_2400", 600, 156, true, 2, 4},
    {"data_answer_of_unknown_size_at_600_bit_s", 600, 156, false, 12, 17},
    {"data_answer_at_38400_bit_s_on_a_pseudo_terminal", 38400, 156, true, 2, 16 * 16},
    {"answer_written_at_once", 0, 156, true, 1, 0},
    {"noise_of_4_KiB_at_once_read_in_buffers_one_after_another", 0, 4200, false, 9, 0},
};

INSTANTIATE_TEST_SUITE_P(Table, Reads, ::testing::ValuesIn(kPaceCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AnswerTimeout, IsTheLinesQuietSoASlowAnswerLongerThanItCompletes)
{
    AnswerPace pace = PaceAt2400(milliseconds(1000));
    const Seen seen = ReadAnswer(pace, Line{156, ByteAt(600)});  // 2.6 s
    EXPECT_EQ(seen.end, Kind::Wait);
    EXPECT_GT(seen.ended, milliseconds(2600));
}

TEST(AnswerTimeout, EndsAnAnswerThatNeverStartsAfterTheTimeout)
{
    AnswerPace pace = PaceAt2400(milliseconds(1000));
    const Seen seen = ReadAnswer(pace, Line{156, ByteAt(2400), milliseconds(5000)});
    EXPECT_EQ(seen.end, Kind::Quiet);
    EXPECT_EQ(seen.ended, milliseconds(1000));
    EXPECT_EQ(seen.reads, 0u);
}

TEST(AnswerTimeout, EndsAnAnswerWhoseLineFallsQuietForTheTimeoutAfterItsLastByte)
{
    AnswerPace pace = PaceAt2400(milliseconds(1000));
    const Line line{156, ByteAt(2400), milliseconds(2), 40, milliseconds(1500)};
    const Seen seen = ReadAnswer(pace, line);
    EXPECT_EQ(seen.end, Kind::Quiet);
    EXPECT_GE(seen.ended, line.ArrivalOf(39) + milliseconds(1000));
    EXPECT_LT(seen.ended, line.ArrivalOf(40)) << "given up before the line spoke again";
}

TEST(AnswerTimeout, LetsAnAnswerPauseForLessAndStartsTheTracesNextLineAfterThePause)
{
    AnswerPace pace = PaceAt2400(milliseconds(1000));
    const Line line{156, ByteAt(2400), milliseconds(2), 40, milliseconds(800)};
    const Seen seen = ReadAnswer(pace, line);
    EXPECT_EQ(seen.end, Kind::Wait);
    EXPECT_EQ(seen.after_pause, 1u);
}

TEST(AnswerTimeout, EndsAnAnswerStillComingAfterThreeTimesTheTimeoutAsBusy)
{
    AnswerPace pace = PaceAt2400(milliseconds(500));
    ASSERT_EQ(pace.Longest(), milliseconds(1500));
    const Seen seen = ReadAnswer(pace, Line{156, ByteAt(600)});  // 2.6 s
    EXPECT_EQ(seen.end, Kind::Busy);
    EXPECT_EQ(seen.ended, milliseconds(1500));
    EXPECT_GT(seen.reads, 0u);
}

TEST(AnswerTimeout, StartsAgainWithEachCommand)
{
    AnswerPace pace = PaceAt2400(milliseconds(1000));
    ReadAnswer(pace, Line{47, ByteAt(2400)}, "RS\r");
    const Seen seen = ReadAnswer(pace, Line{156, ByteAt(1200)}, "RD\r");  // 1.3 s
    EXPECT_EQ(seen.end, Kind::Wait);
}

}  // namespace
