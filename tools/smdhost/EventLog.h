#pragma once

#include <mutex>
#include <string>

#include <json/value.h>

#include "framework/SMDController.h"

// What the bench host tells its user: one event per line, as readable text or
// (for scripts) as one JSON object. Every event names the device by its name
// and data identifier. Safe to use from the device threads at once.
class EventLog {
public:
    enum class Format { Text, Json };

    struct Device {
        std::string name;
        unsigned int data_id;
    };

    // Writes to the file descriptor `fd`, which the log does not own.
    EventLog(int fd, Format format);

    void Started(const Device& device, const std::string& type, const std::string& port,
                 int baud, double poll_seconds, double timeout_seconds);
    void PortOpened(const Device& device, const std::string& port, int baud);
    // A data block handed to the host: from a poll cycle (its number) or, with
    // cycle 0, from the cache.
    void Block(const Device& device, unsigned int cycle, int data_type, const unsigned char* data,
               unsigned int len);
    void AlarmChanged(const Device& device, const BoolAlarmCheck& check);
    void CycleFailed(const Device& device, unsigned int cycle, const std::string& reason,
                     const std::string& detail);
    void Stale(const Device& device, unsigned int failed_in_a_row);
    void Reestablished(const Device& device, unsigned int failed_in_a_row);
    void Error(const Device& device, const std::string& detail);
    void Summary(const Device& device, unsigned int completed, unsigned int failed, bool stale);

    // The block as the event shows it: data identifier, time stamp, the five
    // flags and fifteen values by tag; a block of another size as hex bytes.
    static Json::Value DecodeBlock(const unsigned char* data, unsigned int len);

private:
    Json::Value Event(const char* kind, const Device& device) const;
    void Emit(const Json::Value& event, const std::string& text);

    int fd_;
    Format format_;
    std::mutex mutex_;
};
