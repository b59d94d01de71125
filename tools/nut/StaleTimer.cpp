#include "tools/nut/StaleTimer.h"

namespace nut {

void StaleTimer::Completed(Clock::time_point now)
{
    last_ = now;
    running_ = after_.count() > 0;
}

bool StaleTimer::Expired(Clock::time_point now)
{
    if (!running_ || now - last_ < after_) {
        return false;
    }
    running_ = false;
    return true;
}

std::optional<StaleTimer::Clock::duration> StaleTimer::Left(Clock::time_point now) const
{
    if (!running_) {
        return std::nullopt;
    }
    const Clock::duration left = last_ + after_ - now;
    return left > Clock::duration::zero() ? left : Clock::duration::zero();
}

std::chrono::milliseconds StaleAfter(std::chrono::milliseconds poll_interval,
                                     std::chrono::milliseconds answer_timeout)
{
    return 2 * poll_interval + answer_timeout;
}

}  // namespace nut
