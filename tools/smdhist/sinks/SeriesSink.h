#pragma once

#include <cstdio>

#include "tools/smdhist/TimeSeries.h"
#include "tools/smdhist/sinks/Sink.h"

// The blocks for a time-series database (OpenMetrics or InfluxDB line
// protocol), with a warning and a status for the blocks and values a series
// cannot take.
class SeriesSink : public Sink {
public:
    SeriesSink(std::FILE* out, TimeSeries::Format format) : series_(out, format) {}

    void Take(const Entry& entry) override { series_.Add(entry); }
    // The first error is told once; the output stays failed.
    int Flush() override;
    void Report() override;
    // Blocks or values left out make the status kLeftOut.
    int Finish() override;

private:
    TimeSeries series_;
    bool failed_ = false;
};
