#include "tools/smdhost/JsonOutput.h"

#include <json/writer.h>

#include "tools/common/AlarmTexts.h"
#include "tools/common/Escape.h"
#include "tools/common/IsoNow.h"
#include "tools/smdhost/OutputLine.h"

namespace {

using namespace events;

const char* SourceName(Source source) { return source == Source::Cache ? "cache" : "poll"; }

// Each kind's name and the members it adds to `json`.
const char* Add(const Started& e, Json::Value& json)
{
    json["device_type"] = e.device_type;
    json["port"] = e.port;
    json["baud"] = e.baud;
    json["poll_interval"] = e.poll_seconds;
    json["answer_timeout"] = e.timeout_seconds;
    json["version"] = e.version;
    json["module_version"] = e.module_version;
    return "start";
}

const char* Add(const PortOpened& e, Json::Value& json)
{
    json["state"] = "opened";
    json["port"] = e.port;
    json["baud"] = e.baud;
    return "port";
}

const char* Add(const Block& e, Json::Value& json)
{
    json["source"] = SourceName(e.source);
    if (e.source == Source::Poll) {
        json["cycle"] = e.cycle;
    } else {
        json["stored_at"] = e.stored_at;
    }
    json["data_type"] = e.data_type;
    if (e.decoded) {
        json["block"] = data_block::ToJson(*e.decoded);
    } else {
        json["block"]["bytes"] = e.Hex();
    }
    return "block";
}

const char* Add(const Alarm& e, Json::Value& json)
{
    static const char* const kChanges[] = {"raised", "cleared", "restored"};
    json["change"] = kChanges[static_cast<int>(e.change)];
    json["key"] = e.key;
    json["alarm_id"] = e.alarm_id;
    json["text"] = e.text;
    json["second_text"] = e.second_text;
    if (const alarm_texts::English* english = alarm_texts::Find(e.key.c_str())) {
        json["text_en"] = english->first_text;
        json["second_text_en"] = english->second_text;
    }
    json["index"] = e.index;
    json["source"] = SourceName(e.source);
    if (e.source == Source::Poll) {
        json["cycle"] = e.cycle;
    }
    return "alarm";
}

const char* Add(const CycleFailed& e, Json::Value& json)
{
    json["cycle"] = e.cycle;
    json["reason"] = e.reason;
    json["detail"] = e.detail;
    return "cycle_failed";
}

// Every cycle of a repeat was a cycle_failed event of its own.
const char* Add(const Repeated&, Json::Value&) { return nullptr; }

const char* Add(const Stale& e, Json::Value& json)
{
    json["failed_cycles"] = e.failed_in_a_row;
    return "stale";
}

const char* Add(const Failing& e, Json::Value& json)
{
    json["failed_cycles"] = e.failed_in_a_row;
    json["over"] = e.over;
    json["last"] = e.last;
    return e.now == Failing::Now::Ongoing ? "still_failing" : "reestablished";
}

const char* Add(const Storage& e, Json::Value& json)
{
    static const char* const kStates[] = {"failed", "failing", "stored"};
    json["state"] = kStates[static_cast<int>(e.state)];
    json["file"] = e.file;
    if (e.state != Storage::State::Stored) {
        json["detail"] = e.detail;
    }
    json["lost"] = e.lost;
    if (e.state == Storage::State::Failing) {
        json["over"] = e.over;
    }
    return "storage";
}

const char* Add(const Rotated& e, Json::Value& json)
{
    json["file"] = e.file;
    json["kept_as"] = e.kept_as;
    json["limit"] = static_cast<Json::UInt64>(e.limit);
    return "rotated";
}

const char* Add(const Message& e, Json::Value& json)
{
    json["detail"] = e.detail;
    if (e.cycle != 0) {
        json["cycle"] = e.cycle;
    }
    return e.level == Message::Level::Warning ? "warning" : "error";
}

const char* Add(const Stopping& e, Json::Value& json)
{
    json["signal"] = e.signal;
    return "stopping";
}

const char* Add(const Summary& e, Json::Value& json)
{
    json["completed"] = e.completed;
    json["failed"] = e.failed;
    json["stale"] = e.stale;
    json["interrupted"] = e.interrupted;
    json["not_stored"] = e.not_stored;
    if (!e.last_failure.empty()) {
        json["last_failure"] = e.last_failure;
    }
    return "summary";
}

const char* Add(const Bytes& e, Json::Value& json)
{
    static const char* const kDirections[] = {"sent", "received", "discarded"};
    json["cycle"] = e.cycle;
    json["direction"] = kDirections[static_cast<int>(e.direction)];
    json["bytes"] = EscapeBytes(e.bytes);
    json["length"] = static_cast<Json::UInt64>(e.bytes.size());
    json["chunks"] = static_cast<Json::UInt64>(e.chunks);
    json["first"] = IsoAt(e.first, true);
    json["last"] = IsoAt(e.last, true);
    return "trace";
}

const char* Add(const Run& e, Json::Value& json)
{
    json["version"] = e.version;
    for (const std::string& word : e.command_line) {
        json["command_line"].append(word);
    }
    return "run";
}

const char* Add(const Dropped& e, Json::Value& json)
{
    json["count"] = static_cast<Json::UInt64>(e.count);
    return "dropped";
}

const char* Add(const Upsd& e, Json::Value& json)
{
    json["state"] = e.connected ? "connected" : "disconnected";
    json["process"] = e.process;
    json["socket"] = e.socket;
    return "upsd";
}

const char* Add(const ModuleLine&, Json::Value&) { return nullptr; }

}  // namespace

Json::Value JsonOutput::ToJson(const events::Event& event)
{
    Json::Value json(Json::objectValue);
    const char* kind = std::visit([&json](const auto& fact) { return Add(fact, json); }, event.fact);
    if (kind == nullptr) {
        return Json::Value();
    }
    json["event"] = kind;
    json["time"] = IsoAt(event.time, events::IsTrace(event.fact));
    if (event.device) {
        json["device"] = event.device->name;
        json["data_id"] = event.device->data_id;
    }
    return json;
}

void JsonOutput::Take(const events::Event& event)
{
    static const Json::StreamWriterBuilder builder = [] {
        Json::StreamWriterBuilder writer;
        writer["indentation"] = "";
        writer["emitUTF8"] = true;
        writer["precision"] = 7;
        return writer;
    }();
    const Json::Value json = ToJson(event);
    if (!json.isNull()) {
        WriteOutputLine(fd_, Json::writeString(builder, json) + "\n");
    }
}
