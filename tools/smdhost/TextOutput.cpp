#include "tools/smdhost/TextOutput.h"

#include <cstdio>

#include "tools/common/AlarmTexts.h"
#include "tools/common/Escape.h"
#include "tools/common/IsoNow.h"
#include "tools/common/Plural.h"
#include "tools/smdhost/OutputLine.h"
#include "ups/UpsProtocol.h"

namespace {

using namespace events;

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

std::string BlockFields(const Block& block)
{
    if (!block.decoded) {
        return "\n" + std::string(kIndent) + block.Hex();
    }
    const data_block::Decoded& decoded = *block.decoded;
    std::string text = " (data id " + std::to_string(decoded.data_id) + ", " +
                       data_block::IsoTime(decoded.time_stamp) + ")\n" + kIndent;
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        text += std::string(ups_protocol::kStatusFields[i].tag) + " " +
                std::to_string(decoded.flags[i]) + (i + 1 == data_block::kFlags ? "" : "  ");
    }
    for (std::size_t i = 0; i < data_block::kValues; ++i) {
        char cell[32];
        const bool row_end = (i + 1) % kValuesPerRow == 0;
        std::snprintf(cell, sizeof(cell), row_end ? "%s %g" : "%s %-8g",
                      data_block::ValueFields()[i]->tag, static_cast<double>(decoded.values[i]));
        text += (i % kValuesPerRow == 0 ? "\n" + std::string(kIndent) : "") + cell;
    }
    return text;
}

std::string Say(const Started& e)
{
    return e.device_type + " on " + e.port + " at " + std::to_string(e.baud) +
           " bit/s, polled every " + Seconds(e.poll_seconds) + ", answer timeout " +
           Seconds(e.timeout_seconds);
}

std::string Say(const PortOpened& e)
{
    return "port " + e.port + " opened, " + std::to_string(e.baud) + " bit/s 8N1";
}

std::string Say(const Block& e)
{
    const std::string what = e.source == Source::Cache ? "restored from cache, stored at " +
                                                             e.stored_at + "; published again"
                                                       : "block " + std::to_string(e.cycle);
    return what + BlockFields(e);
}

std::string Say(const Alarm& e)
{
    const char* change = e.change == Alarm::Change::Raised    ? "ALARM RAISED  #"
                         : e.change == Alarm::Change::Cleared ? "alarm cleared #"
                                                              : "alarm restored #";
    const bool two = e.second_text != e.text;
    std::string text = change + std::to_string(e.index) + " " + e.key + " " + e.alarm_id + " " +
                       e.text + (two ? " / " + e.second_text : "");
    if (const alarm_texts::English* english = alarm_texts::Find(e.key.c_str())) {
        text += std::string(" (") + english->first_text +
                (two ? std::string(" / ") + english->second_text : "") + ")";
    }
    return text + (e.source == Source::Cache ? ", on in the cached block" : "");
}

std::string Say(const CycleFailed& e)
{
    if (!e.in_text) {
        return "";
    }
    return "cycle " + std::to_string(e.cycle) + " failed (" + e.reason + "): " + e.detail;
}

// Told when they end: the cycles each failed as the one before them did.
std::string Say(const Repeated& e)
{
    const std::string cycles =
        e.first_cycle == e.last_cycle
            ? "cycle " + std::to_string(e.first_cycle)
            : "cycles " + std::to_string(e.first_cycle) + " to " + std::to_string(e.last_cycle);
    return cycles + " failed the same way (" + e.reason + "): " + e.detail;
}

std::string Say(const Stale& e)
{
    return "data stale: " + Counted(e.failed_in_a_row, "cycle") +
           " failed in a row; a line a minute says how long the failures go on";
}

// Each minute, after the line of the last failure or of its repeats.
std::string Say(const Failing& e)
{
    if (e.now == Failing::Now::Ongoing) {
        return "still failing: " + Counted(e.failed_in_a_row, "cycle") + " in a row over " +
               e.over;
    }
    return "communication re-established after " + Counted(e.failed_in_a_row, "failed cycle") +
           " over " + e.over + "; last " + e.last;
}

