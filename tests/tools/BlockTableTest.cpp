// The table's rows: JSON that a strict reader takes, an infinity named in it,
// and text columns that stand apart however wide a value is.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>

#include <json/reader.h>

#include "tests/support/HistoryMaker.h"
#include "tests/tools/HistFixtures.h"
#include "tools/smdhist/BlockTable.h"

namespace {

using history_maker::Stored;

// The rows a table of `format` writes for `stored`.
std::string RowOf(const Stored& stored, BlockTable::Format format)
{
    Written out;
    {
        BlockTable table(out.File(), format, false);
        table.Add(EntryOf(stored, 1));
        table.Flush();
    }
    return out.Text();
}

class Rows : public StampsTwoHoursEast {};

// JSON has no number for an infinity: it is the word the table shows, as a
// string, and what is no number is null.
TEST_F(Rows, JsonHoldsOnlyWhatJsonCan)
{
    Stored stored;
    stored.values = {{"DHZF", INFINITY}, {"DVIA", -INFINITY}, {"DTMP", NAN}, {"DVBT", 54.6f}};
    const std::string line = RowOf(stored, BlockTable::Format::Json);
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    Json::Value row;
    std::string errors;
    std::istringstream in(line);
    ASSERT_TRUE(Json::parseFromStream(builder, in, &row, &errors)) << errors << line;
    EXPECT_EQ(row["values"]["DHZF"], "inf");
    EXPECT_EQ(row["values"]["DVIA"], "-inf");
    EXPECT_TRUE(row["values"]["DTMP"].isNull());
    EXPECT_EQ(row["values"]["DVBT"].asFloat(), 54.6f);
}

// Five flags and fifteen values after the number, stamp and data id.
TEST_F(Rows, TextColumnsStandApartWhateverTheWidth)
{
    Stored stored;
    stored.data_id = 1651663207;
    for (const auto& field : ups_protocol::kDataFields) {
        stored.values[field.tag] = -3.4028235e38f;
    }
    const std::string text = RowOf(stored, BlockTable::Format::Text);
    std::istringstream row(text.substr(text.find('\n') + 1));
    std::size_t cells = 0;
    for (std::string cell; row >> cell;) {
        ++cells;
    }
    EXPECT_EQ(cells, 3 + 5 + 15u) << text;
}

}  // namespace
