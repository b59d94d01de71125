#include "tools/smdhost/TextOutput.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "tools/common/Plural.h"
#include "tools/smdhost/OutputLine.h"
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

std::string Seconds(const Json::Value& value) { return Number(value.asDouble()) + " s"; }

std::string BlockFields(const Json::Value& block)
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

std::string Start(const Json::Value& e)
{
    return e["device_type"].asString() + " on " + e["port"].asString() + " at " +
           e["baud"].asString() + " bit/s, polled every " + Seconds(e["poll_interval"]) +
           ", answer timeout " + Seconds(e["answer_timeout"]);
}

std::string Port(const Json::Value& e)
{
    return "port " + e["port"].asString() + " opened, " + e["baud"].asString() + " bit/s 8N1";
}

std::string Block(const Json::Value& e)
{
    const std::string what = e["source"] == "cache" ? "restored from cache, stored at " +
                                                          e["stored_at"].asString() +
                                                          "; published again"
                                                    : "block " + e["cycle"].asString();
    return what + BlockFields(e["block"]);
}

std::string Alarm(const Json::Value& e)
{
    static const std::map<std::string, std::string> kChange = {
        {"raised", "ALARM RAISED  #"}, {"cleared", "alarm cleared #"},
        {"restored", "alarm restored #"}};
    const bool two = e["second_text"] != e["text"];
    std::string text = kChange.at(e["change"].asString()) + e["index"].asString() + " " +
                       e["key"].asString() + " " + e["alarm_id"].asString() + " " +
                       e["text"].asString() + (two ? " / " + e["second_text"].asString() : "");
    if (e.isMember("text_en")) {
        text += " (" + e["text_en"].asString() +
                (two ? " / " + e["second_text_en"].asString() : "") + ")";
    }
    return text + (e["source"] == "cache" ? ", on in the cached block" : "");
}

std::string CycleFailed(const Json::Value& e)
{
    return "cycle " + e["cycle"].asString() + " failed (" + e["reason"].asString() +
           "): " + e["detail"].asString();
}

std::string Stale(const Json::Value& e)
{
    return "data stale: " + Counted(e["failed_cycles"].asUInt(), "cycle") +
           " failed in a row; from now on one line a minute sums up the failures";
}

std::string StillFailing(const Json::Value& e)
{
    return "still failing: " + Counted(e["failed_cycles"].asUInt(), "cycle") + " in a row over " +
           e["over"].asString() + "; last " + e["last"].asString();
}

std::string Reestablished(const Json::Value& e)
{
    return "communication re-established after " +
           Counted(e["failed_cycles"].asUInt(), "failed cycle") + " over " +
           e["over"].asString() + "; last " + e["last"].asString();
}

std::string Storage(const Json::Value& e)
{
    const std::string state = e["state"].asString();
    if (state == "failed") {
        return "error: " + e["detail"].asString() +
               "; further failures of this file are counted, with a reminder each minute";
    }
    if (state == "failing") {
        return "error: still " + e["detail"].asString() + ": " +
               Counted(e["lost"].asUInt(), "block") + " not stored over " + e["over"].asString();
    }
    return e["file"].asString() + " takes blocks again, after " +
           Counted(e["lost"].asUInt(), "block that was", "blocks that were") + " not stored";
}

std::string Rotated(const Json::Value& e)
{
    return "history " + e["file"].asString() + " reached its limit of " +
           Counted(e["limit"].asUInt64(), "byte") + ": kept as " + e["kept_as"].asString() +
           " (over any older one), a new one started";
}

std::string Warning(const Json::Value& e) { return "warning: " + e["detail"].asString(); }
std::string Error(const Json::Value& e) { return "error: " + e["detail"].asString(); }

std::string Stopping(const Json::Value& e)
{
    return "stopping (" + e["signal"].asString() +
           "): the cycles under way end now and are not counted; a second signal ends the "
           "host at once";
}

// "09:04:30.101" of an ISO 8601 time with milliseconds.
std::string TimeOfDay(const Json::Value& time) { return time.asString().substr(11, 12); }

std::string Trace(const Json::Value& e)
{
    const std::string direction = e["direction"].asString();
    const std::size_t chunks = e["chunks"].asUInt();
    std::string when;
    if (direction == "received") {
        when = " in " + Counted(chunks, "chunk") +
               (chunks == 1 ? " at " + TimeOfDay(e["first"])
                            : " from " + TimeOfDay(e["first"]) + " to " + TimeOfDay(e["last"]));
    } else if (direction == "discarded") {
        when = " left on the line before the command";
    }
    return "cycle " + e["cycle"].asString() + " " + direction + " " +
           Counted(e["length"].asUInt(), "byte") + when + ": \"" + e["bytes"].asString() + "\"";
}

// The first line of a run in a trace file.
std::string Run(const Json::Value& e)
{
    std::string words;
    for (const Json::Value& word : e["command_line"]) {
        const std::string text = word.asString();
        const bool quoted = text.empty() || text.find_first_of(" \t'\"\\$") != std::string::npos;
        words += (words.empty() ? "" : " ") + (quoted ? "'" + text + "'" : text);
    }
    return "smdhost " + e["version"].asString() + " started: " + words;
}

std::string Summary(const Json::Value& e)
{
    const unsigned int completed = e["completed"].asUInt();
    const unsigned int failed = e["failed"].asUInt();
    const unsigned int lost = e["not_stored"].asUInt();
    const bool interrupted = e["interrupted"].asBool();
    return Counted(completed + failed + (interrupted ? 1 : 0), "cycle") + ": " +
           std::to_string(completed) + " completed, " + std::to_string(failed) + " failed" +
           (interrupted ? ", 1 interrupted" : "") + (e["stale"].asBool() ? "; data stale" : "") +
           (lost > 0 ? "; " + Counted(lost, "block") + " not stored" : "");
}

// How each kind of event reads.
struct Kind {
    const char* name;
    std::string (*text)(const Json::Value&);
};

const Kind kKinds[] = {
    {"start", Start},
    {"port", Port},
    {"block", Block},
    {"alarm", Alarm},
    {"cycle_failed", CycleFailed},
    {"stale", Stale},
    {"still_failing", StillFailing},
    {"reestablished", Reestablished},
    {"storage", Storage},
    {"rotated", Rotated},
    {"warning", Warning},
    {"error", Error},
    {"stopping", Stopping},
    {"trace", Trace},
    {"run", Run},
    {"summary", Summary},
};

}  // namespace

std::string TextOutput::Text(const Event& event)
{
    if (!event.for_people) {
        return "";
    }
    const std::string kind = event.json["event"].asString();
    for (const Kind& known : kKinds) {
        if (kind == known.name) {
            return known.text(event.json);
        }
    }
    return kind;
}

std::string TextOutput::Line(const Json::Value& event, const std::string& text)
{
    const std::string device = event.isMember("device") ? "[" + event["device"].asString() +
                                                              " " + event["data_id"].asString() +
                                                              "] "
                                                        : std::string();
    return event["time"].asString() + " " + device + text + "\n";
}

void TextOutput::Take(const Event& event)
{
    const std::string text = Text(event);
    if (!text.empty()) {
        WriteOutputLine(fd_, Line(event.json, text));
    }
}
