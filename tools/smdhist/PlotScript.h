#pragma once

#include <string>

#include "tools/smdhist/DeviceSummary.h"
#include "tools/smdhist/PlotData.h"

// What the picture is drawn on: gnuplot's terminal and the file it writes.
struct PlotCanvas {
    std::string terminal;  // with its size: "svg size 1200,1000 font 'sans,10' ..."
    std::string picture;   // the file gnuplot writes, in its working folder
    int width = 0;         // in pixels
    int height = 0;
};

// The gnuplot script, with its data, that draws one device's history: a strip
// with each alarm flag's intervals, and under it panels of values over a
// shared time axis with the alarms shaded behind them.
std::string PlotScript(const PlotData& data, const DeviceSummary& device,
                       const PlotCanvas& canvas);
