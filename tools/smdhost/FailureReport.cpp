#include "tools/smdhost/FailureReport.h"

#include "tools/common/Duration.h"

namespace {

std::string Lasting(std::chrono::steady_clock::duration duration)
{
    return DurationText(std::chrono::duration_cast<std::chrono::seconds>(duration).count());
}

}  // namespace

bool Reminder::Due(Clock::time_point now)
{
    if (now - last_ < kEvery) {
        return false;
    }
    last_ = now;
    return true;
}

void FailureReport::Failed(unsigned int cycle, const std::string& reason,
                           const std::string& detail)
{
    const auto now = Reminder::Clock::now();
    ++total_;
    if (++in_a_row_ == 1) {
        first_ = now;
    }
    const bool repeat =
        in_a_row_ > kStaleAfter && reason == last_reason_ && detail == last_detail_;
    if (!repeat) {
        TellRepeats();
    } else if (repeats_) {
        repeats_->last_cycle = cycle;
    } else {
        repeats_ = events::Repeated{cycle, cycle, reason, detail};
    }
    last_reason_ = reason;
    last_detail_ = detail;
    last_ = "cycle " + std::to_string(cycle) + " (" + reason + "): " + detail;
    log_.Tell(device_, events::CycleFailed{cycle, reason, detail, !repeat});
    if (in_a_row_ == kStaleAfter) {
        stale_ = true;
        log_.Tell(device_, events::Stale{in_a_row_});
        reminder_.Restart(now);
    } else if (in_a_row_ > kStaleAfter && reminder_.Due(now)) {
        TellRepeats();
        log_.Tell(device_, events::Failing{events::Failing::Now::Ongoing, in_a_row_,
                                           Lasting(now - first_), last_});
    }
}

void FailureReport::Completed()
{
    TellRepeats();
    if (in_a_row_ > kStaleAfter || stale_) {
        log_.Tell(device_, events::Failing{events::Failing::Now::Ended, in_a_row_,
                                           Lasting(Reminder::Clock::now() - first_), last_});
    }
    stale_ = false;
    in_a_row_ = 0;
}

void FailureReport::TellRepeats()
{
    if (repeats_) {
        log_.Tell(device_, *repeats_);
        repeats_.reset();
    }
}

void StorageReport::Failed(const std::string& detail)
{
    const auto now = Reminder::Clock::now();
    ++lost_total_;
    if (++lost_now_ == 1) {
        first_ = now;
        reminder_.Restart(now);
        log_.Tell(device_, events::Storage{events::Storage::State::Failed, file_, detail, 1, ""});
        return;
    }
    if (reminder_.Due(now)) {
        log_.Tell(device_, events::Storage{events::Storage::State::Failing, file_, detail,
                                           lost_now_, Lasting(now - first_)});
    }
}

void StorageReport::Stored()
{
    if (lost_now_ > 0) {
        log_.Tell(device_,
                  events::Storage{events::Storage::State::Stored, file_, "", lost_now_, ""});
    }
    lost_now_ = 0;
}
