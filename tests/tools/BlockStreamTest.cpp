// A history's bytes cut into blocks: bytes lost or inserted cost only the
// blocks they touch, with the bytes skipped named exactly; a stream cut
// anywhere reads as the whole; damage where a block stands is shown with it,
// and what is no block at all is skipped once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/HistoryMaker.h"
#include "tests/tools/HistFixtures.h"
#include "tools/smdhist/BlockStream.h"

namespace {

using history_maker::Bytes;
using history_maker::Stored;
using history_maker::Twelve;

constexpr std::size_t kBlock = data_block::kSize;
constexpr std::size_t kWhole = 0;  // a piece size: the bytes at once

// The bytes skipped, each stretch [from, to).
using Skips = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

// What a stream handed on: its blocks, the bytes it skipped, and the bytes
// after its last whole block.
struct Streamed {
    std::vector<Entry> blocks;
    Skips skips;
    std::vector<bool> to_end;  // of each skip: nothing whole followed it
    std::uint64_t torn = 0;

    // The minutes of the sound blocks: which of Twelve() were read.
    std::vector<int> SoundMinutes() const
    {
        std::vector<int> minutes;
        for (const Entry& entry : blocks) {
            if (entry.Sound()) {
                minutes.push_back(entry.block.time_stamp.minute);
            }
        }
        return minutes;
    }
};

// What a stream hands on from `bytes` fed in pieces of `piece` bytes.
Streamed Stream(const std::string& bytes, std::size_t piece = kWhole)
{
    Streamed streamed;
    std::uint64_t number = 1;
    BlockStream stream(
        &kHistoryFile, number, [&](Entry& entry) { streamed.blocks.push_back(entry); },
        [&](const BlockStream::Skip& skip) {
            streamed.skips.emplace_back(skip.from, skip.to);
            streamed.to_end.push_back(skip.to_end);
        });
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t step = piece == kWhole ? bytes.size() : piece;
    for (std::size_t at = 0; at < bytes.size(); at += step) {
        stream.Feed(data + at, std::min(step, bytes.size() - at));
    }
    streamed.torn = stream.Finish();
    return streamed;
}

// Holes or inserted bytes of 1 to 75 bytes at three places of one history: at
// the start of a block, in its values, in its stamp. Every block they do not
// touch is read (the one between the first two damages too), each skip is
// exactly the bytes from the first block touched to where whole blocks go on,
// and nothing is left over at the end; fed at once or a few bytes at a time.
TEST(BlockStreamDamage, HolesOrInsertedBytesCostOnlyTheBlocksTheyTouch)
{
    const std::string whole = Bytes(Twelve());
    const std::size_t places[] = {2 * kBlock, 4 * kBlock + 30, 8 * kBlock + 70};
    for (std::size_t size = 1; size < kBlock; ++size) {
        for (const bool hole : {true, false}) {
            std::string bytes = whole;
            std::set<int> touched;
            Skips skips;
            std::ptrdiff_t shift = 0;  // of the offsets after a damage
            for (const std::size_t at : places) {
                const std::size_t first = at / kBlock;
                // The blocks it touches, and where the next whole one starts afterwards.
                const std::size_t next = hole ? (at + size + kBlock - 1) / kBlock
                                              : first + (at % kBlock == 0 ? 0 : 1);
                for (std::size_t i = first; i < next; ++i) {
                    touched.insert(static_cast<int>(i));
                }
                const auto from = static_cast<std::uint64_t>(
                    static_cast<std::ptrdiff_t>(first * kBlock) + shift);
                const auto moved = static_cast<std::ptrdiff_t>(size);
                shift += hole ? -moved : moved;
                skips.push_back({from, static_cast<std::uint64_t>(
                                           static_cast<std::ptrdiff_t>(next * kBlock) + shift)});
            }
            for (auto at = std::rbegin(places); at != std::rend(places); ++at) {
                hole ? bytes.erase(*at, size) : bytes.insert(*at, size, '\xee');
            }
            std::vector<int> untouched;
            for (int i = 0; i < 12; ++i) {
                if (touched.count(i) == 0) {
                    untouched.push_back(i);
                }
            }
            for (const std::size_t piece : {kWhole, std::size_t{7}, std::size_t{1}}) {
                const std::string where = (hole ? "holes of " : "inserts of ") +
                                          std::to_string(size) + ", pieces of " +
                                          std::to_string(piece);
                const Streamed streamed = Stream(bytes, piece);
                EXPECT_EQ(streamed.SoundMinutes(), untouched) << where;
                EXPECT_EQ(streamed.skips, skips) << where;
                EXPECT_EQ(streamed.torn, 0u) << where;
            }
        }
    }
}

TEST(BlockStreamDamage, ABlockDamagedWhereItStandsIsHandedOnWithItsDamage)
{
    std::vector<Stored> blocks = Twelve();
    blocks[4].flags[2] = 9;
    blocks[5].stamp.month = 13;
    blocks[5].flags[1] = 7;
    const Streamed streamed = Stream(Bytes(blocks));
    ASSERT_EQ(streamed.blocks.size(), 12u);
    EXPECT_TRUE(streamed.skips.empty());
    EXPECT_EQ(streamed.blocks[4].damage, "flag SUF is 9");
    EXPECT_EQ(streamed.blocks[5].damage,
              "flag SBP is 7; impossible time stamp 2026-13-01T10:05:00");
    EXPECT_EQ(streamed.SoundMinutes(), (std::vector<int>{0, 1, 2, 3, 6, 7, 8, 9, 10, 11}));
}

// `size` bytes of text: something else written into a history.
std::string Junk(std::size_t size)
{
    std::string text;
    while (text.size() < size) {
        text += "garbage written by a careless script; ";
    }
    return text.substr(0, size);
}

// Junk appended to a history, or whole blocks' worth of it between blocks,
// reads as no block at all (its data id is no device's): one skip, never rows
// of garbage; a block of the device damaged where it stands, the last one or
// a cache's only one, is shown with its damage.
TEST(BlockStreamDamage, WhatIsNoBlockIsSkippedOnceAndDamagedBlocksAreShown)
{
    const std::string history = Bytes(Twelve());
    std::vector<Stored> damaged_last = Twelve();
    damaged_last[11].flags[0] = 9;
    Stored damaged_cache;
    damaged_cache.stamp.month = 13;
    const std::uint64_t end = history.size();
    struct Case {
        const char* name;
        std::string bytes;
        Skips skips;
        std::vector<bool> to_end;
        std::size_t damaged;
        std::size_t sound;
        std::uint64_t torn;
    } cases[] = {
        {"junk appended", history + Junk(200), {{end, end + 200}}, {true}, 0, 12, 0},
        {"junk of two blocks between blocks",
         std::string(history).insert(4 * kBlock, Junk(2 * kBlock)), {{4 * kBlock, 6 * kBlock}},
         {false}, 0, 12, 0},
        {"junk alone", Junk(200), {{0, 200}}, {true}, 0, 0, 0},
        {"junk shorter than a block appended", history + Junk(40), {}, {}, 0, 12, 40},
        {"the last block damaged", Bytes(damaged_last), {}, {}, 1, 11, 0},
        {"a cache's one block damaged", Bytes(damaged_cache), {}, {}, 1, 0, 0},
    };
    for (const Case& c : cases) {
        for (const std::size_t piece : {kWhole, std::size_t{1}}) {
            const Streamed streamed = Stream(c.bytes, piece);
            EXPECT_EQ(streamed.skips, c.skips) << c.name;
            EXPECT_EQ(streamed.to_end, c.to_end) << c.name;
            EXPECT_EQ(streamed.blocks.size() - streamed.SoundMinutes().size(), c.damaged) << c.name;
            EXPECT_EQ(streamed.SoundMinutes().size(), c.sound) << c.name;
            EXPECT_EQ(streamed.torn, c.torn) << c.name;
        }
    }
}

// With nothing sound before the damage, reading goes on at a run of blocks in
// time order; a clock set back just after the damage delays that run, and the
// blocks before it are read too.
TEST(BlockStreamDamage, AClockSetBackAfterDamageAtTheStartLosesNoBlock)
{
    std::vector<Stored> blocks = Twelve();
    blocks[3].stamp.minute = 1;  // the clock set back: minutes 0 1 2 1 4 5 ...
    std::string bytes = Bytes(blocks);
    bytes.erase(10, 30);  // in block 0
    const Streamed streamed = Stream(bytes);
    EXPECT_EQ(streamed.SoundMinutes(), (std::vector<int>{1, 2, 1, 4, 5, 6, 7, 8, 9, 10, 11}));
    EXPECT_EQ(streamed.skips, (Skips{{0, kBlock - 30}}));
}

// Every piece size from a byte to a block, as a pipe or a file still being
// written hands them on: the same blocks at the same offsets, numbered alike.
TEST(BlockStreamPieces, AStreamCutAnywhereReadsAsTheWhole)
{
    const std::string bytes = Bytes(Twelve());
    const Streamed whole = Stream(bytes);
    ASSERT_EQ(whole.blocks.size(), 12u);
    for (std::size_t piece = 1; piece <= kBlock; ++piece) {
        const Streamed cut = Stream(bytes, piece);
        ASSERT_EQ(cut.blocks.size(), whole.blocks.size()) << piece;
        for (std::size_t i = 0; i < whole.blocks.size(); ++i) {
            EXPECT_EQ(cut.blocks[i].number, i + 1) << piece;
            EXPECT_EQ(cut.blocks[i].offset, i * kBlock) << piece;
            EXPECT_EQ(cut.blocks[i].block.values, whole.blocks[i].block.values) << piece;
        }
        EXPECT_TRUE(cut.skips.empty()) << piece;
    }
}

TEST(BlockStreamPieces, ATornTailIsHeldUndecidedAndAnsweredAtTheEnd)
{
    const std::string bytes = Bytes(Twelve()).substr(0, 3 * kBlock + 40);
    std::uint64_t number = 1;
    std::vector<Entry> blocks;
    BlockStream stream(
        &kHistoryFile, number, [&](Entry& entry) { blocks.push_back(entry); },
        [](const BlockStream::Skip&) { ADD_FAILURE() << "nothing is skipped"; });
    stream.Feed(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    EXPECT_EQ(blocks.size(), 3u);
    EXPECT_EQ(stream.Undecided(), 40u);
    EXPECT_EQ(stream.Finish(), 40u);
    EXPECT_EQ(stream.Size(), bytes.size());
}

// A rotated pair read one after the other: the second file's blocks go on
// with the numbers, and each names its own file and offset.
TEST(BlockStreamPieces, NumbersGoOnOverStreamsAndEachEntrySaysWhereItIs)
{
    const std::string older = "1.history.1";
    const std::string bytes = Bytes(Twelve());
    std::uint64_t number = 1;
    std::vector<Entry> blocks;
    const auto keep = [&](Entry& entry) { blocks.push_back(entry); };
    const auto skip = [](const BlockStream::Skip&) {};
    for (const std::string* file : {&older, &kHistoryFile}) {
        BlockStream stream(file, number, keep, skip);
        stream.Feed(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        stream.Finish();
    }
    ASSERT_EQ(blocks.size(), 24u);
    EXPECT_EQ(Where(blocks[11]), "block 12 (byte 836 of 1.history.1)");
    EXPECT_EQ(Where(blocks[16]), "block 17 (byte 304 of 1.history)");
}

}  // namespace
