#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "tools/smdhist/Moment.h"

// Spells without blocks: the cycles the host missed. A gap is a step between
// consecutive blocks longer than the threshold: the one given, or twice the
// usual step, learnt from the first steps of the history so that a history of
// any length is read once. The usual step is the smallest regular one, the
// poll interval a history shows when its cycles complete: on a line that
// fails most cycles the median step is several polls long and would hide
// every gap.
class GapFinder {
public:
    struct Gap {
        Moment from;  // the last block before it
        Moment to;    // the first block after it

        std::int64_t Seconds() const { return to.epoch - from.epoch; }
    };

    // Gaps listed; beyond them only counted, so that memory stays bounded.
    static constexpr std::size_t kKept = 1000;

    explicit GapFinder(std::optional<std::int64_t> threshold);

    void Step(const Moment& from, const Moment& to);
    void Finish();

    // The first gaps, at most kKept of them; Count() tells how many there were.
    const std::vector<Gap>& Gaps() const { return gaps_; }
    std::uint64_t Count() const { return count_; }
    std::int64_t Threshold() const { return threshold_.value_or(0); }
    // The smallest regular step of the first blocks, at least 1 s.
    std::int64_t Usual() const { return usual_; }
    // The median step of the first blocks: far above the usual step when
    // most cycles stored no block.
    std::int64_t Median() const { return median_; }
    bool MedianFarAbove() const { return median_ >= kFarAbove * usual_; }

    // How many usual steps the median is when it is far above.
    static constexpr std::int64_t kFarAbove = 3;
    // Steps back in time: the clock was set back.
    std::uint64_t Backwards() const { return backwards_; }

private:
    void Learn();
    void Check(const Gap& step);

    bool learnt_ = false;
    std::optional<std::int64_t> threshold_;
    std::int64_t usual_ = 1;
    std::int64_t median_ = 0;
    std::vector<Gap> learning_;
    std::vector<Gap> gaps_;
    std::uint64_t count_ = 0;
    std::uint64_t backwards_ = 0;
};
