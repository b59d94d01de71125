#include "tools/smdhist/PlotScript.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>

#include "tools/common/AlarmTexts.h"
#include "tools/common/Plural.h"
#include "tools/smdhist/PlotAxis.h"

namespace {

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
constexpr std::size_t kMostSeries = std::size(kPanels[0].tags);

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

// Each alarm's colour, in the order of the flags: its bar in full, its shading pale.
constexpr unsigned kAlarmColours[] = {0xd62728, 0x9467bd, 0xff7f0e, 0x8c564b, 0x1f77b4};
static_assert(std::size(kAlarmColours) == data_block::kFlags, "a colour for every flag");

// The series of a panel: each its colour and dash pattern, so lines that lie
// on one another still show.
constexpr const char* kLineColours[] = {"#000000", "#009e73", "#c51b7d", "#0072b2"};
static_assert(std::size(kLineColours) == kMostSeries, "a line style for every series");

// Shading beyond this many stretches would hide the values; the strip keeps them all.
constexpr std::size_t kMostShaded = 200;

// The layout in pixels: the labels need their room whatever the picture's size.
constexpr int kTitle = 34;       // above the strip; one more line per note
constexpr int kNoteLine = 14;
constexpr int kTimeAxis = 46;    // the time labels and the axis' name
constexpr int kLeft = 76;        // the value labels
constexpr int kRight = 236;      // the keys and the alarms' names
constexpr int kStripRow = 16;    // per alarm
constexpr int kSpace = 8;        // between panels

std::string Format(const char* format, double a, double b = 0, double c = 0, double d = 0)
{
    char text[256];
    std::snprintf(text, sizeof(text), format, a, b, c, d);
    return text;
}

std::string Rgb(unsigned colour)
{
    char text[16];
    std::snprintf(text, sizeof(text), "#%06x", colour);
    return text;
}

// The colour mixed with white: the shading of an alarm whose bar has `colour`.
unsigned Pale(unsigned colour)
{
    unsigned pale = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const unsigned channel = colour >> shift & 0xff;
        pale |= (channel + (255 - channel) * 4 / 5) << shift;
    }
    return pale;
}

