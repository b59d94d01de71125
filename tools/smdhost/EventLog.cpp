#include "tools/smdhost/EventLog.h"

#include <cstdio>

#include "tools/common/AlarmTexts.h"
#include "tools/common/CommandLine.h"
#include "tools/common/DataBlock.h"
#include "tools/common/Escape.h"
#include "tools/common/IsoNow.h"

void EventLog::AddOutput(std::shared_ptr<EventOutput> output, Stream stream)
{
    traced_ = traced_ || stream == Stream::Trace;
    outputs_.emplace_back(std::move(output), stream);
}

Json::Value EventLog::Fact(const char* kind, const Device* device, bool millis) const
{
    Json::Value event(Json::objectValue);
    event["event"] = kind;
    event["time"] = IsoNow(millis);
    if (device != nullptr) {
        event["device"] = device->name;
        event["data_id"] = device->data_id;
    }
    return event;
}

void EventLog::Emit(const Json::Value& fact, bool for_people, Stream stream)
{
    const Event event{fact, for_people};
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [output, taken] : outputs_) {
        if (taken == stream) {
            output->Take(event);
        }
    }
}

void EventLog::Started(const Device& device, const std::string& type, const std::string& port,
                       int baud, double poll_seconds, double timeout_seconds)
{
    Json::Value event = Fact("start", &device);
    event["device_type"] = type;
    event["port"] = port;
    event["baud"] = baud;
    event["poll_interval"] = poll_seconds;
    event["answer_timeout"] = timeout_seconds;
    event["version"] = command_line::Version();
    event["module_version"] = module_version_;
    Emit(event);
}

void EventLog::PortOpened(const Device& device, const std::string& port, int baud)
{
    Json::Value event = Fact("port", &device);
    event["state"] = "opened";
    event["port"] = port;
    event["baud"] = baud;
    Emit(event);
}

void EventLog::Block(const Device& device, unsigned int cycle, int data_type,
                     const unsigned char* data, unsigned int len, const std::string& stored_at)
{
    Json::Value event = Fact("block", &device);
    event["source"] = cycle == 0 ? "cache" : "poll";
    if (cycle != 0) {
        event["cycle"] = cycle;
    } else {
        event["stored_at"] = stored_at;
    }
    event["data_type"] = data_type;
    event["block"] = DecodeBlock(data, len);
    Emit(event);
}

void EventLog::AlarmChanged(const Device& device, const BoolAlarmCheck& check,
                            unsigned int cycle)
{
    Json::Value event = Fact("alarm", &device);
    event["change"] = !check.state ? "cleared" : cycle == 0 ? "restored" : "raised";
    event["key"] = check.signal_key;
    event["alarm_id"] = check.alarm_id;
    event["text"] = check.first_text;
    event["second_text"] = check.second_text;
    if (const alarm_texts::English* english = alarm_texts::Find(check.signal_key.c_str())) {
        event["text_en"] = english->first_text;
        event["second_text_en"] = english->second_text;
    }
    event["index"] = check.index;
    event["source"] = cycle == 0 ? "cache" : "poll";
    if (cycle != 0) {
        event["cycle"] = cycle;
    }
    Emit(event);
}

void EventLog::CycleFailed(const Device& device, unsigned int cycle, const std::string& reason,
                           const std::string& detail, bool in_text)
{
    Json::Value event = Fact("cycle_failed", &device);
    event["cycle"] = cycle;
    event["reason"] = reason;
    event["detail"] = detail;
    Emit(event, in_text);
}

void EventLog::Stale(const Device& device, unsigned int failed_in_a_row)
{
    Json::Value event = Fact("stale", &device);
    event["failed_cycles"] = failed_in_a_row;
    Emit(event);
}

void EventLog::StillFailing(const Device& device, unsigned int failed_in_a_row,
                            const std::string& over, const std::string& last)
{
    Json::Value event = Fact("still_failing", &device);
    event["failed_cycles"] = failed_in_a_row;
    event["over"] = over;
    event["last"] = last;
    Emit(event);
}

