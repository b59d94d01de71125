#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "tools/smdhost/Events.h"

// The hand-off between the threads that tell events (the device threads, the
// main thread) and the outputs that write them: a bounded queue, emptied in
// order by one thread of its own that hands each event to `deliver`. An
// output that cannot keep up (a standard output nobody reads, a slow
// terminal) never holds a device thread.
//
// When the queue is full: an event a device thread tells is dropped and
// counted, and once there is room again an events::Dropped of the count
// takes its place before the next event (at the latest before the summaries),
// on a line of its own. The summaries, the stop and a trace's first line
// (Summary, Stopping, Run) are never dropped: their teller waits for room.
// The order of what is queued is kept; Close() delivers all of it.
class EventQueue {
public:
    static constexpr std::size_t kCapacity = 1024;
    using Deliver = std::function<void(const events::Event&)>;

    explicit EventQueue(Deliver deliver, std::size_t capacity = kCapacity);
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;
    // Closes the queue.
    ~EventQueue();

    // Queues `event`, or drops and counts it when the queue is full and the
    // event is not one that waits for room. Nothing is queued after Close().
    void Push(events::Event event);

    // Delivers everything queued, then ends the thread; once.
    void Close();

    // True for the facts whose teller waits for room instead of dropping them.
    static bool Waits(const events::Fact& fact);

private:
    void Drain();
    bool HasRoom() const;

    Deliver deliver_;
    std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable ready_;  // an event queued, or closing
    std::condition_variable room_;   // an event taken
    std::deque<events::Event> queue_;
    unsigned long long dropped_ = 0;  // since the last notice
    bool closing_ = false;
    std::thread thread_;
};
