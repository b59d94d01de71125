#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/smdhost/EventOutput.h"
#include "tools/smdhost/EventQueue.h"
#include "tools/smdhost/Events.h"

// Where the bench host tells what happens: each fact (Events.h) is stamped
// with the moment it is told and its device, and goes to every output that
// takes its stream. The outputs that write (text, compact view, JSON, the
// trace) take it from one output thread behind an EventQueue, in the order
// told, so that none of them holds a device thread; a direct output (the NUT
// server's, whose own work never waits) takes it at once on the teller's
// thread. Outputs are added before the devices start; telling is safe from
// the device threads at once.
class EventLog {
public:
    using Device = events::Device;

    // The events, or the bytes on the lines (the trace).
    enum class Stream { Events, Trace };

    EventLog() = default;
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;
    // Finishes.
    ~EventLog();

    // An output of one stream, written from the output thread.
    void AddOutput(std::shared_ptr<EventOutput> output, Stream stream);
    // An output of the events whose Take is cheap and never blocks: it runs
    // on the thread that tells, at once, and must be safe from several.
    void AddDirectOutput(std::shared_ptr<EventOutput> output);

    // The module's version, as its file carries it, for the start events;
    // given before the devices start.
    void SetModuleVersion(const std::string& version) { module_version_ = version; }
    const std::string& ModuleVersion() const { return module_version_; }

    // True when an output takes the trace.
    bool Traced() const { return traced_; }

    // Tells a fact of `device`, or one of the host's own.
    void Tell(const Device& device, events::Fact fact);
    void Tell(events::Fact fact);

    // Writes everything told so far and ends the output thread; what is
    // told after it goes to the direct outputs only.
    void Finish();

private:
    void Dispatch(events::Event event);
    void Deliver(const events::Event& event) const;

    std::vector<std::pair<std::shared_ptr<EventOutput>, Stream>> outputs_;
    std::vector<std::shared_ptr<EventOutput>> direct_;
    std::unique_ptr<EventQueue> queue_;
    bool traced_ = false;
    std::string module_version_;
};
