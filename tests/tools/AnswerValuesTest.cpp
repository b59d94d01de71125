// The values the module stores as its conversion reads them and the bench
// host names: a value only in part a number, and one that is no finite
// number; every other value goes unnamed.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/UpsAnswers.h"
#include "tools/smdhost/AnswerValues.h"

namespace {

struct Value {
    std::string text;  // DVIA's
    std::string said;
};

TEST(AnswerValues, PartNumbersAndNonFiniteValuesAreNamedWithWhatWasStored)
{
    const std::vector<Value> values = {
        {"230.5", ""},
        {" 230.5", ""},
        {"0x1p3", ""},
        {"230.5V", R"v(DVIA "230.5V" stored as 230.5 (only "230.5" of it is a number))v"},
        {"2#?", R"v(DVIA "2#?" stored as 2 (only "2" of it is a number))v"},
        {"230,5", R"v(DVIA "230,5" stored as 230 (only "230" of it is a number))v"},
        {std::string("230.5\0x", 7),
         R"v(DVIA "230.5\x00x" stored as 230.5 (only "230.5" of it is a number))v"},
        {"nan", R"v(DVIA "nan" stored as nan (no finite number))v"},
        {"NAN(123)", R"v(DVIA "NAN(123)" stored as nan (no finite number))v"},
        {"-Infinity", R"v(DVIA "-Infinity" stored as -inf (no finite number))v"},
        {"infinite", R"v(DVIA "infinite" stored as inf (only "inf" of it is a number, and no )v"
                     R"v(finite one))v"},
    };
    for (const Value& value : values) {
        std::vector<ups_answers::Line> lines = ups_answers::DataLines(ups_answers::OnLine());
        lines[0].value = value.text;
        EXPECT_EQ(answer_values::Unusual(ups_answers::Join(lines)), value.said) << value.text;
    }
}

}  // namespace
