#include "tools/smdhist/HistOptions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "tools/smdhist/HistTime.h"

namespace {

using command_line::Arg;
using command_line::Completes;

enum Id { kCsv = 1000, kSize, kAcceptShared, kOpenMetrics, kInflux };

[[noreturn]] void Refuse(const std::string& complaint)
{
    command_line::Refuse(HistProgram(), complaint);
}

unsigned long long Count(const char* text, const char* what, unsigned long long most)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long count = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || count < 1 ||
        count > most) {
        Refuse(std::string("not ") + what + ": " + text);
    }
    return count;
}

std::optional<std::int64_t> Time(const std::optional<std::string>& text, bool to_end)
{
    if (!text) {
        return std::nullopt;
    }
    const auto time = hist_time::ParseTime(*text, to_end, std::time(nullptr));
    if (!time) {
        Refuse("not a time: " + *text +
               " (ISO 8601 such as 2026-12-08T16:55:58.5+01:00, or now, -2h, -30min)");
    }
    return time;
}

void SetZone(const std::string& zone)
{
    const std::optional<std::string> rule = hist_time::ZoneRule(zone);
    if (!rule) {
        Refuse("not a zone: " + zone +
               " (a name such as Europe/Berlin, UTC, an offset such as +01:00, or a TZ rule)");
    }
    setenv("TZ", rule->c_str(), 1);
    hist_time::ZoneChanged();
}

void ReadSize(const char* text, PlotRequest& size)
{
    int width = 0;
    int height = 0;
    char rest = 0;
    if (std::sscanf(text, "%dx%d%c", &width, &height, &rest) != 2 || width < kSmallestPlot.width ||
        height < kSmallestPlot.height || width > 10000 || height > 10000) {
        Refuse(std::string("not a size from ") + std::to_string(kSmallestPlot.width) + "x" +
               std::to_string(kSmallestPlot.height) +
               " (the smallest at which every label fits) to 10000x10000: " + text);
    }
    size.width = width;
    size.height = height;
}

// The output asked for: one format at most, and what goes with what.
void Check(const HistOptions& options, int formats)
{
    if (options.files.empty()) {
        Refuse("give one or more history or cache files (- for standard input)");
    }
    if (formats > 1) {
        Refuse("give one of --csv, --json, --openmetrics and --influx");
    }
    if (options.summary && (options.format == BlockTable::Format::Csv || options.series)) {
        Refuse("--summary goes with --json only, of the formats");
    }
    if (options.follow && (options.summary || options.plot)) {
        Refuse("--follow shows blocks as they come: it goes with the table, --csv, --json, "
               "--openmetrics and --influx, not with --summary or --plot");
    }
    std::size_t stdin_count = 0;
    for (const std::string& file : options.files) {
        stdin_count += file == "-" ? 1 : 0;
    }
    if (stdin_count > 1) {
        Refuse("standard input (-) can be read once");
    }
    if (options.choice.from && options.choice.to && *options.choice.from > *options.choice.to) {
        Refuse("--from is later than --to");
    }
    if (options.plot && !PlotFormatKnown(options.plot->path)) {
        Refuse("the picture's name must end in .svg, .png or .gp: " + options.plot->path);
    }
}

}  // namespace

