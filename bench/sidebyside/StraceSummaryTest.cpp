#include "bench/sidebyside/StraceSummary.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// A table as strace 6.1 writes it with -c -f, and what else may come with it.
const char* const kSummary =
    "strace: Process 4242 attached\n"
    "% time     seconds  usecs/call     calls    errors syscall\n"
    "------ ----------- ----------- --------- --------- ----------------\n"
    " 72.76    0.006126        3063         2         1 wait4\n"
    "  7.13    0.000600          14        41        19 openat\n"
    "  0.86    0.000072          18      2150           clock_nanosleep\n"
    "\n"
    "------ ----------- ----------- --------- --------- ----------------\n"
    "100.00    0.008419          38      2193        20 total\n";

TEST(StraceSummary, reads_the_calls_of_each_row_with_or_without_errors_and_the_total)
{
    std::istringstream in(kSummary);
    const auto calls = ReadStraceSummary(in);
    EXPECT_EQ(calls, (std::map<std::string, long>{
                         {"wait4", 2}, {"openat", 41}, {"clock_nanosleep", 2150}, {"total", 2193}}));
}

TEST(StraceSummary, passes_over_what_is_no_row_of_the_table)
{
    std::istringstream in(
        "strace: Process 1 detached\n"
        "nothing 1 2 3 here\n"
        "  1.00    0.1    x    4    read\n"
        " 12.5 0.1 3 7 extra words here\n");
    EXPECT_TRUE(ReadStraceSummary(in).empty());
}

}  // namespace
