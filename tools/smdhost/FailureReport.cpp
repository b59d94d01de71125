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
    last_ = "cycle " + std::to_string(cycle) + " (" + reason + "): " + detail;
    log_.CycleFailed(device_, cycle, reason, detail, in_a_row_ <= kStaleAfter);
    if (in_a_row_ == kStaleAfter) {
        stale_ = true;
        log_.Stale(device_, in_a_row_);
        reminder_.Restart(now);
    } else if (in_a_row_ > kStaleAfter && reminder_.Due(now)) {
        log_.StillFailing(device_, in_a_row_, Lasting(now - first_), last_);
    }
}

void FailureReport::Completed()
{
    if (in_a_row_ > kStaleAfter || stale_) {
        log_.Reestablished(device_, in_a_row_, Lasting(Reminder::Clock::now() - first_), last_);
    }
    stale_ = false;
    in_a_row_ = 0;
}

void StorageReport::Failed(const std::string& detail)
{
    const auto now = Reminder::Clock::now();
    ++lost_total_;
    if (++lost_now_ == 1) {
        first_ = now;
        reminder_.Restart(now);
        log_.StorageFailed(device_, file_, detail);
        return;
    }
    if (reminder_.Due(now)) {
        log_.StorageStillFailing(device_, file_, lost_now_, Lasting(now - first_), detail);
    }
}

void StorageReport::Stored()
{
    if (lost_now_ > 0) {
        log_.StorageRecovered(device_, file_, lost_now_);
    }
    lost_now_ = 0;
}
