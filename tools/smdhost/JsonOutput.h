#pragma once

#include "tools/smdhost/EventOutput.h"

// Each event as one line of JSON, for scripts.
class JsonOutput : public EventOutput {
public:
    // Writes to `fd`, which the output does not own.
    explicit JsonOutput(int fd) : fd_(fd) {}
    void Take(const Event& event) override;

private:
    int fd_;
};
