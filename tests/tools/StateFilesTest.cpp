// The bench host's state files as a restart finds them after a crash, a power
// loss or a full disk: the history's damaged end cut back to whole blocks and
// said, never appended after; the temporary files of unfinished cache writes
// removed, and only those; a cache of the wrong size kept from the module; a
// history left by another device set aside, never appended to.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/HistoryMaker.h"
#include "tools/common/DataBlock.h"
#include "tools/smdhost/StateFiles.h"

namespace {

namespace fs = std::filesystem;
using history_maker::Stored;

constexpr std::size_t kBlock = data_block::kSize;

std::string Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Blocks one minute apart from 10:00, the first of `first_minute`.
std::string Blocks(int count, int first_minute = 0)
{
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        Stored block;
        block.stamp.minute = static_cast<std::uint8_t>(first_minute + i);
        block.values["DVIA"] = 230.5f;
        bytes += history_maker::Bytes(block);
    }
    return bytes;
}

// A block whose bytes from `from` on a power loss left zero.
std::string ZeroedFrom(std::size_t from)
{
    std::string block = Blocks(1, 59);
    std::fill(block.begin() + static_cast<std::ptrdiff_t>(from), block.end(), '\0');
    return block;
}

class StateFilesTest : public ::testing::Test {
protected:
    fs::path dir;
    safe_file::Folder folder;

    void SetUp() override
    {
        char name[] = "/tmp/quill-state-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        safe_file::Error error;
        ASSERT_TRUE(folder.Open(dir, {}, error)) << error.text;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Opens the files of data id 42; answers the warnings.
    std::vector<std::string> Open(StateFiles& files)
    {
        std::vector<std::string> warnings;
        safe_file::Error error;
        EXPECT_EQ(files.Open(warnings, error), StateFiles::Opened::Ready) << error.text;
        return warnings;
    }

    // Opens the files of data id 42 and appends the block of 10:30; answers
    // the warnings of the start.
    std::vector<std::string> OpenAndAppend()
    {
        StateFiles files(folder, 42, kBlock);
        const std::vector<std::string> warnings = Open(files);
        std::string rotated;
        safe_file::Error error;
        const std::string next = Blocks(1, 30);
        EXPECT_TRUE(files.Append(reinterpret_cast<const unsigned char*>(next.data()), kBlock,
                                 error, rotated))
            << error.text;
        return warnings;
    }
};

struct End {
    const char* name;
    std::string history;
    std::size_t kept;                 // whole blocks
    std::vector<std::string> said;  // a warning each
};

TEST_F(StateFilesTest, DamagedEndOfAHistoryIsCutAtStartSayingWhatWasDroppedAndNotAppendedAfter)
{
    Stored midnight;  // every flag and value 0, 1 January at 00:00:00
    midnight.stamp = {2027, 1, 1, 0, 0, 0};
    const std::string zeros(4 * kBlock, '\0');
    const std::vector<End> ends = {
        {"whole blocks", Blocks(3), 3, {}},
        {"a torn end", Blocks(3) + Blocks(1, 9).substr(0, 30), 3,
         {"42.history ended in part of a block: 30 bytes dropped, 3 whole blocks kept"}},
        {"one block and a byte", Blocks(1) + Blocks(1, 9).substr(0, 1), 1,
         {"42.history ended in part of a block: 1 byte dropped, 1 whole block kept"}},
        {"blocks of zeros", Blocks(3) + zeros, 3,
         {"42.history ended in 4 blocks of zeros, left by a power loss: 304 bytes dropped, 3 "
          "whole blocks kept"}},
        {"a block zeroed from its day on, then zeros", Blocks(3) + ZeroedFrom(72) + zeros, 3,
         {"ended in 5 blocks of zeros"}},
        {"zeros, then a torn end", Blocks(3) + zeros + std::string(20, '\0'), 3,
         {"ended in part of a block: 20 bytes", "ended in 4 blocks of zeros"}},
        {"nothing but zeros", zeros, 0, {"304 bytes dropped, 0 whole blocks kept"}},
        {"a block at midnight of all zero values", Blocks(2) + history_maker::Bytes(midnight), 3,
         {}},
        {"a block of zeros between blocks", Blocks(1) + std::string(kBlock, '\0') + Blocks(1), 3,
         {}},
    };
    for (const End& end : ends) {
        Write(dir / "42.history", end.history);
        const std::vector<std::string> warnings = OpenAndAppend();
        EXPECT_EQ(Read(dir / "42.history"),
                  end.history.substr(0, end.kept * kBlock) + Blocks(1, 30))
            << end.name;
        ASSERT_EQ(warnings.size(), end.said.size()) << end.name;
        for (std::size_t i = 0; i < warnings.size(); ++i) {
            EXPECT_NE(warnings[i].find(end.said[i]), std::string::npos)
                << end.name << ": " << warnings[i];
        }
    }
}

TEST_F(StateFilesTest, HistoryEndingInAnotherDevicesBlockIsSetAsideWholeAndANewOneBegun)
{
    Stored other;
    other.data_id = 1001;
    const std::string left = Blocks(2) + history_maker::Bytes(other);
    Write(dir / "42.history", left);
    const std::vector<std::string> warnings = OpenAndAppend();
    EXPECT_EQ(Read(dir / "42.history"), Blocks(1, 30));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("42.history ends in a block of data id 1001, not this device's 42: "
                               "set aside as "),
              std::string::npos)
        << warnings[0];
    std::vector<fs::path> aside;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().string().rfind("42.history.rejected-", 0) == 0) {
            aside.push_back(entry.path());
        }
    }
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_NE(warnings[0].find(aside[0].string()), std::string::npos) << warnings[0];
    EXPECT_EQ(Read(aside[0]), left) << "kept whole";
}