std::string Say(const Storage& e)
{
    switch (e.state) {
    case Storage::State::Failed:
        return "error: " + e.detail +
               "; further failures of this file are counted, with a reminder each minute";
    case Storage::State::Failing:
        return "error: still " + e.detail + ": " + Counted(e.lost, "block") +
               " not stored over " + e.over;
    case Storage::State::Stored:
        break;
    }
    return e.file + " takes blocks again, after " +
           Counted(e.lost, "block that was", "blocks that were") + " not stored";
}

std::string Say(const Rotated& e)
{
    return "history " + e.file + " reached its limit of " + Counted(e.limit, "byte") +
           ": kept as " + e.kept_as + " (over any older one), a new one started";
}

std::string Say(const Message& e)
{
    return (e.level == Message::Level::Warning ? "warning: " : "error: ") +
           (e.cycle != 0 ? "cycle " + std::to_string(e.cycle) + ": " : "") + e.detail;
}

std::string Say(const Stopping& e)
{
    return "stopping (" + e.signal +
           "): the cycles under way end now and are not counted; SIGINT or SIGTERM again "
           "ends the host at once";
}

// "09:04:30.101" of a moment.
std::string TimeOfDay(std::chrono::system_clock::time_point time)
{
    return IsoAt(time, true).substr(11, 12);
}

std::string Say(const Bytes& e)
{
    static const char* const kDirections[] = {"sent", "received", "discarded"};
    std::string when;
    if (e.direction == Bytes::Direction::Received) {
        when = " in " + Counted(e.chunks, "chunk") +
               (e.chunks == 1 ? " at " + TimeOfDay(e.first)
                              : " from " + TimeOfDay(e.first) + " to " + TimeOfDay(e.last));
    } else if (e.direction == Bytes::Direction::Discarded) {
        when = " left on the line before the command";
    }
    return "cycle " + std::to_string(e.cycle) + " " +
           kDirections[static_cast<int>(e.direction)] + " " + Counted(e.bytes.size(), "byte") +
           when + ": \"" + EscapeBytes(e.bytes) + "\"";
}

// The first line of a run in a trace file.
std::string Say(const Run& e)
{
    std::string words;
    for (const std::string& text : e.command_line) {
        const bool quoted = text.empty() || text.find_first_of(" \t'\"\\$") != std::string::npos;
        words += (words.empty() ? "" : " ") + (quoted ? "'" + text + "'" : text);
    }
    return "smdhost " + e.version + " started: " + words;
}

std::string Say(const Summary& e)
{
    return Counted(e.completed + e.failed + (e.interrupted ? 1 : 0), "cycle") + ": " +
           std::to_string(e.completed) + " completed, " + std::to_string(e.failed) + " failed" +
           (e.interrupted ? ", 1 interrupted" : "") + (e.stale ? "; data stale" : "") +
           (e.not_stored > 0 ? "; " + Counted(e.not_stored, "block") + " not stored" : "") +
           (e.last_failure.empty() ? "" : "; last failure: " + e.last_failure);
}

std::string Say(const Dropped& e)
{
    return Counted(e.count, "event") +
           " left out here: the output did not keep up, and the devices do not wait for it";
}

std::string Say(const Upsd& e)
{
    return e.process + (e.connected ? " connected to " : " disconnected from ") + e.socket;
}

// Written as it came, not as a line of the host's.
std::string Say(const ModuleLine&) { return ""; }

}  // namespace

std::string TextOutput::Text(const events::Event& event)
{
    return std::visit([](const auto& fact) { return Say(fact); }, event.fact);
}

std::string TextOutput::Line(const events::Event& event, const std::string& text)
{
    const std::string device =
        event.device ? "[" + event.device->name + " " + std::to_string(event.device->data_id) +
                           "] "
                     : std::string();
    return IsoAt(event.time, events::IsTrace(event.fact)) + " " + device + text + "\n";
}

void TextOutput::Take(const events::Event& event)
{
    if (const auto* line = std::get_if<events::ModuleLine>(&event.fact)) {
        WriteOutputLine(fd_, line->text);
        return;
    }
    const std::string text = Text(event);
    if (!text.empty()) {
        WriteOutputLine(fd_, Line(event, text));
    }
}
