// The bench host's hand-off of events to its outputs: an output that stalls
// never holds the thread that tells, what is queued comes out whole and in
// order, a full queue drops a device's events with a count but never the
// summary (the count on a line of its own), and the module's own lines keep
// their place among the events.
#include <future>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tools/smdhost/EventLog.h"
#include "tools/smdhost/EventQueue.h"
#include "tools/smdhost/JsonOutput.h"
#include "tools/smdhost/ModuleLines.h"
#include "tools/smdhost/TextOutput.h"

namespace {

using events::Event;

events::CycleFailed Failure(unsigned int cycle) { return {cycle, "timeout", "", true}; }
Event Failed(unsigned int cycle) { return {{}, events::Device{"ups", 1}, Failure(cycle)}; }
Event Summary() { return {{}, events::Device{"ups", 1}, events::Summary{}}; }

// Each event as "failed N", "dropped N", "summary" or "line TEXT".
std::string Seen(const Event& event)
{
    return std::visit(events::Overloaded{
                          [](const events::CycleFailed& e) { return "failed " + std::to_string(e.cycle); },
                          [](const events::Dropped& e) { return "dropped " + std::to_string(e.count); },
                          [](const events::Summary&) { return std::string("summary"); },
                          [](const events::ModuleLine& e) { return "line " + e.text; },
                          [](const auto&) { return std::string("other"); },
                      },
                      event.fact);
}

// An output that holds its thread on the first event until released.
class StalledOutput {
public:
    EventQueue::Deliver Deliver()
    {
        return [this](const Event& event) {
            if (seen_.empty()) {
                started_.set_value();
                release_.get_future().wait();
            }
            seen_.push_back(Seen(event));
        };
    }
    void WaitUntilStalled() { started_.get_future().wait(); }
    void Release() { release_.set_value(); }
    // Read after the queue is closed.
    const std::vector<std::string>& Taken() const { return seen_; }

private:
    std::promise<void> started_;
    std::promise<void> release_;
    std::vector<std::string> seen_;
};

// Failed cycles 1 to `last` told while the output holds its thread on the first.
void TellWhileStalled(EventQueue& queue, StalledOutput& output, unsigned int last)
{
    queue.Push(Failed(1));
    output.WaitUntilStalled();
    for (unsigned int cycle = 2; cycle <= last; ++cycle) {
        queue.Push(Failed(cycle));
    }
}

TEST(EventHandOff, StalledOutputHoldsNoTellerAndGetsEverythingQueuedInOrder)
{
    StalledOutput output;
    EventQueue queue(output.Deliver(), 4);
    TellWhileStalled(queue, output, 8);  // returns at once: 2 to 5 queued, 6 to 8 dropped
    output.Release();
    queue.Close();
    EXPECT_EQ(output.Taken(), (std::vector<std::string>{"failed 1", "failed 2", "failed 3",
                                                       "failed 4", "failed 5", "dropped 3"}));
}

TEST(EventHandOff, SummaryWaitsForRoomInAFullQueueAndComesAfterTheDroppedCount)
{
    StalledOutput output;
    EventQueue queue(output.Deliver(), 4);
    TellWhileStalled(queue, output, 6);
    std::thread teller([&queue] { queue.Push(Summary()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // lets it find the queue full
    output.Release();
    teller.join();
    queue.Close();
    EXPECT_EQ(output.Taken(), (std::vector<std::string>{"failed 1", "failed 2", "failed 3",
                                                       "failed 4", "failed 5", "dropped 1",
                                                       "summary"}));
}

// Keeps what the log's output thread hands it.
class Recorder : public EventOutput {
public:
    void Take(const Event& event) override { seen.push_back(Seen(event)); }
    std::vector<std::string> seen;
};

TEST(EventHandOff, ModuleLinesKeepTheirPlaceAmongTheEventsAndEachThreadsLinesApart)
{
    EventLog log;
    auto recorder = std::make_shared<Recorder>();
    log.AddOutput(recorder, EventLog::Stream::Events);
    {
        ModuleLines lines(log);
        std::cout << "here " << 1 << std::endl;
        std::cout << "InitSetting ";
        std::thread([] { std::cout << "rvSize is 0" << std::endl; }).join();
        log.Tell({"ups", 1}, Failure(2));
        std::cout << "b_mode_:3\nlast";
    }
    log.Finish();
    EXPECT_EQ(recorder->seen,
              (std::vector<std::string>{"line here 1\n", "line rvSize is 0\n", "failed 2",
                                        "line InitSetting b_mode_:3\n", "line last"}));
}

TEST(EventHandOff, DroppedCountIsALineOfItsOwnInEveryConsole)
{
    const Event dropped{{}, std::nullopt, events::Dropped{3}};
    const std::string text = TextOutput::Line(dropped, TextOutput::Text(dropped));
    EXPECT_EQ(text.substr(text.find(' ') + 1),
              "3 events left out here: the output did not keep up, and the devices do not wait "
              "for it\n");
    const Json::Value json = JsonOutput::ToJson(dropped);
    EXPECT_EQ(json["event"].asString(), "dropped");
    EXPECT_EQ(json["count"].asUInt(), 3u);
    EXPECT_FALSE(json.isMember("device"));
}

}  // namespace
