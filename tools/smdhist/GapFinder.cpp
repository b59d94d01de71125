#include "tools/smdhist/GapFinder.h"

#include <algorithm>

namespace {

// Enough steps to see past a few missed cycles at the start.
constexpr std::size_t kStepsToLearn = 100;

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
        const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
        std::nth_element(steps.begin(), middle, steps.end());
        usual_ = std::max<std::int64_t>(1, *middle);
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
