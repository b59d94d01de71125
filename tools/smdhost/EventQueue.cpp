#include "tools/smdhost/EventQueue.h"

#include <utility>

EventQueue::EventQueue(Deliver deliver, std::size_t capacity)
    : deliver_(std::move(deliver)), capacity_(capacity), thread_([this] { Drain(); })
{
}

EventQueue::~EventQueue() { Close(); }

bool EventQueue::Waits(const events::Fact& fact)
{
    return std::holds_alternative<events::Summary>(fact) ||
           std::holds_alternative<events::Stopping>(fact) ||
           std::holds_alternative<events::Run>(fact);
}

// Room for the event and, when events were dropped, for their notice first.
bool EventQueue::HasRoom() const { return queue_.size() + (dropped_ > 0 ? 2 : 1) <= capacity_; }

void EventQueue::Push(events::Event event)
{
    const bool waits = Waits(event.fact);
    std::unique_lock<std::mutex> lock(mutex_);
    if (waits) {
        room_.wait(lock, [this] { return closing_ || HasRoom(); });
    }
    if (closing_) {
        return;
    }
    if (!HasRoom()) {
        ++dropped_;
        return;
    }
    if (dropped_ > 0) {
        queue_.push_back({event.time, std::nullopt, events::Dropped{dropped_}});
        dropped_ = 0;
    }
    queue_.push_back(std::move(event));
    ready_.notify_one();
}

void EventQueue::Close()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_) {
            return;
        }
        if (dropped_ > 0) {
            queue_.push_back({std::chrono::system_clock::now(), std::nullopt,
                              events::Dropped{dropped_}});
            dropped_ = 0;
        }
        closing_ = true;
    }
    ready_.notify_one();
    room_.notify_all();
    thread_.join();
}

void EventQueue::Drain()
{
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }
        const events::Event event = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        room_.notify_all();
        deliver_(event);
    }
}
