// smdhist: reads back the blocks a device stored (its history or its cache
// file) as a table, CSV or JSON, as a summary of what happened, or as a
// picture over time.
#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <json/writer.h>

#include "tools/smdhist/BlockTable.h"
#include "tools/smdhist/HistTime.h"
#include "tools/smdhist/HistoryReader.h"
#include "tools/smdhist/Plot.h"
#include "tools/smdhist/PlotData.h"
#include "tools/smdhist/Selection.h"
#include "tools/smdhist/Summary.h"

namespace {

// Exit statuses, from the least to the worst: the worst met is the answer.
constexpr int kSound = 0;
constexpr int kDamaged = 1;
constexpr int kUsage = 2;
constexpr int kEmpty = 3;
constexpr int kUnreadable = 4;
constexpr int kNoOutput = 5;

// Damaged blocks named one by one on standard error; the rest are counted.
constexpr std::uint64_t kDamageWarnings = 10;

constexpr const char* kUsageText =
    "usage: smdhist [options] FILE...\n"
    "  FILE                  a history (STATE/ID.history) or cache (STATE/ID.cache) file\n"
    "      --csv             comma-separated values, with a header line\n"
    "  -j, --json            one JSON object per block; with --summary, the summary\n"
    "  -s, --summary         span, gaps, each value's min/mean/max, each alarm's intervals\n"
    "  -f, --from TIME       blocks stamped at TIME or later: ISO 8601, 2026-12-08T16:55:58,\n"
    "                        2026-12-08 16:55 or 2026-12-08, local time unless a zone follows\n"
    "                        (Z, +01:00)\n"
    "  -t, --to TIME         blocks stamped at TIME or earlier (a day or minute: to its end)\n"
    "  -n, --last N          the last N of the blocks chosen\n"
    "  -d, --data-id N       the blocks of this data identifier\n"
    "  -g, --gap SECONDS     gaps are steps longer than this (default: twice the usual step)\n"
    "  -p, --plot FILE       draw the values and alarms over time into FILE.svg or FILE.png\n"
    "      --size WxH        the picture's size in pixels (default 1200x1000)\n"
    "      --allow-shared-dir  write the picture into a folder others can write to\n"
    "  -h, --help            this text\n"
    "exit status: 0 every block read and sound; 1 a damaged block or a torn tail (shown);\n"
    "2 bad options; 3 a file without a whole block; 4 a file missing or unreadable;\n"
    "5 the picture or the output could not be written\n";

struct Options {
    std::vector<std::string> files;
    BlockTable::Format format = BlockTable::Format::Text;
    bool summary = false;
    Selection::Choice choice;
    std::optional<std::int64_t> gap;
    std::optional<PlotRequest> plot;
    PlotRequest size;
    bool accept_shared = false;
};

[[noreturn]] void Usage(const std::string& complaint)
{
    std::fprintf(stderr, "smdhist: %s\n%s", complaint.c_str(), kUsageText);
    std::exit(kUsage);
}

unsigned long long Count(const char* text, const char* what, unsigned long long most)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long count = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || count < 1 ||
        count > most) {
        Usage(std::string("not ") + what + ": " + text);
    }
    return count;
}

std::int64_t Time(const char* text, bool to_end)
{
    const auto time = hist_time::ParseIso(text, to_end);
    if (!time) {
        Usage(std::string("not an ISO 8601 time: ") + text);
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
        Usage(std::string("not a size from 200x200 to 10000x10000: ") + text);
    }
    size.width = width;
    size.height = height;
}

void Check(const Options& options, bool csv, bool json)
{
    if (options.files.empty()) {
        Usage("give one or more history or cache files");
    }
    if (csv && (json || options.summary)) {
        Usage("--csv goes with neither --json nor --summary");
    }
    if (options.choice.from && options.choice.to && *options.choice.from > *options.choice.to) {
        Usage("--from is later than --to");
    }
    if (options.plot && !PlotFormatKnown(options.plot->path)) {
        Usage("the picture's name must end in .svg or .png: " + options.plot->path);
    }
}

