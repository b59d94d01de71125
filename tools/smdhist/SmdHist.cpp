// smdhist: reads back the blocks a device stored (its history or its cache
// file) as a table, CSV or JSON, as a summary of what happened, or as a
// picture over time.
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

#include "tools/common/Diagnostics.h"
#include "tools/common/ExitStatus.h"
#include "tools/smdhist/BlockTable.h"
#include "tools/smdhist/HistOptions.h"
#include "tools/smdhist/HistTime.h"
#include "tools/smdhist/HistoryReader.h"
#include "tools/smdhist/Plot.h"
#include "tools/smdhist/PlotData.h"
#include "tools/smdhist/Selection.h"
#include "tools/smdhist/Summary.h"

namespace {

using exit_status::kSuccess;
using namespace exit_status::smdhist;

// Damaged blocks named one by one on standard error; the rest are counted.
constexpr std::uint64_t kDamageWarnings = 10;

std::string Blocks(std::uint64_t count)
{
    return std::to_string(count) + (count == 1 ? " block" : " blocks");
}

// One reading of the files: each block read is checked, chosen or not, and
// handed to the outputs asked for.
class Reading {
public:
    explicit Reading(const HistOptions& options)
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
                diagnostics::Warning(Where(entry) + " is damaged: " + entry.damage);
            }
            selection_.Offer(entry);
        });
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
        if (report.torn_bytes > 0) {
            diagnostics::Warning(file + ": the last " + std::to_string(report.torn_bytes) + " bytes (from byte " +
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
            diagnostics::Warning(Blocks(damaged_) + " damaged in all, each shown with its damage");
        }
        if (selection_.Unplaced() > 0) {
            diagnostics::Warning(Blocks(selection_.Unplaced()) +
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
            diagnostics::Error("no picture: " + error);
            Worse(kNoOutput);
            return;
        }
        diagnostics::Note("picture written to " + options_.plot->path);
    }

    const HistOptions& options_;
    HistoryReader reader_;
    Selection selection_;
    std::optional<BlockTable> table_;
    std::optional<Summary> summary_;
    std::optional<PlotData> plot_;
    std::uint64_t damaged_ = 0;
    int status_ = kSuccess;
};

}  // namespace

int main(int argc, char** argv)
{
    const HistOptions options = ReadHistOptions(argc, argv);
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof(buffer));
    const int status = Reading(options).Run();
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        diagnostics::Error(std::string("cannot write the output: ") + std::strerror(errno));
        return std::max(status, kNoOutput);
    }
    return status;
}
