#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <json/value.h>

#include "framework/SMDController.h"
#include "tools/smdhost/EventOutput.h"

// What the bench host tells: each event is made here once, as a fact with
// the time (ISO 8601 with the UTC offset) and the device's name and data
// identifier, and handed to every output that takes its stream (TextOutput,
// JsonOutput, ...). Safe to use from the device threads at once.
class EventLog {
public:
    struct Device {
        std::string name;
        unsigned int data_id;
    };

    // The events, or the bytes on the lines (the trace).
    enum class Stream { Events, Trace };

    // Adds an output for one stream; made before the devices start.
    void AddOutput(std::shared_ptr<EventOutput> output, Stream stream);
    // The module's version, as its file carries it, for the start events;
    // given before the devices start.
    void SetModuleVersion(const std::string& version) { module_version_ = version; }

    void Started(const Device& device, const std::string& type, const std::string& port,
                 int baud, double poll_seconds, double timeout_seconds);
    void PortOpened(const Device& device, const std::string& port, int baud);
    // A data block handed to the host: from a poll cycle (its number) or, with
    // cycle 0, from the cache, whose block was stored at `stored_at` before
    // the module stamped it again.
    void Block(const Device& device, unsigned int cycle, int data_type, const unsigned char* data,
               unsigned int len, const std::string& stored_at = "");
    // An alarm turned on or off by the block of `cycle` (0: the cached block).
    void AlarmChanged(const Device& device, const BoolAlarmCheck& check, unsigned int cycle);

    // A failed cycle; in text it is shown only when `in_text`, while every one
    // is a JSON event.
    void CycleFailed(const Device& device, unsigned int cycle, const std::string& reason,
                     const std::string& detail, bool in_text);
    void Stale(const Device& device, unsigned int failed_in_a_row);
    // Failures in a row go on: how many, since when, and the last one.
    void StillFailing(const Device& device, unsigned int failed_in_a_row, const std::string& over,
                      const std::string& last);
    void Reestablished(const Device& device, unsigned int failed_in_a_row,
                       const std::string& over, const std::string& last);

    // A history or cache file that cannot be written (`lost` blocks so far),
    // that still cannot be written, or that takes blocks again.
    void StorageFailed(const Device& device, const std::string& file, const std::string& detail);
    void StorageStillFailing(const Device& device, const std::string& file, unsigned int lost,
                             const std::string& over, const std::string& detail);
    void StorageRecovered(const Device& device, const std::string& file, unsigned int lost);

    // The history reached its limit: it was kept as `kept_as` and a new one
    // started.
    void HistoryRotated(const Device& device, const std::string& file, const std::string& kept_as,
                        std::uint64_t limit);

    void Warning(const Device& device, const std::string& detail);
    void Error(const Device& device, const std::string& detail);
    // The host was asked to stop by a signal.
    void Stopping(const std::string& signal);

    // True when an output takes the trace.
    bool Traced() const { return traced_; }
    // Bytes on the line, to the trace: "sent", "received" (in `chunks` from
    // `first` to `last`) or "discarded" (left on the line before a command).
    void Bytes(const Device& device, unsigned int cycle, const char* direction,
               const std::string& bytes, std::size_t chunks,
               std::chrono::system_clock::time_point first,
               std::chrono::system_clock::time_point last);
    // The first line of a run's trace: the version and the command line.
    void TraceHeader(const std::vector<std::string>& command_line);

    struct Totals {
        unsigned int completed = 0;
        unsigned int failed = 0;
        bool stale = false;
        bool interrupted = false;
        unsigned int lost = 0;  // blocks not stored
    };
    void Summary(const Device& device, const Totals& totals);

    // The block as the event shows it: data identifier, time stamp, the five
    // flags and fifteen values by tag; a block of another size as hex bytes.
    static Json::Value DecodeBlock(const unsigned char* data, unsigned int len);

private:
    Json::Value Fact(const char* kind, const Device* device, bool millis = false) const;
    void Emit(const Json::Value& fact, bool for_people = true, Stream stream = Stream::Events);

    std::vector<std::pair<std::shared_ptr<EventOutput>, Stream>> outputs_;
    bool traced_ = false;
    std::string module_version_;
    std::mutex mutex_;
};
