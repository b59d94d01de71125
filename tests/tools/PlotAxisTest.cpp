// The picture's axes: round steps, ranges padded off the frame, at least two
// labelled ticks however small the panel, a constant series with its one
// value, and time labels that do not overprint.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tools/smdhist/PlotAxis.h"

namespace {

using namespace plot_axis;

TEST(PlotAxis, StepsAreOneTwoTwoAndAHalfOrFiveTimesAPowerOfTen)
{
    struct Case {
        double range;
        int most;
        double step;
    } cases[] = {
        {10, 5, 2},     {10, 4, 2.5},  {10, 10, 1},   {10, 3, 5},        {10, 1, 10},
        {290, 3, 100},  {0.232, 4, 0.1}, {0.03, 3, 0.01}, {7e-8, 5, 2e-8}, {1e9, 2, 5e8},
        {10, 0, 10},  // no room is room for one step
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(NiceStep(c.range, c.most), c.step) << c.range << " in " << c.most;
    }
}

TEST(PlotAxis, ARangeIsPaddedByAnEighthOfATenthOnEachSideWithRoundTicks)
{
    const ValueAxis axis = ValueAxisFor(0, 250, 100);
    EXPECT_DOUBLE_EQ(axis.low, -20);
    EXPECT_DOUBLE_EQ(axis.high, 270);
    EXPECT_EQ(axis.tics, "('0' 0, '100' 100, '200' 200)");
}

TEST(PlotAxis, APanelTooLowForTwoTicksGetsFinerSteps)
{
    // One tick's room: steps of 0.5 and 0.2 give one tick each in 219.88 to 220.12.
    const ValueAxis axis = ValueAxisFor(219.9, 220.1, 20);
    EXPECT_EQ(axis.tics, "('219.9' 219.9, '220.0' 220, '220.1' 220.1)");
}

TEST(PlotAxis, TicksShowTheirStepsDecimalsAndZeroWithoutASign)
{
    // Steps of 0.1 from -0.3 pass zero by a rounding error: shown as 0.0.
    const ValueAxis axis = ValueAxisFor(-0.3, 0.3, 7 * 26);
    EXPECT_EQ(axis.tics, "('-0.3' -0.3, '-0.2' -0.2, '-0.1' -0.1, '0.0' 0, '0.1' 0.1, "
                         "'0.2' 0.2, '0.3' 0.3)");
    // Past six decimals, or from 1e7 on, the labels are short: steps of a
    // millionth or less were each labelled 0.
    EXPECT_EQ(ValueAxisFor(1e-8, 3e-8, 100).tics, "('1e-08' 1e-08, '2e-08' 2e-08, '3e-08' 3e-08)");
    EXPECT_EQ(ValueAxisFor(0, 4e-6, 60).tics, "('0' 0, '2.5e-06' 2.5e-06)");
    EXPECT_EQ(ValueAxisFor(0, 3e7, 100).tics, "('0' 0, '2e+07' 20000000)");
}

TEST(PlotAxis, AConstantSeriesGetsItsOneValue)
{
    struct Case {
        double value;
        double low;
        double high;
        const char* tics;
    } cases[] = {
        {28.5, 28.5 - 1.425, 28.5 + 1.425, "('28.5' 28.5)"},  // 5 % either side
        {0, -1, 1, "('0' 0)"},                                 // at least 1
        {229.8f, 229.8f - 229.8f * 0.05, 229.8f + 229.8f * 0.05, "('229.8' 229.800003)"},
    };
    for (const Case& c : cases) {
        const ValueAxis axis = ValueAxisFor(c.value, c.value, 100);
        EXPECT_DOUBLE_EQ(axis.low, c.low) << c.value;
        EXPECT_DOUBLE_EQ(axis.high, c.high) << c.value;
        EXPECT_EQ(axis.tics, c.tics) << c.value;
    }
    EXPECT_EQ(ValuesPerPixel(28.5, 28.5, 100), 0);
    EXPECT_DOUBLE_EQ(ValuesPerPixel(0, 100, 116), 1);
}

TEST(PlotAxis, TheTimeAxisHasRoomOnEitherSide)
{
    EXPECT_EQ(TimePad(1000, 1000), 30);
    EXPECT_EQ(TimePad(1000, 1009), 30);
    EXPECT_EQ(TimePad(1000, 1010), 1);
    EXPECT_EQ(TimePad(0, 86400), 864);
}

TEST(PlotAxis, TimeLabelsTakeTheSmallestStepThatDoesNotOverprint)
{
    struct Case {
        std::int64_t low;
        std::int64_t high;
        int pixels;
        const char* tics;
    } cases[] = {
        // A label of %H:%M:%S needs 86 pixels: a minute over 1000 pixels has six.
        {1003, 1063, 1000, "set xtics 1010, 10\nset format x '%H:%M:%S' timedate\n"},
        {1003, 1063, 6000, "set xtics 1003, 1\nset format x '%H:%M:%S' timedate\n"},
        {0, 86400, 900, "set xtics 0, 7200\nset format x '%H:%M' timedate\n"},
        {0, 86400, 400, "set xtics 0, 21600\nset format x '%d %H:%M' timedate\n"},
        // Beyond the longest step, the longest.
        {0, 100 * 31536000LL, 100, "set xtics 0, 31536000\nset format x '%Y' timedate\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TimeTics(c.low, c.high, c.pixels), c.tics) << c.low << " to " << c.high;
    }
}

}  // namespace
