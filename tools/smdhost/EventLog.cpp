#include "tools/smdhost/EventLog.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <json/writer.h>

#include "tools/common/DataBlock.h"
#include "tools/common/Escape.h"
#include "tools/common/IsoNow.h"
#include "tools/common/SafeFile.h"
#include "ups/UpsProtocol.h"

namespace {

// Room before the fields of a block, under the time and device of its line.
constexpr const char* kIndent = "        ";
constexpr std::size_t kValuesPerRow = 5;

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

Json::Value EventLog::Event(const char* kind, const Device* device, bool millis) const
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

// A line of text, or the event as JSON; an empty text is shown in JSON only.
void EventLog::Emit(const Json::Value& event, const std::string& text, int fd)
{
    std::string line;
    if (format_ == Format::Json) {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        builder["emitUTF8"] = true;
        builder["precision"] = 7;
        line = Json::writeString(builder, event);
    } else if (text.empty()) {
        return;
    } else {
        line = event["time"].asString() + " " +
               (event.isMember("device") ? "[" + event["device"].asString() + " " +
                                               event["data_id"].asString() + "] "
                                         : std::string()) +
               text;
    }
    line += '\n';
    fd = fd < 0 ? fd_ : fd;
    std::lock_guard<std::mutex> lock(mutex_);
    safe_file::WriteAll(fd, line.data(), line.size());  // an output that is gone stays quiet
}

void EventLog::Started(const Device& device, const std::string& type, const std::string& port,
                       int baud, double poll_seconds, double timeout_seconds)
{
    Json::Value event = Event("start", &device);
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
    Json::Value event = Event("port", &device);
    event["state"] = "opened";
    event["port"] = port;
    event["baud"] = baud;
    Emit(event, "port " + port + " opened, " + std::to_string(baud) + " bit/s 8N1");
}

void EventLog::Block(const Device& device, unsigned int cycle, int data_type,
                     const unsigned char* data, unsigned int len, const std::string& stored_at)
{
    Json::Value event = Event("block", &device);
    event["source"] = cycle == 0 ? "cache" : "poll";
    if (cycle != 0) {
        event["cycle"] = cycle;
    } else {
        event["stored_at"] = stored_at;
    }
    event["data_type"] = data_type;
    event["block"] = DecodeBlock(data, len);
    const std::string what = cycle == 0 ? "restored from cache, stored at " + stored_at +
                                              "; published again"
                                        : "block " + std::to_string(cycle);
    Emit(event, what + BlockText(event["block"]));
}

void EventLog::AlarmChanged(const Device& device, const BoolAlarmCheck& check,
                            unsigned int cycle)
{
    Json::Value event = Event("alarm", &device);
    event["change"] = check.state ? "raised" : "cleared";
    event["key"] = check.signal_key;
    event["alarm_id"] = check.alarm_id;
    event["text"] = check.first_text;
    event["second_text"] = check.second_text;
    event["index"] = check.index;
    event["source"] = cycle == 0 ? "cache" : "poll";
    if (cycle != 0) {
        event["cycle"] = cycle;
    }
    Emit(event, AlarmText(event) + (cycle == 0 ? " (from the cached block)" : ""));
}

void EventLog::CycleFailed(const Device& device, unsigned int cycle, const std::string& reason,
                           const std::string& detail, bool in_text)
{
    Json::Value event = Event("cycle_failed", &device);
    event["cycle"] = cycle;
    event["reason"] = reason;
    event["detail"] = detail;
    Emit(event, in_text ? "cycle " + std::to_string(cycle) + " failed (" + reason + "): " + detail
                        : std::string());
}

void EventLog::Stale(const Device& device, unsigned int failed_in_a_row)
{
    Json::Value event = Event("stale", &device);
    event["failed_cycles"] = failed_in_a_row;
    Emit(event, "data stale: " + std::to_string(failed_in_a_row) +
                    " cycles failed in a row; from now on one line a minute sums up the failures");
}

void EventLog::StillFailing(const Device& device, unsigned int failed_in_a_row,
                            const std::string& over, const std::string& last)
{
    Json::Value event = Event("still_failing", &device);
    event["failed_cycles"] = failed_in_a_row;
    event["over"] = over;
    event["last"] = last;
    Emit(event, "still failing: " + std::to_string(failed_in_a_row) + " cycles in a row over " +
                    over + "; last " + last);
}

void EventLog::Reestablished(const Device& device, unsigned int failed_in_a_row,
                             const std::string& over, const std::string& last)
{
    Json::Value event = Event("reestablished", &device);
    event["failed_cycles"] = failed_in_a_row;
    event["over"] = over;
    event["last"] = last;
    Emit(event, "communication re-established after " + std::to_string(failed_in_a_row) +
                    " failed cycles over " + over + "; last " + last);
}

void EventLog::StorageFailed(const Device& device, const std::string& file,
                             const std::string& detail)
{
    Json::Value event = Event("storage", &device);
    event["state"] = "failed";
    event["file"] = file;
    event["detail"] = detail;
    event["lost"] = 1;
    Emit(event, "error: " + detail +
                    "; further failures of this file are counted, with a reminder each minute");
}

void EventLog::StorageStillFailing(const Device& device, const std::string& file,
                                   unsigned int lost, const std::string& over,
                                   const std::string& detail)
{
    Json::Value event = Event("storage", &device);
    event["state"] = "failing";
    event["file"] = file;
    event["detail"] = detail;
    event["lost"] = lost;
    event["over"] = over;
    Emit(event, "error: still " + detail + ": " + std::to_string(lost) +
                    " blocks not stored over " + over);
}

void EventLog::StorageRecovered(const Device& device, const std::string& file, unsigned int lost)
{
    Json::Value event = Event("storage", &device);
    event["state"] = "stored";
    event["file"] = file;
    event["lost"] = lost;
    Emit(event, file + " takes blocks again, after " + std::to_string(lost) +
                    " blocks that were not stored");
}

void EventLog::Warning(const Device& device, const std::string& detail)
{
    Json::Value event = Event("warning", &device);
    event["detail"] = detail;
    Emit(event, "warning: " + detail);
}

void EventLog::Error(const Device& device, const std::string& detail)
{
    Json::Value event = Event("error", &device);
    event["detail"] = detail;
    Emit(event, "error: " + detail);
}

void EventLog::Stopping(const std::string& signal)
{
    Json::Value event = Event("stopping", nullptr);
    event["signal"] = signal;
    Emit(event, "stopping (" + signal + "): the cycles under way end now and are not counted; "
                "a second signal ends the host at once");
}

void EventLog::Bytes(int fd, const Device& device, unsigned int cycle, bool sent,
                     const unsigned char* data, std::size_t len)
{
    Json::Value event = Event("trace", &device, true);
    event["cycle"] = cycle;
    event["direction"] = sent ? "sent" : "received";
    event["bytes"] = EscapeBytes(data, len);
    event["length"] = static_cast<Json::UInt64>(len);
    Emit(event, "cycle " + std::to_string(cycle) + (sent ? " sent " : " received ") +
                    std::to_string(len) + " bytes: \"" + event["bytes"].asString() + "\"",
         fd);
}

void EventLog::Summary(const Device& device, const Totals& totals)
{
    Json::Value event = Event("summary", &device);
    event["completed"] = totals.completed;
    event["failed"] = totals.failed;
    event["stale"] = totals.stale;
    event["interrupted"] = totals.interrupted;
    event["not_stored"] = totals.lost;
    Emit(event, std::to_string(totals.completed + totals.failed) + " cycles: " +
                    std::to_string(totals.completed) + " completed, " +
                    std::to_string(totals.failed) + " failed" +
                    (totals.interrupted ? ", one more interrupted" : "") +
                    (totals.stale ? "; data stale" : "") +
                    (totals.lost > 0 ? "; " + std::to_string(totals.lost) +
                                           " blocks not stored"
                                     : ""));
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
