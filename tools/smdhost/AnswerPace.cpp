#include "tools/smdhost/AnswerPace.h"

#include <algorithm>

namespace {

using Duration = AnswerPace::Clock::duration;

// At least 0, rounded up to the millisecond: a wait never ends before its time.
AnswerPace::milliseconds Whole(Duration time)
{
    return std::max(AnswerPace::milliseconds(0),
                    std::chrono::ceil<AnswerPace::milliseconds>(time));
}

// The pace of `bytes` that came over `time` after a read woken by a byte: they
// took between n and n + 1 byte times, so n + 1/2 is taken.
Duration PaceOver(Duration time, std::size_t bytes)
{
    return time * 2 / static_cast<long>(2 * bytes + 1);
}

}  // namespace

void AnswerPace::SetSpeed(int baud)
{
    line_pace_ = std::chrono::duration_cast<Duration>(
        std::chrono::duration<double>(10.0 / std::max(baud, 1)));
}

void AnswerPace::Start(const std::string& command, Clock::time_point now)
{
    const auto size = sizes_.find(command);
    expected_ = size == sizes_.end() ? 0 : size->second;
    start_ = last_bytes_ = wait_from_ = now;
    got_ = 0;
    flowing_ = full_ = after_pause_ = false;
}

// The pace of a taken answer is kept for the next ones: as measured up to the
// read before the last (the line still flowed then; the last read may have
// come after the answer's end), or, when the last read brought more than the
// time since the read or wait before it allowed at the pace assumed (a
// pseudo-terminal, an adapter that hands over what it gathered), as that read
// shows it.
void AnswerPace::Taken(const std::string& command, std::size_t size)
{
    sizes_[command] = size;
    if (!flowing_) {
        return;
    }
    if (before_last_got_ >= burst_got_ + kBatchBytes) {
        seen_pace_ = PaceOver(before_last_at_ - burst_at_, before_last_got_ - burst_got_);
    } else if (last_count_ > 1 && last_span_ < Assumed() * static_cast<long>(last_count_ - 1)) {
        seen_pace_ = last_span_ / static_cast<long>(last_count_ - 1);
    }
}

AnswerPace::Step AnswerPace::Next(Clock::time_point now) const
{
    const Clock::time_point quiet_end = last_bytes_ + timeout_;
    const Clock::time_point busy_end = start_ + Longest();
    if (!flowing_ && now >= quiet_end) {
        return {Step::Kind::Quiet, milliseconds(0)};
    }
    if (now >= busy_end) {
        return {Step::Kind::Busy, milliseconds(0)};
    }
    const Clock::time_point end = std::min(quiet_end, busy_end);
    if (flowing_) {
        return {Step::Kind::Pause, Whole(std::min(PauseLength(), end - now))};
    }
    return {Step::Kind::Wait, Whole(end - now)};
}

void AnswerPace::Read(Clock::time_point now, std::size_t count, bool full)
{
    full_ = full;
    after_pause_ = false;
    if (count == 0) {
        if (flowing_) {
            flowing_ = false;
            wait_from_ = now;
        }
        return;
    }
    if (flowing_) {
        before_last_at_ = last_bytes_;
        before_last_got_ = got_;
        last_span_ = now - last_bytes_;
    } else {
        BurstBegins(now, count);
    }
    last_count_ = count;
    got_ += count;
    last_bytes_ = now;
    flowing_ = true;
}

// Bytes came after a quiet spell: a pause in the answer when it was long, and
// a new measure of the pace from this read on.
void AnswerPace::BurstBegins(Clock::time_point now, std::size_t count)
{
    after_pause_ = got_ > 0 && now - last_bytes_ > PauseGap();
    // Bytes that came together since the wait began came at least that fast;
    // one byte tells nothing of the pace.
    first_pace_ = Assumed();
    if (count > 1) {
        first_pace_ = std::min(first_pace_, (now - wait_from_) / static_cast<long>(count));
    }
    burst_at_ = before_last_at_ = now;
    burst_got_ = before_last_got_ = got_ + count;
    last_span_ = now - wait_from_;
}

// The time a byte takes: as the reads since bytes began to flow show it, or,
// before there are two, the pace assumed (or less, when the first read
// brought more than that pace allows).
AnswerPace::Clock::duration AnswerPace::BytePace() const
{
    if (got_ > burst_got_) {
        return PaceOver(last_bytes_ - burst_at_, got_ - burst_got_);
    }
    return got_ > 0 ? first_pace_ : Assumed();
}

AnswerPace::Clock::duration AnswerPace::PauseGap() const
{
    return std::max<Duration>(kShortestPause, BytePace() * static_cast<long>(kPauseBytes));
}

AnswerPace::Clock::duration AnswerPace::Assumed() const
{
    return seen_pace_ > Duration(0) ? seen_pace_ : line_pace_;
}

AnswerPace::Clock::duration AnswerPace::PauseLength() const
{
    if (full_) {
        return Duration(0);
    }
    const std::size_t bytes = expected_ > got_ ? expected_ - got_ + kSlackBytes : kBatchBytes;
    return BytePace() * static_cast<long>(bytes);
}