std::size_t ValueIndex(const char* tag)
{
    const auto& fields = data_block::ValueFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (alarm_texts::SameText(fields[i]->tag, tag)) {
            return i;
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

struct Layout {
    int width;
    int height;
    int top;  // of the strip, from the picture's top
    int strip;
    int panel;

    double X(int pixels) const { return static_cast<double>(pixels) / width; }
    double Y(int from_top) const { return 1.0 - static_cast<double>(from_top) / height; }
};

Layout LayoutOf(const PlotCanvas& canvas, std::size_t notes)
{
    Layout layout{canvas.width, canvas.height, kTitle + kNoteLine * static_cast<int>(notes),
                  kStripRow * static_cast<int>(data_block::kFlags), 0};
    const int panels = static_cast<int>(std::size(kPanels));
    layout.panel =
        (layout.height - layout.top - layout.strip - kTimeAxis - kSpace * panels) / panels;
    return layout;
}

std::string Place(const Layout& layout, int top, int bottom)
{
    return Format("set tmargin at screen %.5f\nset bmargin at screen %.5f\n", layout.Y(top),
                  layout.Y(bottom));
}

std::string Header(const PlotCanvas& canvas, const DeviceSummary& device,
                   const std::vector<std::string>& notes, const Layout& layout)
{
    std::string title = "data id " + std::to_string(device.DataId()) + ": " +
                        Counted(device.Blocks(), "block") + ", " +
                        data_block::IsoTime(device.First().stamp, device.First().utc_offset) +
                        " to " + data_block::IsoTime(device.Last().stamp, device.Last().utc_offset);
    for (const std::string& note : notes) {
        title += "\\n" + note;
    }
    return "set terminal " + canvas.terminal + "\nset output '" + canvas.picture +
           "'\nset encoding utf8\nset datafile missing 'nan'\n" +
           Format("set lmargin at screen %.5f\nset rmargin at screen %.5f\n", layout.X(kLeft),
                  layout.X(layout.width - kRight)) +
           "set key outside right top vertical Left reverse noenhanced samplen 3 spacing 0.9\n" +
           "set grid xtics ytics lc rgb '#e0e0e0'\nunset ylabel\n" +
           "set multiplot title \"" + title + "\" noenhanced\n";
}

std::string DataBlock(const std::string& name, const std::string& rows)
{
    return "$" + name + " << EOD\n" + rows + "EOD\n";
}

// The strip: each flag's spells as bars in the alarm's colour, stopping at
// gaps; a spell of one block is `least_half` seconds either side of it.
std::string Strip(const Layout& layout, const PlotData& data, std::int64_t gap, double least_half)
{
    std::string rows;
    for (std::size_t flag = 0; flag < data_block::kFlags; ++flag) {
        for (const PlotData::Span& spell : data.Alarm(flag, gap)) {
            const double half =
                std::max(static_cast<double>(spell.to - spell.from) / 2, least_half);
            const double centre = static_cast<double>(spell.from + spell.to) / 2;
            rows += Format("%.1f %.0f %.1f ", centre, static_cast<double>(Row(flag)), half) +
                    std::to_string(kAlarmColours[flag]) + "\n";
        }
    }
    std::string tics;
    for (std::size_t flag = 0; flag < data_block::kFlags; ++flag) {
        tics += (flag == 0 ? "" : ", ") + std::string("'") + AlarmLabel(flag) + "' " +
                std::to_string(Row(flag));
    }
    const std::string range = "[0.5:" + std::to_string(data_block::kFlags) + ".5]";
    // Rows with no bar at all still need a point for gnuplot to draw the strip.
    return DataBlock("alarms", rows.empty() ? "0 0 0 0\n" : rows) +
           Place(layout, layout.top, layout.top + layout.strip) +
           "set format x ''\nunset ytics\nset yrange " + range + "\nset y2range " + range +
           "\nset y2tics (" + tics + ") nomirror noenhanced\nunset key\n" +
           "plot $alarms using 1:2:3:(0.35):4 with boxxyerror lc rgb variable "
           "fs solid 1.0 noborder notitle\n" +
           "unset y2tics\nset key\n";
}

// The panels' shading: each stretch with alarms on, in bands of each alarm's
// pale colour (one band per alarm on, the first flag on top), so colours
// never blend into one no alarm has; a stretch of one block is `least_half`
// seconds either side of it.
std::string Shading(const PlotData& data, std::int64_t gap, double least_half,
                    std::vector<std::string>& notes)
{
    const std::vector<PlotData::Span> sets = data.AlarmSets(gap);
    std::size_t bands = 0;
    for (const PlotData::Span& set : sets) {
        bands += static_cast<std::size_t>(__builtin_popcount(set.flags));
    }
    if (bands > kMostShaded) {
        notes.push_back("alarms shaded in the strip only: " + std::to_string(sets.size()) +
                        " changes are too many to shade");
        return "";
    }
    std::string objects;
    int object = 0;
    for (const PlotData::Span& set : sets) {
        const int count = __builtin_popcount(set.flags);
        const double widen = std::max(0.0, least_half - static_cast<double>(set.to - set.from) / 2);
        int band = 0;
        for (std::size_t flag = 0; flag < data_block::kFlags; ++flag) {
            if ((set.flags & 1u << flag) == 0) {
                continue;
            }
            const double top = 1.0 - static_cast<double>(band) / count;
            const double bottom = 1.0 - static_cast<double>(band + 1) / count;
            objects += "set object " + std::to_string(++object) +
                       Format(" rect from %.1f, graph %.4f to %.1f, graph %.4f",
                              static_cast<double>(set.from) - widen, bottom,
                              static_cast<double>(set.to) + widen, top) +
                       " behind fc rgb '" + Rgb(Pale(kAlarmColours[flag])) +
                       "' fs solid 1.0 noborder\n";
            ++band;
        }
    }
    return objects;
}

// The greatest difference between two series over the buckets; nothing when
// one of them has a number where the other has none.
std::optional<double> Apart(const std::vector<PlotData::Bucket>& buckets, std::size_t a,
                            std::size_t b)
{
    double apart = 0;
    for (const PlotData::Bucket& bucket : buckets) {
        for (const auto* values : {&bucket.min, &bucket.max}) {
            const float x = (*values)[a];
            const float y = (*values)[b];
            if (std::isfinite(x) != std::isfinite(y)) {
                return std::nullopt;
            }
            if (std::isfinite(x)) {
                apart = std::max(apart, std::fabs(static_cast<double>(x) - y));
            }
        }
    }
    return apart;
}

// A panel's series as lines, and as points where blocks stand alone between
// gaps (`lone`: the $lone rows are there).
std::string PanelPlot(const Panel& panel, const DeviceSummary& device,
                      const std::vector<PlotData::Bucket>& buckets, int pixels, bool lone)
{
    std::vector<std::size_t> series;
    double low = INFINITY;
    double high = -INFINITY;
    for (const char* tag : panel.tags) {
        if (tag == nullptr) {
            continue;
        }
        series.push_back(ValueIndex(tag));
        const DeviceSummary::Range& range = device.Ranges()[series.back()];
        if (range.count > 0 && std::isfinite(range.min) && std::isfinite(range.max)) {
            low = std::min(low, static_cast<double>(range.min));
            high = std::max(high, static_cast<double>(range.max));
        }
    }
    std::string script = std::string("set key title '") + panel.title + "'\n";
    if (low > high) {
        // No number at all: gnuplot refuses to scale an axis to no points.
        script += "set yrange [0:1]\nunset ytics\n";
    } else {
        const plot_axis::ValueAxis axis = plot_axis::ValueAxisFor(low, high, pixels);
        script += Format("set yrange [%.12g:%.12g]\n", axis.low, axis.high) + "set ytics " +
                  axis.tics + "\n";
    }
    // Lines closer than a pixel and a half are one line at this scale: the key says so.
    const double pixel = plot_axis::ValuesPerPixel(low, high, pixels);
    std::string plot = "plot ";
    for (std::size_t i = 0; i < series.size(); ++i) {
        const char* tag = panel.tags[i];
        std::string title = tag;
        if (device.Ranges()[series[i]].count == 0) {
            title += ": no number";
        }
        for (std::size_t j = 0; j < i; ++j) {
            const std::optional<double> apart = Apart(buckets, series[i], series[j]);
            if (apart && device.Ranges()[series[i]].count > 0 && *apart <= 1.5 * pixel) {
                title += *apart == 0 ? std::string(" = ") + panel.tags[j]
                                     : std::string(" on ") + panel.tags[j] +
                                           Format(" ±%.2g", *apart);
                break;
            }
        }
        const std::string column = std::to_string(series[i] + 2);
        plot += (i == 0 ? "" : ", ") + std::string("$values using 1:") + column +
                " with lines lw " + (i == 0 ? "2" : "1.5") + " dt " + std::to_string(i + 1) +
                " lc rgb '" + kLineColours[i] + "' title '" + title + "'";
        if (lone) {
            plot += ", $lone using 1:" + column + " with points pt 7 ps 0.6 lc rgb '" +
                    kLineColours[i] + "' notitle";
        }
    }
    return script + plot + "\n";
}

// The time axis's name: the stamps' wall clock, or, when their offset changes
// within the picture (a clock change), the offset the times are shown at.
std::string TimeLabel(const PlotData& data)
{
    if (!data.OffsetChanges()) {
        return "wall-clock time of the stamps";
    }
    const long minutes = std::labs(data.Offset()) / 60;
    char label[96];
    std::snprintf(label, sizeof(label), "time at UTC%c%02ld:%02ld, the offset of the first block",
                  data.Offset() < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return label;
}

}  // namespace

std::string PlotScript(const PlotData& data, const DeviceSummary& device, const PlotCanvas& canvas)
{
    const std::int64_t gap = device.Gaps().Threshold();
    const std::int64_t first = data.Earliest();
    const std::int64_t last = data.Latest();
    const std::int64_t pad = plot_axis::TimePad(first, last);
    std::vector<std::string> notes;
    if (data.Backwards() > 0) {
        notes.push_back("the clock went back " + std::to_string(data.Backwards()) +
                        (data.Backwards() == 1 ? " time" : " times") +
                        ": the blocks are drawn in time order");
    }
    // A lone block's bar and shading: two pixels either side.
    const double least_half = 2.0 * static_cast<double>(last - first + 2 * pad) /
                              (canvas.width - kLeft - kRight);
    const std::string shading = Shading(data, gap, least_half, notes);
    const Layout layout = LayoutOf(canvas, notes.size());
    const std::string lone = data.LoneRows(gap);
    const std::vector<PlotData::Bucket> buckets = data.InTimeOrder();
    const std::string time_tics =
        plot_axis::TimeTics(first - pad, last + pad, layout.width - kLeft - kRight);
    std::string script = DataBlock("values", data.Rows(gap)) +
                         (lone.empty() ? "" : DataBlock("lone", lone)) +
                         Header(canvas, device, notes, layout) +
                         Format("set xrange [%.0f:%.0f]\n", static_cast<double>(first - pad),
                                static_cast<double>(last + pad)) +
                         time_tics +
                         Strip(layout, data, gap, least_half) +
                         shading;
    int top = layout.top + layout.strip + kSpace;
    for (const Panel& panel : kPanels) {
        if (&panel == &kPanels[std::size(kPanels) - 1]) {
            script += time_tics + "set xlabel '" + TimeLabel(data) + "'\n";
        }
        script += Place(layout, top, top + layout.panel) +
                  PanelPlot(panel, device, buckets, layout.panel, !lone.empty());
        top += layout.panel + kSpace;
    }
    return script + "unset multiplot\n";
}

