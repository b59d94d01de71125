#pragma once

#include <cstdint>
#include <optional>

#include "tools/smdhist/Plot.h"
#include "tools/smdhist/PlotData.h"
#include "tools/smdhist/Summary.h"
#include "tools/smdhist/sinks/Sink.h"

// The picture of the chosen blocks, drawn once they are all read: of one data
// identifier's sound blocks, its gaps and ranges taken from their summary.
class PlotSink : public Sink {
public:
    PlotSink(const PlotRequest& request, std::optional<std::int64_t> gap_threshold);

    void Take(const Entry& entry) override;
    // Nothing when no block was chosen: the reading says why.
    int Finish() override;

private:
    // What keeps the chosen blocks from being drawn; empty when nothing does.
    std::string Refusal() const;

    PlotRequest request_;
    Summary summary_;
    PlotData data_;
    bool took_ = false;
};
