#pragma once

#include <string>

#include "tools/smdhost/EventOutput.h"

// Each event as a line of text for a person: the time, the device by name
// and data identifier, then what happened; a block takes three more lines.
// A line of the module's own (events::ModuleLine) is written as it came.
class TextOutput : public EventOutput {
public:
    // Writes to `fd`, which the output does not own.
    explicit TextOutput(int fd) : fd_(fd) {}
    void Take(const events::Event& event) override;

    // What the line says after the time and the device; "" for an event
    // a person's view does not show.
    static std::string Text(const events::Event& event);

    // The whole line: the event's time, "[name data_id] " when it has a
    // device, the text and a newline.
    static std::string Line(const events::Event& event, const std::string& text);

private:
    int fd_;
};
