#pragma once

#include <chrono>
#include <optional>

// When a UPS's data stops being the UPS now: no poll cycle has completed for
// longer than a cycle can take. A dead line then reads as stale after a few
// seconds whatever the poll interval, not after three failed cycles.
namespace nut {

class StaleTimer {
public:
    using Clock = std::chrono::steady_clock;

    // Expires `after` the last completed cycle; 0 never.
    explicit StaleTimer(std::chrono::milliseconds after = std::chrono::milliseconds(0))
        : after_(after)
    {
    }

    // A cycle completed at `now`: the timer runs again from there.
    void Completed(Clock::time_point now);

    // True once when the timer has run out at `now`; it then stops until the
    // next completed cycle.
    bool Expired(Clock::time_point now);

    // How long until it runs out, from `now` (zero when it has); nothing when
    // it does not run.
    std::optional<Clock::duration> Left(Clock::time_point now) const;

private:
    std::chrono::milliseconds after_;
    Clock::time_point last_{};
    bool running_ = false;
};

// How long data stays usable without a completed cycle: two poll intervals
// and the answer timeout, the longest a cycle can be late without failing.
std::chrono::milliseconds StaleAfter(std::chrono::milliseconds poll_interval,
                                     std::chrono::milliseconds answer_timeout);

}  // namespace nut
