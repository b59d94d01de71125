#pragma once

#include <string>

#include "tools/smdhist/DeviceSummary.h"
#include "tools/smdhist/PlotData.h"

// The picture of one device's history as a file: drawn by gnuplot from the
// script of PlotScript.h, or that script itself.
struct PlotRequest {
    std::string path;  // ends in .svg, .png, or .gp for the script alone
    int width = 1200;
    int height = 1000;
    bool accept_shared = false;  // a folder others can write to is refused unless accepted
};

// The smallest picture in which no label overprints another or is cut.
struct PlotSize {
    int width;
    int height;
};
constexpr PlotSize kSmallestPlot{640, 720};

// True when the path names a picture format the plot is drawn in.
bool PlotFormatKnown(const std::string& path);

// Draws the picture into request.path (for a .gp path, writes the gnuplot
// script with its data, which draws the .svg of the same name). Answers what
// went wrong (gnuplot missing names the package to install), or an empty text.
std::string DrawPlot(const PlotData& data, const DeviceSummary& device,
                     const PlotRequest& request);