Options ReadOptions(int argc, char** argv)
{
    enum { kCsv = 1000, kSize, kAcceptShared };
    static const option kLong[] = {
        {"csv", no_argument, nullptr, kCsv},
        {"json", no_argument, nullptr, 'j'},
        {"summary", no_argument, nullptr, 's'},
        {"from", required_argument, nullptr, 'f'},
        {"to", required_argument, nullptr, 't'},
        {"last", required_argument, nullptr, 'n'},
        {"data-id", required_argument, nullptr, 'd'},
        {"gap", required_argument, nullptr, 'g'},
        {"plot", required_argument, nullptr, 'p'},
        {"size", required_argument, nullptr, kSize},
        {"allow-shared-dir", no_argument, nullptr, kAcceptShared},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    Options options;
    bool csv = false;
    bool json = false;
    for (int option; (option = getopt_long(argc, argv, "jsf:t:n:d:g:p:h", kLong, nullptr)) != -1;) {
        switch (option) {
        case kCsv: csv = true; break;
        case 'j': json = true; break;
        case 's': options.summary = true; break;
        case 'f': options.choice.from = Time(optarg, false); break;
        case 't': options.choice.to = Time(optarg, true); break;
        case 'n': options.choice.last = Count(optarg, "a count", 1ULL << 32); break;
        case 'd':
            options.choice.data_id =
                static_cast<std::uint32_t>(Count(optarg, "a data identifier", 0xffffffffULL));
            break;
        case 'g':
            options.gap =
                static_cast<std::int64_t>(Count(optarg, "a number of seconds", 1ULL << 40));
            break;
        case 'p': options.plot = PlotRequest{optarg}; break;
        case kSize: ReadSize(optarg, options.size); break;
        case kAcceptShared: options.accept_shared = true; break;
        case 'h': std::fputs(kUsageText, stdout); std::exit(kSound);
        default: Usage("unknown option");
        }
    }
    options.files.assign(argv + optind, argv + argc);
    Check(options, csv, json);
    options.format = csv ? BlockTable::Format::Csv
                     : json ? BlockTable::Format::Json
                            : BlockTable::Format::Text;
    if (options.plot) {
        options.plot->width = options.size.width;
        options.plot->height = options.size.height;
        options.plot->accept_shared = options.accept_shared;
    }
    return options;
}

std::string Blocks(std::uint64_t count)
{
    return std::to_string(count) + (count == 1 ? " block" : " blocks");
}

void Warn(const std::string& text) { std::fprintf(stderr, "smdhist: %s\n", text.c_str()); }

// One reading of the files: each block read is checked, chosen or not, and
// handed to the outputs asked for.
class Reading {
public:
    explicit Reading(const Options& options)
        : options_(options), selection_(options.choice, [this](const Entry& e) { Take(e); })
    {
        // The table, unless the summary or only the picture was asked for.
        if (!options.summary && (!options.plot || options.format != BlockTable::Format::Text)) {
            table_.emplace(stdout, options.format, options.files.size() > 1);
        }
        if (options.summary || options.plot) {
            summary_.emplace(options.gap);
        }
        if (options.plot) {
            plot_.emplace();
        }
    }

    int Run()
    {
        for (const std::string& file : options_.files) {
            ReadFile(file);
        }
        selection_.Finish();
        Report();
        if (summary_) {
            summary_->Finish();
        }
        if (options_.summary) {
            PrintSummary();
        }
        if (options_.plot) {
            Draw();
        }
        return status_;
    }

private:
    void Worse(int status) { status_ = std::max(status_, status); }

    void ReadFile(const std::string& file)
    {
        const HistoryReader::Report report = reader_.Read(file, [this](Entry& entry) {
            if (!entry.Sound() && ++damaged_ <= kDamageWarnings) {
                Warn(Where(entry) + " is damaged: " + entry.damage);
            }
            selection_.Offer(entry);
        });
        switch (report.outcome) {
        case HistoryReader::Outcome::Unreadable:
            Warn(file + ": cannot read: " + report.error);
            Worse(kUnreadable);
            return;
        case HistoryReader::Outcome::Empty:
            Warn(file + (report.size == 0 ? ": empty: no block stored yet"
                                          : ": no whole block: " + std::to_string(report.size) +
                                                " bytes, and a block is 76"));
            Worse(kEmpty);
            return;
        case HistoryReader::Outcome::Read: break;
        }
        if (report.torn_bytes > 0) {
            Warn(file + ": the last " + std::to_string(report.torn_bytes) + " bytes (from byte " +
                 std::to_string(report.size - report.torn_bytes) +
                 ") are no whole block and were ignored: a write cut short?");
            Worse(kDamaged);
        }
    }

    void Take(const Entry& entry)
    {
        if (table_) {
            table_->Add(entry);
        }
        if (summary_) {
            summary_->Add(entry);
        }
        if (plot_ && entry.Sound()) {
            plot_->Add(entry);
        }
    }

    void Report()
    {
        if (damaged_ > 0) {
            Worse(kDamaged);
        }
        if (damaged_ > kDamageWarnings) {
            Warn(Blocks(damaged_) + " damaged in all, each shown with its damage");
        }
        if (selection_.Unplaced() > 0) {
            Warn(Blocks(selection_.Unplaced()) +
                 " with an impossible time stamp left out by --from/--to");
        }
    }

    void PrintSummary()
    {
        if (options_.format != BlockTable::Format::Json) {
            std::fputs(summary_->Text().c_str(), stdout);
            return;
        }
        Json::StreamWriterBuilder writer;
        writer["emitUTF8"] = true;
        writer["precision"] = 15;
        std::fprintf(stdout, "%s\n", Json::writeString(writer, summary_->ToJson()).c_str());
    }

    void Draw()
    {
        std::fflush(stdout);
        const auto& devices = summary_->Devices();
        std::string error;
        if (devices.empty()) {
            error = "no sound block chosen to draw";
        } else if (devices.size() > 1) {
            error = "the blocks chosen are of " + std::to_string(devices.size()) +
                    " data identifiers: choose one with --data-id";
        } else {
            error = DrawPlot(*plot_, devices.begin()->second, *options_.plot);
        }
        if (!error.empty()) {
            Warn("no picture: " + error);
            Worse(kNoOutput);
            return;
        }
        Warn("picture written to " + options_.plot->path);
    }

    const Options& options_;
    HistoryReader reader_;
    Selection selection_;
    std::optional<BlockTable> table_;
    std::optional<Summary> summary_;
    std::optional<PlotData> plot_;
    std::uint64_t damaged_ = 0;
    int status_ = kSound;
};

}  // namespace

int main(int argc, char** argv)
{
    const Options options = ReadOptions(argc, argv);
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof(buffer));
    const int status = Reading(options).Run();
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        Warn(std::string("cannot write the output: ") + std::strerror(errno));
        return std::max(status, kNoOutput);
    }
    return status;
}
