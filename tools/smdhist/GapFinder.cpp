#include "tools/smdhist/GapFinder.h"

#include <algorithm>

namespace {

// Enough steps to see past a few missed cycles at the start.
constexpr std::size_t kStepsToLearn = 100;
// A step is regular when one in this many steps learnt is of its length, so
// that a few blocks close together (a host restarted) set no step; with fewer
// than twice this many steps, the smallest is taken.
constexpr std::size_t kRegularShare = 20;

// The smallest step (of 0 s or more) that recurs often enough to be regular;
// `steps` sorted.
std::int64_t SmallestRegular(const std::vector<std::int64_t>& steps)
{
    const auto start = std::lower_bound(steps.begin(), steps.end(), 0);
    const auto need =
        static_cast<std::ptrdiff_t>(std::max<std::size_t>(1, steps.size() / kRegularShare));
    for (auto at = start; at != steps.end();) {
        const auto end = std::upper_bound(at, steps.end(), *at);
        if (end - at >= need) {
            return *at;
        }
        at = end;
    }
    return start != steps.end() ? *start : 0;
}

}  // namespace

GapFinder::GapFinder(std::optional<std::int64_t> threshold) : threshold_(threshold) {}

void GapFinder::Step(const Moment& from, const Moment& to)
{
    const Gap step{from, to};
    if (step.Seconds() < 0) {
        ++backwards_;
    }
    if (learnt_) {
        Check(step);
        return;
    }
    learning_.push_back(step);
    if (learning_.size() == kStepsToLearn) {
        Learn();
    }
}

void GapFinder::Finish()
{
    if (!learnt_) {
        Learn();
    }
}

void GapFinder::Learn()
{
    std::vector<std::int64_t> steps;
    for (const Gap& step : learning_) {
        steps.push_back(step.Seconds());
    }
    if (!steps.empty()) {
        std::sort(steps.begin(), steps.end());
        median_ = steps[steps.size() / 2];
        usual_ = std::max<std::int64_t>(1, SmallestRegular(steps));
    }
    if (!threshold_) {
        threshold_ = 2 * usual_;
    }
    learnt_ = true;
    for (const Gap& step : learning_) {
        Check(step);
    }
    learning_.clear();
}

void GapFinder::Check(const Gap& step)
{
    if (step.Seconds() <= *threshold_) {
        return;
    }
    if (++count_ <= kKept) {
        gaps_.push_back(step);
    }
}
