#include "tools/smdhist/Plot.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tools/common/AlarmTexts.h"
#include "tools/smdhist/Gnuplot.h"
#include "tools/smdhist/HistTime.h"
#include "tools/smdhist/OutputFile.h"

namespace {

struct Terminal {
    const char* extension;
    const char* terminal;  // gnuplot's, with the size to fill in
};

constexpr Terminal kTerminals[] = {
    {".svg", "svg size %d,%d font 'sans,10' background rgb 'white'"},
    {".png", "pngcairo size %d,%d font 'sans,9' background rgb 'white'"},
};

// The panels under the alarm strip, top to bottom, by the values' tags.
struct Panel {
    const char* title;
    const char* tags[4];
};

constexpr Panel kPanels[] = {
    {"input voltage", {"DVIA", "DVIB", "DVIC"}},
    {"output voltage", {"DVOA", "DVOB", "DVOC"}},
    {"load", {"DLOA", "DLOB", "DLOC"}},
    {"battery", {"DVBT", "DTMB", "DVBN", "DVBL"}},
    {"temperature", {"DTMP"}},
    {"frequency", {"DHZF"}},
};

constexpr bool EveryValueHasAPanel()
{
    for (const ups_protocol::Field& field : ups_protocol::kDataFields) {
        bool found = false;
        for (const Panel& panel : kPanels) {
            for (const char* tag : panel.tags) {
                found = found || (tag != nullptr && alarm_texts::SameText(tag, field.tag));
            }
        }
        if (!found) {
            return false;
        }
    }
    return true;
}

static_assert(EveryValueHasAPanel(), "every value of the record needs a panel in kPanels");

// Each alarm's colour in the strip and the shading, in the order of the flags.
constexpr const char* kAlarmColours[] = {"#d62728", "#9467bd", "#ff7f0e", "#8c564b", "#1f77b4"};
static_assert(std::size(kAlarmColours) == data_block::kFlags, "a colour for every flag");

// Shading beyond this many intervals would hide the values; the strip keeps them all.
constexpr std::size_t kMostShaded = 200;

// Screen fractions: the title above, the time axis below, the strip's share.
constexpr double kTop = 0.94;
constexpr double kBottom = 0.07;
constexpr double kStripShare = 0.12;
constexpr double kLeft = 0.08;
constexpr double kRight = 0.80;

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

std::string Format(const char* format, double a, double b = 0, double c = 0)
{
    char text[256];
    std::snprintf(text, sizeof(text), format, a, b, c);
    return text;
}

int ColumnOf(const char* tag)
{
    const auto& fields = data_block::ValueFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (alarm_texts::SameText(fields[i]->tag, tag)) {
            return static_cast<int>(i) + 2;
        }
    }
    return 0;
}

std::string AlarmLabel(std::size_t flag)
{
    const char* key = alarm_texts::AlarmOf(flag).signal_key;
    return std::string(key) + " " + alarm_texts::Find(key)->first_text;
}

// The strip's row of a flag: the first flag on top.
std::size_t Row(std::size_t flag) { return data_block::kFlags - flag; }

// The strip's boxes ("centre row half-width colour" per interval) and the
// shading of the panels behind the values.
struct AlarmLayer {
    std::string rows;
    std::string objects;
};

AlarmLayer Alarms(const DeviceSummary& device, std::int64_t span)
{
    std::size_t total = 0;
    for (const auto& intervals : device.Intervals()) {
        total += intervals.size();
    }
    AlarmLayer layer;
    int object = 0;
    for (std::size_t flag = 0; flag < data_block::kFlags; ++flag) {
        const long colour = std::strtol(kAlarmColours[flag] + 1, nullptr, 16);
        for (const DeviceSummary::Interval& interval : device.Intervals()[flag]) {
            const auto start = static_cast<double>(hist_time::WallSeconds(interval.start.stamp));
            const auto end = static_cast<double>(hist_time::WallSeconds(interval.End().stamp));
            // A spell of one block still shows.
            const double half = std::max((end - start) / 2, static_cast<double>(span) / 400);
            const double centre = (start + end) / 2;
            layer.rows += Format("%.1f %.0f %.1f ", centre, static_cast<double>(Row(flag)), half) +
                          std::to_string(colour) + "\n";
            if (total > kMostShaded) {
                continue;
            }
            layer.objects += "set object " + std::to_string(++object) +
                             Format(" rect from %.1f, graph 0 to %.1f, graph 1", centre - half,
                                    centre + half) +
                             " behind fc rgb '" + kAlarmColours[flag] +
                             "' fs transparent solid 0.12 noborder\n";
        }
    }
    return layer;
}

// The time axis' labels, to suit the span.
const char* TimeFormat(std::int64_t span)
{
    constexpr std::int64_t kHour = 3600;
    constexpr std::int64_t kDay = 24 * kHour;
    return span < 3 * kHour ? "%H:%M:%S"
           : span < 2 * kDay ? "%H:%M"
           : span < 60 * kDay ? "%m-%d %H:%M"
                              : "%Y-%m-%d";
}

