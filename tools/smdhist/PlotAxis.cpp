#include "tools/smdhist/PlotAxis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "tools/common/DataBlock.h"

namespace plot_axis {

namespace {

// The share of a panel's range added above and below its values.
constexpr double kPad = 0.08;
// The least room in pixels between two value labels.
constexpr int kTickSpacing = 26;
// The width in pixels of a character of the time labels.
constexpr int kCharWidth = 7;

std::string Number(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

// A number as a tick label with `decimals` after the point.
std::string TickText(double value, int decimals)
{
    char text[64];
    if (std::fabs(value) >= 1e7 || decimals > 6) {
        std::snprintf(text, sizeof(text), "%.4g", value);
    } else {
        std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    }
    return text;
}

// The decimals that show every multiple of `step`; 7 for more than six.
int DecimalsOf(double step)
{
    int decimals = 0;
    for (; decimals <= 6; ++decimals) {
        const double scaled = step * std::pow(10.0, decimals);
        // A step below a millionth is no whole number of its decimals yet.
        if (std::round(scaled) != 0 && std::fabs(scaled - std::round(scaled)) <= 1e-6) {
            break;
        }
    }
    return decimals;
}

// The ticks of `step` from `low` to `high`, and how many there are.
std::string Ticks(double low, double high, double step, int& count)
{
    const int decimals = DecimalsOf(step);
    std::string tics;
    count = 0;
    for (double tick = std::ceil(low / step) * step; tick <= high; tick += step) {
        const double shown = std::fabs(tick) < step * 1e-9 ? 0.0 : tick;
        tics += (tics.empty() ? "" : ", ") + ("'" + TickText(shown, decimals) + "' ") +
                Number("%.12g", shown);
        ++count;
    }
    return tics;
}

struct TimeStep {
    std::int64_t seconds;
    const char* format;
};

constexpr TimeStep kTimeSteps[] = {
    {1, "%H:%M:%S"},        {2, "%H:%M:%S"},      {5, "%H:%M:%S"},       {10, "%H:%M:%S"},
    {15, "%H:%M:%S"},       {30, "%H:%M:%S"},     {60, "%H:%M"},         {120, "%H:%M"},
    {300, "%H:%M"},         {600, "%H:%M"},       {900, "%H:%M"},        {1800, "%H:%M"},
    {3600, "%H:%M"},        {7200, "%H:%M"},      {10800, "%d %H:%M"},   {21600, "%d %H:%M"},
    {43200, "%m-%d %H:%M"}, {86400, "%m-%d"},     {172800, "%m-%d"},     {604800, "%m-%d"},
    {1209600, "%Y-%m-%d"},  {2592000, "%Y-%m-%d"}, {7776000, "%Y-%m-%d"}, {31536000, "%Y"},
};

}  // namespace

double NiceStep(double range, int most)
{
    const double rough = range / std::max(1, most);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double mantissa : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        if (mantissa * power >= rough) {
            return mantissa * power;
        }
    }
    return 10 * power;
}

ValueAxis ValueAxisFor(double low, double high, int pixels)
{
    ValueAxis axis;
    if (low == high) {
        const double pad = std::max(std::fabs(low) * 0.05, 1.0);
        axis.low = low - pad;
        axis.high = high + pad;
        axis.tics = "('" + data_block::ValueText(static_cast<float>(low)) + "' " +
                    Number("%.9g", low) + ")";
        return axis;
    }
    const double pad = (high - low) * kPad;
    axis.low = low - pad;
    axis.high = high + pad;
    // Twice as many allowed, up to three times over, until two ticks fit.
    int most = std::max(1, pixels / kTickSpacing);
    std::string tics;
    for (int tries = 0; tries < 4; ++tries, most *= 2) {
        int count = 0;
        tics = Ticks(axis.low, axis.high, NiceStep(axis.high - axis.low, most), count);
        if (count >= 2) {
            break;
        }
    }
    axis.tics = "(" + tics + ")";
    return axis;
}

double ValuesPerPixel(double low, double high, int pixels)
{
    return low >= high ? 0 : (high - low) * (1 + 2 * kPad) / pixels;
}

std::int64_t TimePad(std::int64_t first, std::int64_t last)
{
    return last - first < 10 ? 30 : std::max<std::int64_t>(1, (last - first) / 100);
}

std::string TimeTics(std::int64_t low, std::int64_t high, int pixels)
{
    for (const TimeStep& step : kTimeSteps) {
        const int label = static_cast<int>(std::string(step.format).size() + 2) * kCharWidth + 16;
        const double count = static_cast<double>(high - low) / static_cast<double>(step.seconds);
        if (count * label <= pixels || &step == &kTimeSteps[std::size(kTimeSteps) - 1]) {
            const std::int64_t first = (low + step.seconds - 1) / step.seconds * step.seconds;
            return "set xtics " + std::to_string(first) + ", " + std::to_string(step.seconds) +
                   "\nset format x '" + step.format + "' timedate\n";
        }
    }
    return "";
}

}  // namespace plot_axis
