#include "tools/smdhost/EventLog.h"

#include <chrono>
#include <ctime>

EventLog::~EventLog() { Finish(); }

void EventLog::AddOutput(std::shared_ptr<EventOutput> output, Stream stream)
{
    traced_ = traced_ || stream == Stream::Trace;
    outputs_.emplace_back(std::move(output), stream);
    if (!queue_) {
        // glibc reads the zone on its first use and keeps its name; a first
        // use by the main thread while the output thread shows a time would
        // free and copy that name on both at once. Read here, it is read
        // before the output thread starts.
        tzset();
        queue_ = std::make_unique<EventQueue>([this](const events::Event& event) { Deliver(event); });
    }
}

void EventLog::AddDirectOutput(std::shared_ptr<EventOutput> output)
{
    direct_.push_back(std::move(output));
}

void EventLog::Tell(const Device& device, events::Fact fact)
{
    Dispatch({std::chrono::system_clock::now(), device, std::move(fact)});
}

void EventLog::Tell(events::Fact fact)
{
    Dispatch({std::chrono::system_clock::now(), std::nullopt, std::move(fact)});
}

void EventLog::Dispatch(events::Event event)
{
    if (!events::IsTrace(event.fact)) {
        for (const auto& output : direct_) {
            output->Take(event);
        }
    }
    if (queue_) {
        queue_->Push(std::move(event));
    }
}

void EventLog::Deliver(const events::Event& event) const
{
    const Stream stream = events::IsTrace(event.fact) ? Stream::Trace : Stream::Events;
    for (const auto& [output, taken] : outputs_) {
        if (taken == stream) {
            output->Take(event);
        }
    }
}

void EventLog::Finish()
{
    if (queue_) {
        queue_->Close();
    }
}
