#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/CommandLine.h"
#include "tools/smdhist/BlockTable.h"
#include "tools/smdhist/Plot.h"
#include "tools/smdhist/Selection.h"
#include "tools/smdhist/TimeSeries.h"

// What the history tool was asked to do on its command line.
struct HistOptions {
    std::vector<std::string> files;  // "-" is standard input
    BlockTable::Format format = BlockTable::Format::Text;
    std::optional<TimeSeries::Format> series;  // instead of the table
    bool summary = false;
    bool follow = false;
    Selection::Choice choice;
    std::optional<std::int64_t> gap;
    std::optional<PlotRequest> plot;
};

// The history tool's options, each defined once.
const command_line::Program& HistProgram();

// Reads the command line; a mistake ends the program with status 2. A zone
// given with --zone is the process's from then on (TZ).
HistOptions ReadHistOptions(int argc, char** argv);
