// The order the files are read in: a rotated history's older parts first,
// however they were given.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/smdhist/RotatedOrder.h"

namespace {

using Files = std::vector<std::string>;

TEST(RotatedOrder, PredecessorsGoJustBeforeTheirHistoryOthersKeepTheirPlaces)
{
    struct Case {
        const char* name;
        Files given;
        Files read;
    } cases[] = {
        {"a glob's order", {"st/3001.history", "st/3001.history.1"},
         {"st/3001.history.1", "st/3001.history"}},
        {"in order already", {"3001.history.1", "3001.history"},
         {"3001.history.1", "3001.history"}},
        {"two pairs", {"a.history", "b.history.1", "b.history", "a.history.1"},
         {"a.history.1", "a.history", "b.history.1", "b.history"}},
        {"the highest number first", {"x.history", "x.history.1", "x.history.10", "x.history.9"},
         {"x.history.10", "x.history.9", "x.history.1", "x.history"}},
        {"standard input stays first", {"-", "x.history", "x.history.1"},
         {"-", "x.history.1", "x.history"}},
        {"a predecessor without its history", {"b.history", "a.history.1"},
         {"b.history", "a.history.1"}},
        {"numbers that are no rotation", {"log.2027", "log.2026"}, {"log.2027", "log.2026"}},
        {"a folder's name with a dot", {"st.1/x.history", "st.1/x.history.1"},
         {"st.1/x.history.1", "st.1/x.history"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RotatedOrder(c.given), c.read) << c.name;
    }
}

}  // namespace
