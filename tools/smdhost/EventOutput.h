#pragma once

#include <json/value.h>

// What the bench host tells, as one fact: the event's JSON object as --json
// writes it ("event", "time", "device", "data_id" and what the kind adds).
struct Event {
    Json::Value json;
    // False for what a person's view leaves out: a failure in a long run of
    // failures is counted, not shown, there.
    bool for_people = true;
};

// Somewhere events go: the text or JSON on the console, a trace file, a
// compact view, a server. The log hands each event to every output it was
// given, one event at a time; an output that cannot write stays quiet.
class EventOutput {
public:
    virtual ~EventOutput() = default;
    virtual void Take(const Event& event) = 0;
};
