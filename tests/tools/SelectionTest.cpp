// The blocks chosen by --from/--to, --data-id and --last, in the order read,
// and what is said when none is.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/HistoryMaker.h"
#include "tests/tools/HistFixtures.h"
#include "tools/smdhist/Selection.h"

namespace {

using history_maker::Stored;

// 2026-03-01T10:00:00+02:00
constexpr std::int64_t kTen = 1772352000;

// Five blocks of data id 42 with block 3 of data id 7, and block 6 damaged
// with an impossible stamp (no time: a range cannot place it).
std::vector<Entry> Read()
{
    const ttime stamps[] = {{2026, 3, 1, 10, 0, 0},  {2026, 3, 1, 10, 0, 30},
                            {2026, 3, 1, 10, 1, 0},  {2026, 3, 1, 10, 1, 59},
                            {2026, 3, 2, 9, 0, 0},   {2026, 2, 30, 10, 0, 0}};
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < std::size(stamps); ++i) {
        Stored stored;
        stored.stamp = stamps[i];
        stored.data_id = i == 2 ? 7 : 42;
        entries.push_back(EntryOf(stored, i + 1));
    }
    return entries;
}

// What a selection made of the blocks Read(): the numbers it passed on
// before Finish and at it, and what it counted.
struct Chosen {
    std::vector<std::uint64_t> before_finish;
    std::vector<std::uint64_t> at_finish;
    std::uint64_t unplaced = 0;
    std::uint64_t offered = 0;
    std::uint64_t chosen = 0;
    std::string nothing_chosen;
};

Chosen Choose(const Selection::Choice& choice)
{
    Chosen chosen;
    std::vector<std::uint64_t>* into = &chosen.before_finish;
    Selection selection(choice, [&into](const Entry& entry) { into->push_back(entry.number); });
    for (Entry& entry : Read()) {
        selection.Offer(entry);
    }
    into = &chosen.at_finish;
    selection.Finish();
    chosen.unplaced = selection.Unplaced();
    chosen.offered = selection.Offered();
    chosen.chosen = selection.Chosen();
    chosen.nothing_chosen = selection.NothingChosen();
    return chosen;
}

class Choosing : public StampsTwoHoursEast {};

TEST_F(Choosing, EachChoicePassesItsBlocksInTheOrderRead)
{
    struct Case {
        const char* name;
        Selection::Choice choice;
        std::vector<std::uint64_t> passed;
        bool at_finish;  // --last holds the blocks until the reading ends
        std::uint64_t unplaced;
    } cases[] = {
        {"everything", {}, {1, 2, 3, 4, 5, 6}, false, 0},
        {"from", {kTen + 60, {}, {}, {}}, {3, 4, 5}, false, 1},
        {"to", {{}, kTen + 60, {}, {}}, {1, 2, 3}, false, 1},
        {"from and to", {kTen + 30, kTen + 60, {}, {}}, {2, 3}, false, 1},
        {"one second", {kTen + 119, kTen + 119, {}, {}}, {4}, false, 1},
        {"data id", {{}, {}, 7, {}}, {3}, false, 0},
        // A damaged block keeps its data id: it is shown with its damage.
        {"the other data id", {{}, {}, 42, {}}, {1, 2, 4, 5, 6}, false, 0},
        {"last", {{}, {}, {}, 2}, {5, 6}, true, 0},
        {"last of a data id", {{}, {}, 7, 2}, {3}, true, 0},
        {"last of a range", {{}, kTen + 60, {}, 1}, {3}, true, 1},
        {"more than there are", {{}, {}, {}, 100}, {1, 2, 3, 4, 5, 6}, true, 0},
        {"nothing in range", {kTen + 86400 * 2, {}, {}, {}}, {}, false, 1},
    };
    for (const Case& c : cases) {
        const Chosen chosen = Choose(c.choice);
        EXPECT_EQ(c.at_finish ? chosen.at_finish : chosen.before_finish, c.passed) << c.name;
        EXPECT_TRUE((c.at_finish ? chosen.before_finish : chosen.at_finish).empty()) << c.name;
        EXPECT_EQ(chosen.unplaced, c.unplaced) << c.name;
        EXPECT_EQ(chosen.offered, 6u) << c.name;
    }
}

// A follower shows the last N and then each new block as it comes.
TEST_F(Choosing, AfterFinishTheLastBlocksPassAtOnce)
{
    std::vector<std::uint64_t> passed;
    Selection selection({{}, {}, {}, 2},
                        [&](const Entry& entry) { passed.push_back(entry.number); });
    std::vector<Entry> entries = Read();
    for (std::size_t i = 0; i < 4; ++i) {
        selection.Offer(entries[i]);
    }
    EXPECT_TRUE(passed.empty());
    selection.Finish();
    EXPECT_EQ(passed, (std::vector<std::uint64_t>{3, 4}));
    selection.Offer(entries[4]);
    EXPECT_EQ(passed, (std::vector<std::uint64_t>{3, 4, 5}));
    selection.Finish();
    EXPECT_EQ(selection.Chosen(), 5u);
}

TEST_F(Choosing, NothingChosenSaysWhatWasAskedAndWhatWasRead)
{
    struct Case {
        Selection::Choice choice;
        const char* said;
    } cases[] = {
        {{{}, {}, 9, {}}, "no block of data id 9; the data ids read: 7, 42"},
        {{kTen + 86400 * 2, {}, {}, {}},
         "no block stamped at 2026-03-03T10:00:00+02:00 or later; the blocks read run from "
         "2026-03-01T10:00:00+02:00 to 2026-03-02T09:00:00+02:00"},
        {{{}, kTen - 1, {}, {}},
         "no block stamped at 2026-03-01T09:59:59+02:00 or earlier; the blocks read run from "
         "2026-03-01T10:00:00+02:00 to 2026-03-02T09:00:00+02:00"},
        {{kTen + 1, kTen + 29, {}, {}},
         "no block stamped from 2026-03-01T10:00:01+02:00 to 2026-03-01T10:00:29+02:00; the "
         "blocks read run from 2026-03-01T10:00:00+02:00 to 2026-03-02T09:00:00+02:00"},
        // The range of the data id asked for, not of every block read.
        {{{}, kTen + 59, 7, {}},
         "no block of data id 7 stamped at 2026-03-01T10:00:59+02:00 or earlier; the blocks "
         "read run from 2026-03-01T10:01:00+02:00 to 2026-03-01T10:01:00+02:00"},
    };
    for (const Case& c : cases) {
        const Chosen chosen = Choose(c.choice);
        EXPECT_EQ(chosen.chosen, 0u) << c.said;
        EXPECT_EQ(chosen.nothing_chosen, c.said);
    }
}

TEST_F(Choosing, NothingChosenNamesTwentyDataIdsAndSaysThereAreMore)
{
    Selection selection({{}, {}, 1000, {}}, [](const Entry&) {});
    for (std::uint32_t id = 30; id > 0; --id) {
        Stored stored;
        stored.data_id = id;
        Entry entry = EntryOf(stored, 31 - id);
        selection.Offer(entry);
    }
    EXPECT_EQ(selection.NothingChosen(),
              "no block of data id 1000; the data ids read: 11, 12, 13, 14, 15, 16, 17, 18, 19, "
              "20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30 and more");
    Selection damaged_only({{}, {}, 1000, {}}, [](const Entry&) {});
    Stored bad;
    bad.flags[0] = 3;
    Entry entry = EntryOf(bad, 1);
    damaged_only.Offer(entry);
    EXPECT_EQ(damaged_only.NothingChosen(), "no block of data id 1000; no sound block was read");
}

}  // namespace
