#pragma once

#include <cstdint>
#include <string>

// The picture's axes: the values' range and ticks in each panel, the time
// axis's labels, and the room on either side of what is drawn.
namespace plot_axis {

// A panel's range of values, padded so that no line lies on the frame, and
// its ticks as gnuplot's list: ('230' 230, '240' 240).
struct ValueAxis {
    double low = 0;
    double high = 1;
    std::string tics;
};

// A step of 1, 2, 2.5 or 5 times a power of ten that gives at most `most`
// steps over `range`.
double NiceStep(double range, int most);

// The axis of values from `low` to `high` in a panel `pixels` high: the range
// padded by 8 % on each side and as many ticks as the panel has room for
// (never fewer than two); a constant series gets its one value as the tick.
ValueAxis ValueAxisFor(double low, double high, int pixels);

// How much of the values one pixel spans on that axis; 0 for a constant
// series. Lines closer than about this are one line at the panel's scale.
double ValuesPerPixel(double low, double high, int pixels);

// The seconds drawn on either side of the stamps from `first` to `last`: 1 %
// of the span, and half a minute for a span of a few seconds (gnuplot cannot
// draw an empty range).
std::int64_t TimePad(std::int64_t first, std::int64_t last);

// gnuplot's commands for the time labels from `low` to `high` across
// `pixels`: the smallest step of a round number of seconds at which the
// labels do not overprint, its first label at a multiple of it.
std::string TimeTics(std::int64_t low, std::int64_t high, int pixels);

}  // namespace plot_axis
