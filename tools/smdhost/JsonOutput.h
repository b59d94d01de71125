#pragma once

#include <json/value.h>

#include "tools/smdhost/EventOutput.h"

// Each event as one line of JSON, for scripts: the only place the events
// become JSON (docs/smdhost.md lists the members of each kind).
class JsonOutput : public EventOutput {
public:
    // Writes to `fd`, which the output does not own.
    explicit JsonOutput(int fd) : fd_(fd) {}
    void Take(const events::Event& event) override;

    // The event's object: "event", "time", "device" and "data_id" when it has
    // a device, and what its kind adds; null for a line of the module's
    // and for the text's count of repeated failures.
    static Json::Value ToJson(const events::Event& event);

private:
    int fd_;
};
