#include "tools/smdhist/HistOptions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "tools/smdhist/HistTime.h"

namespace {

using command_line::Arg;
using command_line::Completes;

enum Id { kCsv = 1000, kSize, kAcceptShared };

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

std::int64_t Time(const char* text, bool to_end)
{
    const auto time = hist_time::ParseIso(text, to_end);
    if (!time) {
        Refuse(std::string("not an ISO 8601 time: ") + text);
    }
    return *time;
}

void ReadSize(const char* text, PlotRequest& size)
{
    int width = 0;
    int height = 0;
    char rest = 0;
    if (std::sscanf(text, "%dx%d%c", &width, &height, &rest) != 2 || width < 200 ||
        height < 200 || width > 10000 || height > 10000) {
        Refuse(std::string("not a size from 200x200 to 10000x10000: ") + text);
    }
    size.width = width;
    size.height = height;
}

void Check(const HistOptions& options, bool csv, bool json)
{
    if (options.files.empty()) {
        Refuse("give one or more history or cache files");
    }
    if (csv && (json || options.summary)) {
        Refuse("--csv goes with neither --json nor --summary");
    }
    if (options.choice.from && options.choice.to && *options.choice.from > *options.choice.to) {
        Refuse("--from is later than --to");
    }
    if (options.plot && !PlotFormatKnown(options.plot->path)) {
        Refuse("the picture's name must end in .svg or .png: " + options.plot->path);
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
        "CSV or JSON, as a summary of what happened, or as a picture over time.",
        {
            {kCsv, "csv", 0, Arg::None, nullptr, "Comma-separated values, with a header line."},
            {'j', "json", 'j', Arg::None, nullptr,
             "One JSON object per block; with --summary, the summary."},
            {'s', "summary", 's', Arg::None, nullptr,
             "Span, gaps, each value's min/mean/max, each alarm's intervals."},
            {'f', "from", 'f', Arg::Required, "TIME",
             "Blocks stamped at TIME or later: ISO 8601, 2026-12-08T16:55:58, 2026-12-08 16:55 "
             "or 2026-12-08, local time unless a zone follows (Z, +01:00)."},
            {'t', "to", 't', Arg::Required, "TIME",
             "Blocks stamped at TIME or earlier (a day or minute: to its end)."},
            {'n', "last", 'n', Arg::Required, "N", "The last N of the blocks chosen."},
            {'d', "data-id", 'd', Arg::Required, "N", "The blocks of this data identifier."},
            {'g', "gap", 'g', Arg::Required, "SECONDS",
             "Gaps are steps longer than this (default: twice the usual step)."},
            {'p', "plot", 'p', Arg::Required, "FILE",
             "Draw the values and alarms over time into FILE.svg or FILE.png.",
             Completes::File},
            {kSize, "size", 0, Arg::Required, "WxH",
             "The picture's size in pixels (default 1200x1000)."},
            {kAcceptShared, "allow-shared-dir", 0, Arg::None, nullptr,
             "Write the picture into a folder others can write to."},
        },
        {
            {"0", "every block read and sound"},
            {"1", "a damaged block or a torn tail (shown)"},
            {"2", "bad options"},
            {"3", "a file without a whole block"},
            {"4", "a file missing or unreadable"},
            {"5", "the picture or the output could not be written"},
        },
        "FILE is a history (STATE/ID.history) or cache (STATE/ID.cache) file.\n",
        Completes::File,
    };
    return program;
}

HistOptions ReadHistOptions(int argc, char** argv)
{
    HistOptions options;
    PlotRequest size;
    bool accept_shared = false;
    bool csv = false;
    bool json = false;
    options.files = command_line::Parse(argc, argv, HistProgram(), [&](int id, const char* value) {
        switch (id) {
        case kCsv: csv = true; break;
        case 'j': json = true; break;
        case 's': options.summary = true; break;
        case 'f': options.choice.from = Time(value, false); break;
        case 't': options.choice.to = Time(value, true); break;
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
    Check(options, csv, json);
    options.format = csv ? BlockTable::Format::Csv
                     : json ? BlockTable::Format::Json
                            : BlockTable::Format::Text;
    if (options.plot) {
        options.plot->width = size.width;
        options.plot->height = size.height;
        options.plot->accept_shared = accept_shared;
    }
    return options;
}
