// The names a database holds a UPS's series under: dashboards and queries
// are written against them, so each is fixed here, and each is a name
// OpenMetrics and the line protocol take.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tools/common/DataBlock.h"
#include "tools/common/MetricNames.h"

namespace {

using namespace metric_names;

TEST(MetricNames, EveryValueAndFlagHasItsOwnFixedName)
{
    const std::vector<std::string> values = {"dvia", "dvib", "dvic", "dvoa", "dvob",
                                             "dvoc", "dloa", "dlob", "dloc", "dtmp",
                                             "dhzf", "dvbt", "dtmb", "dvbn", "dvbl"};
    const std::vector<std::string> flags = {"sok", "sbp", "suf", "sbl", "sbm"};
    ASSERT_EQ(values.size(), data_block::kValues);
    ASSERT_EQ(flags.size(), data_block::kFlags);
    std::set<std::string> families;
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(ValueKey(i), values[i]);
        EXPECT_EQ(ValueFamily(i), "ups_" + values[i]);
        families.insert(ValueFamily(i));
    }
    for (std::size_t i = 0; i < flags.size(); ++i) {
        EXPECT_EQ(FlagKey(i), flags[i]);
        EXPECT_EQ(FlagFamily(i), "ups_alarm_" + flags[i]);
        families.insert(FlagFamily(i));
    }
    EXPECT_EQ(families.size(), values.size() + flags.size());
    for (const std::string& family : families) {
        EXPECT_EQ(family.find_first_not_of("abcdefghijklmnopqrstuvwxyz_"), std::string::npos)
            << family;
    }
}

}  // namespace
