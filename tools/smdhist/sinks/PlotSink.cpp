#include "tools/smdhist/sinks/PlotSink.h"

#include <cstdio>

#include "tools/common/Diagnostics.h"

PlotSink::PlotSink(const PlotRequest& request, std::optional<std::int64_t> gap_threshold)
    : request_(request), summary_(gap_threshold)
{
}

void PlotSink::Take(const Entry& entry)
{
    took_ = true;
    summary_.Add(entry);
    if (entry.Sound()) {
        data_.Add(entry);
    }
}

std::string PlotSink::Refusal() const
{
    const auto& devices = summary_.Devices();
    if (devices.empty()) {
        return "no sound block chosen to draw";
    }
    if (devices.size() == 1) {
        return "";
    }
    std::string ids;
    for (const auto& device : devices) {
        ids += (ids.empty() ? "" : ", ") + std::to_string(device.first);
    }
    return "the blocks chosen are of " + std::to_string(devices.size()) + " data identifiers (" +
           ids + "): choose one with --data-id";
}

int PlotSink::Finish()
{
    // What was written goes out before gnuplot runs.
    std::fflush(stdout);
    summary_.Finish();
    if (!took_) {
        return exit_status::kSuccess;
    }
    std::string error = Refusal();
    if (error.empty()) {
        error = DrawPlot(data_, summary_.Devices().begin()->second, request_);
    }
    if (!error.empty()) {
        diagnostics::Error("no picture: " + error);
        return exit_status::smdhist::kNoOutput;
    }
    diagnostics::Note("picture written to " + request_.path);
    return exit_status::kSuccess;
}