TEST_F(StateFilesTest, TemporariesOfUnfinishedCacheWritesAreRemovedAtStartAndNothingElse)
{
    Write(dir / "victim", "precious");
    Write(dir / ".42.cache.tmp-0123456789ab", Blocks(1));
    fs::create_symlink(dir / "victim", dir / ".42.cache.tmp-ffffffffffff");
    const std::vector<std::string> kept = {".43.cache.tmp-0123456789ab", ".42.cache.tmp-mine",
                                           ".42.cache.tmp-0123456789abc", "42.cache.tmp-0123456789ab"};
    for (const std::string& name : kept) {
        Write(dir / name, "not a leftover of 42's cache");
    }
    StateFiles files(folder, 42, kBlock);
    const std::vector<std::string> warnings = Open(files);

    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("removed 2 temporary files of a cache write an earlier run left "
                               "unfinished ("),
              std::string::npos)
        << warnings[0];
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / ".42.cache.tmp-ffffffffffff")));
    EXPECT_FALSE(fs::exists(dir / ".42.cache.tmp-0123456789ab"));
    EXPECT_EQ(Read(dir / "victim"), "precious");
    for (const std::string& name : kept) {
        EXPECT_TRUE(fs::exists(dir / name)) << name;
    }
}

TEST_F(StateFilesTest, CacheOfTheWrongSizeIsNotHandedOnAndSaysItsSize)
{
    for (const std::uintmax_t size : {std::uintmax_t{77}, std::uintmax_t{2} << 30}) {
        Write(dir / "42.cache", "");
        fs::resize_file(dir / "42.cache", size);  // sparse: 2 GiB take no room
        StateFiles files(folder, 42, kBlock);
        Open(files);
        EXPECT_FALSE(files.HasCache());
        EXPECT_EQ(files.CacheFault(),
                  "it holds " + std::to_string(size) + " bytes, not one 76-byte block");
        safe_file::Error error;
        const std::string aside = files.SetCacheAside(error);
        EXPECT_EQ(fs::file_size(aside), size) << "kept aside whole";
        EXPECT_EQ(files.CacheFault(), "");
        fs::remove(aside);
    }
}

}  // namespace
