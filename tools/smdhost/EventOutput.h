#pragma once

#include "tools/smdhost/Events.h"

// Somewhere events go: the text or JSON on the console, a trace file, a
// compact view, a server. The log hands each event to every output it was
// given, one event at a time; an output that cannot write stays quiet.
class EventOutput {
public:
    virtual ~EventOutput() = default;
    virtual void Take(const events::Event& event) = 0;
};
