#pragma once

#include <string>

#include "tools/common/DataBlock.h"
#include "tools/smdhost/EventOutput.h"

// The compact view (--brief): one line per cycle, with the five flags and the
// fifteen values of its block or the reason it failed; every other event on
// a line of its own, as the text output says it.
class BriefOutput : public EventOutput {
public:
    // Writes to `fd`, which the output does not own.
    explicit BriefOutput(int fd) : fd_(fd) {}
    void Take(const events::Event& event) override;

    // A decoded block's fields on one line, the values in the record's order
    // (as smdhist shows them): "SOK0 SBP0 SUF1 SBL0 SBM1 DVIA=0 ... DVBL=20".
    static std::string Fields(const data_block::Decoded& block);

private:
    int fd_;
};