// The time axis: the stamps' own wall clock.
std::string TimeAxis(std::int64_t first, std::int64_t last)
{
    // gnuplot cannot draw an empty range: a history of a few seconds gets a minute.
    const std::int64_t pad = last - first < 10 ? 30 : 0;
    return "set xdata time\nset timefmt '%s'\n" +
           Format("set xrange ['%.0f':'%.0f']\n", static_cast<double>(first - pad),
                  static_cast<double>(last + pad));
}

std::string Header(const Terminal& terminal, const PlotRequest& request,
                   const DeviceSummary& device)
{
    char size[160];
    std::snprintf(size, sizeof(size), terminal.terminal, request.width, request.height);
    const std::string first = data_block::IsoTime(device.First().stamp);
    const std::string last = data_block::IsoTime(device.Last().stamp);
    return std::string("set terminal ") + size + "\nset output 'plot" + terminal.extension +
           "'\nset encoding utf8\nset datafile missing 'nan'\n" +
           "set lmargin at screen " + Format("%.3f", kLeft) + "\nset rmargin at screen " +
           Format("%.3f", kRight) + "\n" +
           "set key outside right top vertical Left reverse noenhanced samplen 2\n" +
           "set grid xtics ytics lc rgb '#e0e0e0'\n" +
           "set multiplot title 'data id " + std::to_string(device.DataId()) + ": " +
           std::to_string(device.Blocks()) + " blocks, " + first + " to " + last +
           "' noenhanced\n";
}

std::string Place(double top, double bottom)
{
    return Format("set tmargin at screen %.4f\nset bmargin at screen %.4f\n", top, bottom);
}

std::string Strip(double top, double bottom)
{
    std::string tics;
    for (std::size_t flag = 0; flag < data_block::kFlags; ++flag) {
        tics += (flag == 0 ? "" : ", ") + std::string("'") + AlarmLabel(flag) + "' " +
                std::to_string(Row(flag));
    }
    // The rows' labels go right, beside the panels' keys.
    const std::string range = "[0.5:" + std::to_string(data_block::kFlags) + ".5]";
    return Place(top, bottom) + "set format x ''\nunset ytics\nset yrange " + range +
           "\nset y2range " + range + "\nset y2tics (" + tics + ") nomirror noenhanced\n" +
           "plot 'alarms.dat' using 1:2:3:(0.35):4 with boxxyerror lc rgb variable "
           "fs solid 0.8 noborder notitle\n" +
           "unset y2tics\nset ytics\nset autoscale y\n";
}

std::string PanelPlot(const Panel& panel, const DeviceSummary& device)
{
    std::string plot = "plot ";
    bool numbers = false;
    for (const char* tag : panel.tags) {
        if (tag == nullptr) {
            continue;
        }
        const int column = ColumnOf(tag);
        const bool none = device.Ranges()[static_cast<std::size_t>(column - 2)].count == 0;
        numbers = numbers || !none;
        plot += (tag == panel.tags[0] ? "'values.dat'" : ", ''") +
                (" using 1:" + std::to_string(column)) + " with lines lw 1.5 title '" + tag +
                (none ? ": no number'" : "'");
    }
    // gnuplot refuses to scale an axis to no points at all.
    return std::string("set ylabel '") + panel.title + "'\n" +
           (numbers ? "" : "set yrange [0:1]\n") + plot + "\nset autoscale y\n";
}

std::string Script(const Terminal& terminal, const PlotRequest& request, const PlotData& data,
                   const DeviceSummary& device, const std::string& objects)
{
    const std::int64_t first = data.Earliest();
    const std::int64_t last = data.Latest();
    std::string script = Header(terminal, request, device) + TimeAxis(first, last) + objects;
    constexpr double kSpace = 0.012;
    const double strip = (kTop - kBottom) * kStripShare;
    const double height = (kTop - kBottom - strip) / std::size(kPanels) - kSpace;
    script += Strip(kTop, kTop - strip);
    double top = kTop - strip - kSpace;
    for (const Panel& panel : kPanels) {
        if (&panel == &kPanels[std::size(kPanels) - 1]) {
            script += std::string("set format x '") + TimeFormat(last - first) +
                      "' timedate\nset xlabel 'local time of the stamps'\n";
        }
        script += Place(top, top - height) + PanelPlot(panel, device);
        top -= height + kSpace;
    }
    return script + "unset multiplot\n";
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
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
    if (!gnuplot::Found()) {
        return gnuplot::Missing();
    }
    PrivateDir dir;
    if (dir.Path().empty()) {
        return dir.Error();
    }
    const std::int64_t span = data.Latest() - data.Earliest();
    const AlarmLayer alarms = Alarms(device, std::max<std::int64_t>(span, 60));
    std::string error = WritePrivateFile(dir.Path() + "/plot.gp",
                                         Script(*terminal, request, data, device, alarms.objects));
    if (error.empty()) {
        error = WritePrivateFile(dir.Path() + "/alarms.dat", alarms.rows);
    }
    if (error.empty()) {
        error = WritePrivateFile(dir.Path() + "/values.dat", data.Rows(device.Gaps().Threshold()));
    }
    if (error.empty()) {
        error = gnuplot::Run(dir.Path(), "plot.gp");
    }
    if (!error.empty()) {
        return error;
    }
    return WritePicture(request.path,
                        ReadWhole(dir.Path() + "/plot" + terminal->extension),
                        request.accept_shared);
}
