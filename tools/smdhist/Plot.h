#pragma once

#include <string>

#include "tools/smdhist/DeviceSummary.h"
#include "tools/smdhist/PlotData.h"

// The picture of one device's history, drawn by gnuplot: panels of values
// over a shared time axis, a strip with each alarm flag's intervals, and the
// intervals shaded across the panels.
struct PlotRequest {
    std::string path;  // ends in .svg or .png
    int width = 1200;
    int height = 1000;
    bool accept_shared = false;  // a folder others can write to is refused unless accepted
};

// True when the path names a picture format the plot is drawn in.
bool PlotFormatKnown(const std::string& path);

// Draws the picture into request.path. Answers what went wrong (gnuplot
// missing names the package to install), or an empty text.
std::string DrawPlot(const PlotData& data, const DeviceSummary& device,
                     const PlotRequest& request);
