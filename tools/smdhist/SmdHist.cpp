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
#include <optional>
#include <string>
#include <vector>

#include <json/writer.h>

#include "tools/common/Diagnostics.h"
#include "tools/common/ExitStatus.h"
#include "tools/smdhist/BlockTable.h"
#include "tools/smdhist/HistOptions.h"
#include "tools/smdhist/HistoryReader.h"
#include "tools/smdhist/Plot.h"
#include "tools/smdhist/PlotData.h"
#include "tools/smdhist/Selection.h"
#include "tools/smdhist/Summary.h"
#include "tools/smdhist/TimeSeries.h"

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

std::string Blocks(std::uint64_t count)
{
    return std::to_string(count) + (count == 1 ? " block" : " blocks");
}

// One reading of the files: each block read is checked, chosen or not, and
// handed to the outputs asked for.
class Reading {
public:
    explicit Reading(const HistOptions& options)
        : options_(options),
          selection_(options.choice, [this](const Entry& e) { Take(e); }),
          reader_(Listener())
    {
        if (options.series) {
            series_.emplace(stdout, *options.series);
        } else if (!options.summary && (!options.plot || options.format != BlockTable::Format::Text)) {
            // The table, unless the summary or only the picture was asked for.
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
        for (std::size_t i = 0; i < options_.files.size(); ++i) {
            const bool follow = options_.follow && i + 1 == options_.files.size();
            ReadFile(options_.files[i], follow);
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
            diagnostics::Warning(file + ": bytes " + std::to_string(skip.from) + " to " +
                                 std::to_string(skip.to - 1) + " hold no whole block: " +
                                 std::to_string(skip.to - skip.from) +
                                 " bytes skipped (lost or inserted); whole blocks go on at byte " +
                                 std::to_string(skip.to));
            if (summary_) {
                summary_->Skipped(skip.to - skip.from);
            }
            Worse(kDamaged);
        };
        listener.torn = [this](const std::string& file, std::uint64_t size, std::uint64_t torn) {
            diagnostics::Warning(file + ": the last " + std::to_string(torn) + " bytes (from byte " +
                                 std::to_string(size - torn) +
                                 ") are no whole block and were ignored: a write cut short?");
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
        if (table_) {
            table_->Add(entry);
        }
        if (series_) {
            series_->Add(entry);
        }
        if (summary_) {
            summary_->Add(entry);
        }
        if (plot_ && entry.Sound()) {
            plot_->Add(entry);
        }
    }

    // What was written so far goes out: at the end, and while following.
    void Flush()
    {
        if (table_) {
            table_->Flush();
        }
        if (series_) {
            const std::string error = series_->Flush();
            if (!error.empty() && !series_failed_) {
                diagnostics::Error("no time series: " + error);
                series_failed_ = true;
                Worse(kNoOutput);
            }
        }
        std::fflush(stdout);
    }

    void Report()
    {
        if (damaged_ > 0) {
            Worse(kDamaged);
        }
        if (damaged_ > kDamageWarnings) {
            diagnostics::Warning(Blocks(damaged_) + " damaged in all, each shown with its damage");
        }
        if (selection_.Unplaced() > 0) {
            diagnostics::Warning(Blocks(selection_.Unplaced()) +
                                 " with an impossible time stamp left out by --from/--to");
        }
        if (series_ && series_->Damaged() > 0) {
            diagnostics::Warning(Blocks(series_->Damaged()) +
                                 " damaged, left out of the time series");
        }
        if (series_ && series_->OutOfOrder() > 0) {
            diagnostics::Warning(Blocks(series_->OutOfOrder()) +
                                 " stamped at or before an earlier block of their data id (the "
                                 "clock was set back) left out: a series takes its times in order");
        }
        if (selection_.Offered() > 0 && selection_.Chosen() == 0) {
            diagnostics::Note("nothing chosen: " + selection_.NothingChosen());
            Worse(kNothingChosen);
        }
    }

    void PrintSummary()
    {
        if (selection_.Chosen() == 0) {
            return;
        }
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
        if (selection_.Chosen() == 0) {
            return;
        }
        const auto& devices = summary_->Devices();
        std::string error;
        if (devices.empty()) {
            error = "no sound block chosen to draw";
        } else if (devices.size() > 1) {
            std::string ids;
            for (const auto& device : devices) {
                ids += (ids.empty() ? "" : ", ") + std::to_string(device.first);
            }
            error = "the blocks chosen are of " + std::to_string(devices.size()) +
                    " data identifiers (" + ids + "): choose one with --data-id";
        } else {
            error = DrawPlot(*plot_, devices.begin()->second, *options_.plot);
        }
        if (!error.empty()) {
            diagnostics::Error("no picture: " + error);
            Worse(kNoOutput);
            return;
        }
        diagnostics::Note("picture written to " + options_.plot->path);
    }

    const HistOptions& options_;
    Selection selection_;
    HistoryReader reader_;
    std::optional<BlockTable> table_;
    std::optional<TimeSeries> series_;
    std::optional<Summary> summary_;
    std::optional<PlotData> plot_;
    std::uint64_t damaged_ = 0;
    bool series_failed_ = false;
    int status_ = kSuccess;
};

}  // namespace

int main(int argc, char** argv)
{
    const HistOptions options = ReadHistOptions(argc, argv);
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
