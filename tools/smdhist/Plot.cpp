#include "tools/smdhist/Plot.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "tools/smdhist/Gnuplot.h"
#include "tools/smdhist/OutputFile.h"
#include "tools/smdhist/PlotScript.h"

namespace {

struct Terminal {
    const char* extension;
    const char* terminal;     // gnuplot's, with the size to fill in
    const char* picture;      // the extension of what gnuplot writes
    bool script_only;         // the script is the output
};

constexpr Terminal kTerminals[] = {
    {".svg", "svg size %d,%d font 'sans,10' background rgb 'white'", ".svg", false},
    {".png", "pngcairo size %d,%d font 'sans,9' background rgb 'white'", ".png", false},
    {".gp", "svg size %d,%d font 'sans,10' background rgb 'white'", ".svg", true},
};

const Terminal* TerminalOf(const std::string& path)
{
    for (const Terminal& terminal : kTerminals) {
        const std::string extension = terminal.extension;
        if (path.size() > extension.size() &&
            path.compare(path.size() - extension.size(), extension.size(), extension) == 0) {
            return &terminal;
        }
    }
    return nullptr;
}

// What gnuplot draws on for `request`, into the file `picture`.
PlotCanvas CanvasOf(const Terminal& terminal, const PlotRequest& request,
                    const std::string& picture)
{
    char size[160];
    std::snprintf(size, sizeof(size), terminal.terminal, request.width, request.height);
    return {size, picture, request.width, request.height};
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Basename(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool PlotFormatKnown(const std::string& path) { return TerminalOf(path) != nullptr; }

std::string DrawPlot(const PlotData& data, const DeviceSummary& device,
                     const PlotRequest& request)
{
    const Terminal* terminal = TerminalOf(request.path);
    if (terminal == nullptr) {
        return "no picture format for " + request.path;
    }
    if (terminal->script_only) {
        // The script draws the .svg beside itself.
        const std::string name = Basename(request.path);
        const std::string svg = name.substr(0, name.size() - 3) + terminal->picture;
        return WritePicture(request.path,
                            PlotScript(data, device, CanvasOf(*terminal, request, svg)),
                            request.accept_shared);
    }
    if (!gnuplot::Found()) {
        return gnuplot::Missing();
    }
    PrivateDir dir;
    if (dir.Path().empty()) {
        return dir.Error();
    }
    const std::string picture = std::string("plot") + terminal->picture;
    std::string error = WritePrivateFile(
        dir.Path() + "/plot.gp", PlotScript(data, device, CanvasOf(*terminal, request, picture)));
    if (error.empty()) {
        error = gnuplot::Run(dir.Path(), "plot.gp");
    }
    if (!error.empty()) {
        return error;
    }
    return WritePicture(request.path, ReadWhole(dir.Path() + "/" + picture),
                        request.accept_shared);
}