void EventLog::Reestablished(const Device& device, unsigned int failed_in_a_row,
                             const std::string& over, const std::string& last)
{
    Json::Value event = Fact("reestablished", &device);
    event["failed_cycles"] = failed_in_a_row;
    event["over"] = over;
    event["last"] = last;
    Emit(event);
}

void EventLog::StorageFailed(const Device& device, const std::string& file,
                             const std::string& detail)
{
    Json::Value event = Fact("storage", &device);
    event["state"] = "failed";
    event["file"] = file;
    event["detail"] = detail;
    event["lost"] = 1;
    Emit(event);
}

void EventLog::StorageStillFailing(const Device& device, const std::string& file,
                                   unsigned int lost, const std::string& over,
                                   const std::string& detail)
{
    Json::Value event = Fact("storage", &device);
    event["state"] = "failing";
    event["file"] = file;
    event["detail"] = detail;
    event["lost"] = lost;
    event["over"] = over;
    Emit(event);
}

void EventLog::StorageRecovered(const Device& device, const std::string& file, unsigned int lost)
{
    Json::Value event = Fact("storage", &device);
    event["state"] = "stored";
    event["file"] = file;
    event["lost"] = lost;
    Emit(event);
}

void EventLog::HistoryRotated(const Device& device, const std::string& file,
                              const std::string& kept_as, std::uint64_t limit)
{
    Json::Value event = Fact("rotated", &device);
    event["file"] = file;
    event["kept_as"] = kept_as;
    event["limit"] = static_cast<Json::UInt64>(limit);
    Emit(event);
}

void EventLog::Warning(const Device& device, const std::string& detail)
{
    Json::Value event = Fact("warning", &device);
    event["detail"] = detail;
    Emit(event);
}

void EventLog::Error(const Device& device, const std::string& detail)
{
    Json::Value event = Fact("error", &device);
    event["detail"] = detail;
    Emit(event);
}

void EventLog::Stopping(const std::string& signal)
{
    Json::Value event = Fact("stopping", nullptr);
    event["signal"] = signal;
    Emit(event);
}

void EventLog::Bytes(const Device& device, unsigned int cycle, const char* direction,
                     const std::string& bytes, std::size_t chunks,
                     std::chrono::system_clock::time_point first,
                     std::chrono::system_clock::time_point last)
{
    Json::Value event = Fact("trace", &device, true);
    event["cycle"] = cycle;
    event["direction"] = direction;
    event["bytes"] = EscapeBytes(bytes);
    event["length"] = static_cast<Json::UInt64>(bytes.size());
    event["chunks"] = static_cast<Json::UInt64>(chunks);
    event["first"] = IsoAt(first, true);
    event["last"] = IsoAt(last, true);
    Emit(event, true, Stream::Trace);
}

void EventLog::TraceHeader(const std::vector<std::string>& command_line)
{
    Json::Value event = Fact("run", nullptr, true);
    event["version"] = command_line::Version();
    for (const std::string& word : command_line) {
        event["command_line"].append(word);
    }
    Emit(event, true, Stream::Trace);
}

void EventLog::Summary(const Device& device, const Totals& totals)
{
    Json::Value event = Fact("summary", &device);
    event["completed"] = totals.completed;
    event["failed"] = totals.failed;
    event["stale"] = totals.stale;
    event["interrupted"] = totals.interrupted;
    event["not_stored"] = totals.lost;
    Emit(event);
}

Json::Value EventLog::DecodeBlock(const unsigned char* data, unsigned int len)
{
    data_block::Decoded decoded;
    if (data_block::Decode(data, len, decoded)) {
        return data_block::ToJson(decoded);
    }
    Json::Value block(Json::objectValue);
    std::string hex;
    char byte[4];
    for (unsigned int i = 0; i < len; ++i) {
        std::snprintf(byte, sizeof(byte), i == 0 ? "%02x" : " %02x", data[i]);
        hex += byte;
    }
    block["bytes"] = hex;
    return block;
}
