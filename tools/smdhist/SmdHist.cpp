// smdhist: reads back the blocks a device stored (its history or its cache
// file) as a table, CSV or JSON, as a summary of what happened, as a picture
// over time, or for a time-series database.
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/common/Diagnostics.h"
#include "tools/common/ExitStatus.h"
#include "tools/common/Plural.h"
#include "tools/smdhist/HistOptions.h"
#include "tools/smdhist/HistoryReader.h"
#include "tools/smdhist/RotatedOrder.h"
#include "tools/smdhist/Selection.h"
#include "tools/smdhist/sinks/PlotSink.h"
#include "tools/smdhist/sinks/SeriesSink.h"
#include "tools/smdhist/sinks/SummarySink.h"
#include "tools/smdhist/sinks/TableSink.h"

namespace {

using exit_status::kSuccess;
using namespace exit_status::smdhist;

// Damaged blocks named one by one on standard error; the rest are counted.
constexpr std::uint64_t kDamageWarnings = 10;

volatile std::sig_atomic_t g_stop = 0;

void Stop(int) { g_stop = 1; }

// A follower ends on SIGINT or SIGTERM as if its file had ended.
void StopOnSignals()
{
    struct sigaction action {};
    action.sa_handler = Stop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// The outputs asked for, in the order they finish: the table or the time
// series (unless the summary or only the picture was asked for), the summary,
// the picture.
std::vector<std::unique_ptr<Sink>> SinksFor(const HistOptions& options)
{
    std::vector<std::unique_ptr<Sink>> sinks;
    if (options.series) {
        sinks.push_back(std::make_unique<SeriesSink>(stdout, *options.series));
    } else if (!options.summary && (!options.plot || options.format != BlockTable::Format::Text)) {
        sinks.push_back(
            std::make_unique<TableSink>(stdout, options.format, options.files.size() > 1));
    }
    if (options.summary) {
        sinks.push_back(std::make_unique<SummarySink>(
            stdout, options.format == BlockTable::Format::Json, options.gap));
    }
    if (options.plot) {
        sinks.push_back(std::make_unique<PlotSink>(*options.plot, options.gap));
    }
    return sinks;
}

// "the last 40 bytes (from byte 228) are no whole block and were ignored",
// "the last byte (from byte 267) is ... was ignored": the bytes at a file's
// end that `what` (after the verb) says they are not.
std::string LastBytes(std::uint64_t count, std::uint64_t from, const std::string& what)
{
    const bool one = count == 1;
    return "the last " + (one ? std::string("byte") : std::to_string(count) + " bytes") +
           " (from byte " + std::to_string(from) + ") " + (one ? "is " : "are ") + what +
           (one ? " and was ignored" : " and were ignored");
}

// The bytes skipped, as the user is told: lost or inserted where whole blocks
// go on, or something else where nothing whole follows to the file's end.
std::string SkipText(const std::string& file, const BlockStream::Skip& skip)
{
    const std::uint64_t count = skip.to - skip.from;
    if (skip.to_end) {
        return file + ": " + LastBytes(count, skip.from, "not a block") +
               ": something else written into the history?";
    }
    return file + ": bytes " + std::to_string(skip.from) + " to " + std::to_string(skip.to - 1) +
           " hold no whole block: " + Counted(count, "byte") +
           " skipped (lost or inserted); whole blocks go on at byte " + std::to_string(skip.to);
}

// One reading of the files: each block read is checked, chosen or not, and
// handed to the outputs asked for.
class Reading {
public:
    explicit Reading(const HistOptions& options)
        : options_(options),
          sinks_(SinksFor(options)),
          selection_(options.choice, [this](const Entry& e) { Take(e); }),
          reader_(Listener())
    {
    }

    int Run()
    {
        for (std::size_t i = 0; i < options_.files.size(); ++i) {
            const bool follow = options_.follow && i + 1 == options_.files.size();
            ReadFile(options_.files[i], follow);
        }
        selection_.Finish();
        Report();
        for (const auto& sink : sinks_) {
            Worse(sink->Finish());
        }
        Flush();
        return status_;
    }

private:
    void Worse(int status) { status_ = std::max(status_, status); }

    HistoryReader::Listener Listener()
    {
        HistoryReader::Listener listener;
        listener.block = [this](Entry& entry) {
            if (!entry.Sound() && ++damaged_ <= kDamageWarnings) {
                diagnostics::Warning(Where(entry) + " is damaged: " + entry.damage);
            }
            selection_.Offer(entry);
        };
        listener.skip = [this](const std::string& file, const BlockStream::Skip& skip) {
            diagnostics::Warning(SkipText(file, skip));
            for (const auto& sink : sinks_) {
                sink->Skipped(skip.to - skip.from);
            }
            Worse(kDamaged);
        };
        listener.torn = [this](const std::string& file, std::uint64_t size, std::uint64_t torn) {
            diagnostics::Warning(file + ": " + LastBytes(torn, size - torn, "no whole block") +
                                 ": a write cut short?");
            Worse(kDamaged);
        };
        listener.note = [](const std::string& text) { diagnostics::Note(text); };
        listener.idle = [this] {
            selection_.Finish();
            Flush();
        };
        return listener;
    }

    void ReadFile(const std::string& file, bool follow)
    {
        const HistoryReader::Report report = follow ? reader_.Follow(file, g_stop) : reader_.Read(file);
        switch (report.outcome) {
        case HistoryReader::Outcome::Unreadable:
            diagnostics::Error(file + ": cannot read: " + report.error);
            Worse(kUnreadable);
            return;
        case HistoryReader::Outcome::Empty:
            diagnostics::Warning(file + (report.size == 0 ? ": empty: no block stored yet"
                                          : ": no whole block: " + std::to_string(report.size) +
                                                " bytes, and a block is 76"));
            Worse(kEmpty);
            return;
        case HistoryReader::Outcome::Read: break;
        }
    }

    void Take(const Entry& entry)
    {
        for (const auto& sink : sinks_) {
            sink->Take(entry);
        }
    }

    // What was written so far goes out: at the end, and while following.
    void Flush()
    {
        for (const auto& sink : sinks_) {
            Worse(sink->Flush());
        }
        std::fflush(stdout);
    }

    void Report()
    {
        if (damaged_ > 0) {
            Worse(kDamaged);
        }
        if (damaged_ > kDamageWarnings) {
            diagnostics::Warning(Counted(damaged_, "block") +
                                 " damaged in all, each shown with its damage");
        }
        if (selection_.Unplaced() > 0) {
            diagnostics::Warning(Counted(selection_.Unplaced(), "block") +
                                 " with an impossible time stamp left out by --from/--to");
        }
        for (const auto& sink : sinks_) {
            sink->Report();
        }
        if (selection_.Offered() > 0 && selection_.Chosen() == 0) {
            diagnostics::Note("nothing chosen: " + selection_.NothingChosen());
            Worse(kNothingChosen);
        }
    }

    const HistOptions& options_;
    std::vector<std::unique_ptr<Sink>> sinks_;
    Selection selection_;
    HistoryReader reader_;
    std::uint64_t damaged_ = 0;
    int status_ = kSuccess;
};

// A rotated history given newer part first (as a glob gives it) is read
// older part first, and the user told so.
void OlderPartsFirst(std::vector<std::string>& files)
{
    std::vector<std::string> order = RotatedOrder(files);
    if (order == files) {
        return;
    }
    std::string list;
    for (const std::string& file : order) {
        list += (list.empty() ? "" : ", then ") + file;
    }
    diagnostics::Note("reading " + list + ": a rotated history's older part first");
    files = std::move(order);
}

}  // namespace

int main(int argc, char** argv)
{
    HistOptions options = ReadHistOptions(argc, argv);
    OlderPartsFirst(options.files);
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof(buffer));
    if (options.follow) {
        StopOnSignals();
    }
    const int status = Reading(options).Run();
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        diagnostics::Error(std::string("cannot write the output: ") + std::strerror(errno));
        return std::max(status, kNoOutput);
    }
    return status;
}
