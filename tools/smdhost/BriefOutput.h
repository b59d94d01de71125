#pragma once

#include "tools/smdhost/EventOutput.h"

// The compact view (--brief): one line per cycle, with the five flags and the
// fifteen values of its block or the reason it failed; every other event on
// a line of its own, as the text output says it.
class BriefOutput : public EventOutput {
public:
    // Writes to `fd`, which the output does not own.
    explicit BriefOutput(int fd) : fd_(fd) {}
    void Take(const Event& event) override;

private:
    int fd_;
};