const command_line::Program& HistProgram()
{
    static const command_line::Program program{
        "smdhist",
        "[options] FILE...",
        "read back the blocks a device stored",
        "Reads back the blocks a device stored (its history or its cache file) as a table, "
        "CSV or JSON, as a summary of what happened, as a picture over time, or for a "
        "time-series database.",
        {
            {kCsv, "csv", 0, Arg::None, nullptr, "Comma-separated values, with a header line."},
            {'j', "json", 'j', Arg::None, nullptr,
             "One JSON object per block; with --summary, the summary."},
            {kOpenMetrics, "openmetrics", 0, Arg::None, nullptr,
             "OpenMetrics text with time stamps, ending in # EOF: one metric family per value "
             "and per alarm flag (promtool tsdb create-blocks-from openmetrics reads it)."},
            {kInflux, "influx", 0, Arg::None, nullptr,
             "InfluxDB line protocol, time stamps in seconds (write with precision=s)."},
            {'s', "summary", 's', Arg::None, nullptr,
             "Span, gaps, each value's min/mean/max, each alarm's intervals."},
            {'f', "from", 'f', Arg::Required, "TIME",
             "Blocks stamped at TIME or later: ISO 8601 as the tools print it "
             "(2026-12-08T16:55:58.5+01:00, 2026-12-08 16:55, 2026-12-08; without an offset "
             "in the history's zone), now, or relative to now (-2h, -30min, -90s, -1d)."},
            {'t', "to", 't', Arg::Required, "TIME",
             "Blocks stamped at TIME or earlier (a day or minute: to its end)."},
            {'z', "zone", 'z', Arg::Required, "ZONE",
             "The zone the history's stamps were written in, when it is not this machine's: "
             "Europe/Berlin, UTC, +08:00.",
             Completes::Zone},
            {'n', "last", 'n', Arg::Required, "N", "The last N of the blocks chosen."},
            {'d', "data-id", 'd', Arg::Required, "N", "The blocks of this data identifier."},
            {'F', "follow", 'F', Arg::None, nullptr,
             "After the files, go on showing the blocks appended to the last one, across its "
             "rotation, until interrupted, waiting for it when it is not there yet (as tail "
             "-F)."},
            {'g', "gap", 'g', Arg::Required, "SECONDS",
             "Gaps are steps longer than this (default: twice the usual step, the smallest "
             "regular one)."},
            {'p', "plot", 'p', Arg::Required, "FILE",
             "Draw the values and alarms over time into FILE.svg or FILE.png; FILE.gp is the "
             "gnuplot script with its data.",
             Completes::File},
            {kSize, "size", 0, Arg::Required, "WxH",
             "The picture's size in pixels (default 1200x1000, at least 640x720)."},
            {kAcceptShared, "allow-shared-dir", 0, Arg::None, nullptr,
             "Write the picture into a folder others can write to."},
        },
        {
            {"0", "every block read and sound"},
            {"1", "a damaged block, skipped bytes or a torn tail, or blocks or values a time "
                  "series left out (each shown)"},
            {"2", "bad options"},
            {"3", "a file without a whole block"},
            {"4", "a file missing or unreadable"},
            {"5", "the picture or the output could not be written"},
            {"6", "blocks were read, but none of the range or data identifier asked for"},
        },
        "FILE is a history (STATE/ID.history), its rotated predecessor (ID.history.1,\n"
        "read first in whichever order given), a cache (STATE/ID.cache), a pipe, or -\n"
        "for standard input.\n",
        Completes::File,
    };
    return program;
}

HistOptions ReadHistOptions(int argc, char** argv)
{
    HistOptions options;
    PlotRequest size;
    bool accept_shared = false;
    int formats = 0;
    std::optional<std::string> from;
    std::optional<std::string> to;
    std::optional<std::string> zone;
    options.files = command_line::Parse(argc, argv, HistProgram(), [&](int id, const char* value) {
        switch (id) {
        case kCsv: options.format = BlockTable::Format::Csv; ++formats; break;
        case 'j': options.format = BlockTable::Format::Json; ++formats; break;
        case kOpenMetrics: options.series = TimeSeries::Format::OpenMetrics; ++formats; break;
        case kInflux: options.series = TimeSeries::Format::Influx; ++formats; break;
        case 's': options.summary = true; break;
        case 'f': from = value; break;
        case 't': to = value; break;
        case 'z': zone = value; break;
        case 'F': options.follow = true; break;
        case 'n': options.choice.last = Count(value, "a count", 1ULL << 32); break;
        case 'd':
            options.choice.data_id =
                static_cast<std::uint32_t>(Count(value, "a data identifier", 0xffffffffULL));
            break;
        case 'g':
            options.gap = static_cast<std::int64_t>(Count(value, "a number of seconds", 1ULL << 40));
            break;
        case 'p': options.plot = PlotRequest{value}; break;
        case kSize: ReadSize(value, size); break;
        case kAcceptShared: accept_shared = true; break;
        }
    });
    if (options.summary && options.format == BlockTable::Format::Json) {
        --formats;  // --summary --json is the summary's own JSON
    }
    // Times without an offset are in the history's zone: the zone first.
    if (zone) {
        SetZone(*zone);
    }
    options.choice.from = Time(from, false);
    options.choice.to = Time(to, true);
    Check(options, formats);
    if (options.plot) {
        options.plot->width = size.width;
        options.plot->height = size.height;
        options.plot->accept_shared = accept_shared;
    }
    return options;
}
