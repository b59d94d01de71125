#include "tools/smdhost/EventLog.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include <json/writer.h>

#include "tools/common/DataBlock.h"
#include "ups/UpsProtocol.h"

namespace {

// Room before the fields of a block, under the time and device of its line.
constexpr const char* kIndent = "        ";
constexpr std::size_t kValuesPerRow = 5;

std::string LocalTime(const char* format)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof(text), format, &local);
    return text;
}

std::string Number(double value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%g", value);
    return text;
}

std::string Seconds(double value) { return Number(value) + " s"; }

std::string BlockText(const Json::Value& block)
{
    if (!block.isMember("flags")) {
        return "\n" + std::string(kIndent) + block["bytes"].asString();
    }
    std::string text = " (data id " + block["data_id"].asString() + ", " +
                       block["time_stamp"].asString() + ")\n" + kIndent;
    for (const auto& field : ups_protocol::kStatusFields) {
        text += std::string(field.tag) + " " + block["flags"][field.tag].asString() +
                (field.tag == ups_protocol::kStatusFields[4].tag ? "" : "  ");
    }
    std::size_t column = 0;
    for (const auto& field : ups_protocol::kDataFields) {
        char cell[32];
        const bool row_end = ++column % kValuesPerRow == 0;
        std::snprintf(cell, sizeof(cell), row_end ? "%s %g" : "%s %-8g", field.tag,
                      block["values"][field.tag].asDouble());
        text += (column % kValuesPerRow == 1 ? "\n" + std::string(kIndent) : "") + cell;
    }
    return text;
}

std::string AlarmText(const Json::Value& event)
{
    const bool raised = event["change"].asString() == "raised";
    std::string text = (raised ? "ALARM RAISED  #" : "alarm cleared #") +
                       event["index"].asString() + " " + event["key"].asString() + " " +
                       event["alarm_id"].asString() + " " + event["text"].asString();
    if (event["second_text"] != event["text"]) {
        text += " / " + event["second_text"].asString();
    }
    return text;
}

}  // namespace

EventLog::EventLog(int fd, Format format) : fd_(fd), format_(format) {}

Json::Value EventLog::Event(const char* kind, const Device& device) const
{
    Json::Value event(Json::objectValue);
    event["event"] = kind;
    event["time"] = LocalTime("%Y-%m-%dT%H:%M:%S");
    event["device"] = device.name;
    event["data_id"] = device.data_id;
    return event;
}

void EventLog::Emit(const Json::Value& event, const std::string& text)
{
    std::string line;
    if (format_ == Format::Json) {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        builder["emitUTF8"] = true;
        builder["precision"] = 7;
        line = Json::writeString(builder, event);
    } else {
        line = LocalTime("%H:%M:%S") + " [" + event["device"].asString() + " " +
               event["data_id"].asString() + "] " + text;
    }
    line += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t at = 0; at < line.size();) {
        const ssize_t written = ::write(fd_, line.data() + at, line.size() - at);
        if (written <= 0) {
            return;
        }
        at += static_cast<std::size_t>(written);
    }
}

void EventLog::Started(const Device& device, const std::string& type, const std::string& port,
                       int baud, double poll_seconds, double timeout_seconds)
{
    Json::Value event = Event("start", device);
    event["device_type"] = type;
    event["port"] = port;
    event["baud"] = baud;
    event["poll_interval"] = poll_seconds;
    event["answer_timeout"] = timeout_seconds;
    Emit(event, type + " on " + port + " at " + std::to_string(baud) + " bit/s, polled every " +
                    Seconds(poll_seconds) + ", answer timeout " + Seconds(timeout_seconds));
}

void EventLog::PortOpened(const Device& device, const std::string& port, int baud)
{
    Json::Value event = Event("port", device);
    event["state"] = "opened";
    event["port"] = port;
    event["baud"] = baud;
    Emit(event, "port " + port + " opened, " + std::to_string(baud) + " bit/s 8N1");
}

void EventLog::Block(const Device& device, unsigned int cycle, int data_type,
                     const unsigned char* data, unsigned int len)
{
    Json::Value event = Event("block", device);
    event["source"] = cycle == 0 ? "cache" : "poll";
    if (cycle != 0) {
        event["cycle"] = cycle;
    }
    event["data_type"] = data_type;
    event["block"] = DecodeBlock(data, len);
    const std::string what =
        cycle == 0 ? std::string("cached block") : "block " + std::to_string(cycle);
    Emit(event, what + BlockText(event["block"]));
}

void EventLog::AlarmChanged(const Device& device, const BoolAlarmCheck& check)
{
    Json::Value event = Event("alarm", device);
    event["change"] = check.state ? "raised" : "cleared";
    event["key"] = check.signal_key;
    event["alarm_id"] = check.alarm_id;
    event["text"] = check.first_text;
    event["second_text"] = check.second_text;
    event["index"] = check.index;
    Emit(event, AlarmText(event));
}

void EventLog::CycleFailed(const Device& device, unsigned int cycle, const std::string& reason,
                           const std::string& detail)
{
    Json::Value event = Event("cycle_failed", device);
    event["cycle"] = cycle;
    event["reason"] = reason;
    event["detail"] = detail;
    Emit(event, "cycle " + std::to_string(cycle) + " failed (" + reason + "): " + detail);
}

void EventLog::Stale(const Device& device, unsigned int failed_in_a_row)
{
    Json::Value event = Event("stale", device);
    event["failed_cycles"] = failed_in_a_row;
    Emit(event, "data stale: " + std::to_string(failed_in_a_row) +
                    " cycles failed in a row; further failures are counted, not shown");
}

void EventLog::Reestablished(const Device& device, unsigned int failed_in_a_row)
{
    Json::Value event = Event("reestablished", device);
    event["failed_cycles"] = failed_in_a_row;
    Emit(event, "communication re-established after " + std::to_string(failed_in_a_row) +
                    " failed cycles");
}

void EventLog::Error(const Device& device, const std::string& detail)
{
    Json::Value event = Event("error", device);
    event["detail"] = detail;
    Emit(event, "error: " + detail);
}

void EventLog::Summary(const Device& device, unsigned int completed, unsigned int failed,
                       bool stale)
{
    Json::Value event = Event("summary", device);
    event["completed"] = completed;
    event["failed"] = failed;
    event["stale"] = stale;
    Emit(event, std::to_string(completed + failed) + " cycles: " + std::to_string(completed) +
                    " completed, " + std::to_string(failed) + " failed" +
                    (stale ? "; data stale" : ""));
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
