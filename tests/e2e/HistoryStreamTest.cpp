// smdhist on histories as they really come: with bytes lost or inserted, on
// standard input and pipes, as rotated pairs, while the bench host appends
// and rotates them, and a million blocks long.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/SmdhistRun.h"
#include "tests/support/HistoryMaker.h"

namespace {

using history_maker::Bytes;
using history_maker::Stored;
using history_maker::Twelve;

constexpr std::size_t kBlock = 76;

// The minutes of the sound blocks in smdhist's CSV.
std::vector<int> SoundMinutes(const Ran& run)
{
    std::vector<int> minutes;
    for (std::size_t i = 1; i < run.out.size(); ++i) {
        if (run.out[i].back() == ',') {  // no damage
            minutes.push_back(std::stoi(run.out[i].substr(14, 2)));
        }
    }
    return minutes;
}

class Damage : public TempDir {};

// Bytes lost in one place and inserted in another: each message names the
// bytes skipped and where whole blocks go on, and only the blocks they touch
// are lost (tools_tests' BlockStreamDamage holds every size at every place).
TEST_F(Damage, HolesAndInsertedBytesAreNamedAndCostOnlyTheBlocksTheyTouch)
{
    std::string bytes = Bytes(Twelve());
    bytes.insert(8 * kBlock + 70, 33, '\xee');
    bytes.erase(4 * kBlock + 30, 20);
    const std::string file = Write("1.history", bytes);
    const Ran run = Smdhist({"--csv", file}, dir);
    EXPECT_EQ(SoundMinutes(run), (std::vector<int>{0, 1, 2, 3, 5, 6, 7, 9, 10, 11})) << run.err;
    EXPECT_EQ(run.status, 1);
    for (const char* said :
         {": bytes 304 to 359 hold no whole block: 56 bytes skipped (lost or inserted); whole "
          "blocks go on at byte 360\n",
          ": bytes 588 to 696 hold no whole block: 109 bytes skipped (lost or inserted); whole "
          "blocks go on at byte 697\n"}) {
        EXPECT_NE(run.err.find(file + said), std::string::npos) << said << "\n" << run.err;
    }
    EXPECT_EQ(run.err.find("a write cut short"), std::string::npos) << run.err;
}

TEST_F(Damage, ABlockDamagedWhereItStandsIsShownAndTheSummaryCountsSkippedBytes)
{
    std::vector<Stored> blocks = Twelve();
    blocks[4].flags[2] = 9;
    std::string bytes = Bytes(blocks);
    bytes.erase(8 * kBlock + 10, 20);
    const Ran table = Smdhist({"--csv", Write("1.history", bytes)}, dir);
    EXPECT_EQ(SoundMinutes(table), (std::vector<int>{0, 1, 2, 3, 5, 6, 7, 9, 10, 11}));
    EXPECT_NE(table.Out().find(",flag SUF is 9\n"), std::string::npos) << table.Out();
    const Ran summary = Smdhist({"--summary", dir + "/1.history"}, dir);
    EXPECT_NE(summary.Out().find("bytes that held no whole block, skipped: 56 in 1 stretch"),
              std::string::npos)
        << summary.Out();
}

class Input : public TempDir {};

TEST_F(Input, StandardInputAndPipesAreReadAsStreams)
{
    const std::string file = Write("1.history", Bytes(Twelve()));
    const std::string expected = Smdhist({"--csv", file}, dir).Out();
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string smdhist = QUILL_SMDHIST;
    const std::string commands[] = {
        "cat " + file + " | " + smdhist + " --csv -",
        smdhist + " --csv - < " + file,
        "cat " + file + " > " + fifo + " & " + smdhist + " --csv " + fifo,
        // Through a pipe a few bytes at a time: blocks cut anywhere are joined.
        "dd if=" + file + " bs=7 status=none | " + smdhist + " --csv /dev/stdin",
    };
    for (const std::string& command : commands) {
        const Ran run = Shell(command, dir);
        EXPECT_EQ(run.status, 0) << command << "\n" << run.err;
        EXPECT_EQ(run.Out(), expected) << command;
    }
    const Ran twice = Smdhist({"-", "-"}, dir);
    EXPECT_EQ(twice.status, 2);
    EXPECT_NE(twice.err.find("standard input (-) can be read once"), std::string::npos);
    // A writer may come to the FIFO the moment smdhist opens it: what it wrote
    // is read, never waited for after it has gone (a lost race hung here).
    for (int round = 0; round < 30; ++round) {
        const Ran run = Shell("cat " + file + " > " + fifo + " & timeout 10 " + smdhist +
                                  " --csv " + fifo,
                              dir);
        ASSERT_EQ(run.status, 0) << "round " << round << "\n" << run.err;
        ASSERT_EQ(run.Out(), expected) << "round " << round;
    }
    const Ran device = Smdhist({"/dev/zero"}, dir);
    EXPECT_EQ(device.status, 4);
    EXPECT_NE(device.err.find("/dev/zero: cannot read: neither a regular file nor a pipe"),
              std::string::npos)
        << device.err;
}

// Given newer part first, as the shell's glob 1.history* gives them, the
// pair is read older part first: no block is taken for a clock set back.
TEST_F(Input, ARotatedPairGivenInEitherOrderReadsAsOneHistory)
{
    const std::vector<Stored> blocks = Twelve();
    const std::string older = Write("1.history.1", Bytes({blocks.begin(), blocks.begin() + 7}));
    const std::string newer = Write("1.history", Bytes({blocks.begin() + 7, blocks.end()}));
    const std::string whole = Write("whole.history", Bytes(blocks));
    for (const char* format : {"--csv", "--json"}) {
        EXPECT_EQ(Smdhist({format, older, newer}, dir).Out(), Smdhist({format, whole}, dir).Out());
        EXPECT_EQ(Shell("cat " + older + " " + newer + " | " + QUILL_SMDHIST + " " + format + " -",
                        dir)
                      .Out(),
                  Smdhist({format, whole}, dir).Out());
    }
    EXPECT_EQ(Smdhist({"--summary", "--json", older, newer}, dir).Out(),
              Smdhist({"--summary", "--json", whole}, dir).Out());
    const Ran glob = Shell(std::string(QUILL_SMDHIST) + " --influx " + dir + "/1.history*", dir);
    EXPECT_EQ(glob.status, 0) << glob.err;
    EXPECT_EQ(glob.Out(), Smdhist({"--influx", whole}, dir).Out());
    EXPECT_NE(glob.err.find("reading " + older + ", then " + newer +
                            ": a rotated history's older part first"),
              std::string::npos)
        << glob.err;
}

class Choosing : public TempDir {};

TEST_F(Choosing, AnEmptyResultSaysWhyWithAStatusOfItsOwn)
{
    std::vector<Stored> blocks = Twelve();
    blocks[3].data_id = 7;
    const std::string file = Write("1.history", Bytes(blocks));
    const std::pair<Lines, std::string> cases[] = {
        {{"--data-id", "9"}, "smdhist: nothing chosen: no block of data id 9; the data ids read: 7, 42"},
        {{"--summary", "--data-id", "9"}, "no block of data id 9; the data ids read: 7, 42"},
        {{"--from", "2026-03-01T11:00+02:00"},
         "nothing chosen: no block stamped at 2026-03-01T11:00:00+02:00 or later; the blocks "
         "read run from 2026-03-01T10:00:00+02:00 to 2026-03-01T10:11:00+02:00"},
        {{"--data-id", "7", "--to", "2026-03-01T10:02:59"},
         "nothing chosen: no block of data id 7 stamped at 2026-03-01T10:02:59+02:00 or "
         "earlier; the blocks read run from 2026-03-01T10:03:00+02:00 to "
         "2026-03-01T10:03:00+02:00"},
    };
    for (const auto& [args, said] : cases) {
        Lines command = args;
        command.push_back(file);
        const Ran run = Smdhist(command, dir);
        EXPECT_EQ(run.status, 6) << said;
        EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
        EXPECT_EQ(run.out.size(), 0u) << run.Out();
    }
    const Ran plot = Smdhist({"--plot", dir + "/p.svg", file}, dir);
    EXPECT_EQ(plot.status, 5);
    EXPECT_NE(plot.err.find("the blocks chosen are of 2 data identifiers (7, 42): choose one with "
                            "--data-id"),
              std::string::npos)
        << plot.err;
}

TEST_F(Choosing, TimesAreReadInTheHistorysZoneAndRelativeToNow)
{
    // Written in Tokyo, read two hours east of UTC.
    const std::string file = Write("1.history", Bytes(Twelve()));
    const Ran tokyo = Smdhist({"--csv", "--zone", "Asia/Tokyo", "--from", "2026-03-01T10:10",
                               "--to", "2026-03-01T01:10:30.5Z", file},
                              dir);
    ASSERT_EQ(tokyo.out.size(), 2u) << tokyo.err;
    EXPECT_EQ(tokyo.out[1].substr(0, 26), "2026-03-01T10:10:00+09:00,");
    // Written in Berlin across the autumn change: the repeated hour is no clock set back.
    const std::string autumn = Write("3.history", Bytes(history_maker::AcrossTheAutumnChange()));
    const Ran berlin = Smdhist({"--influx", "--zone", "Europe/Berlin", autumn}, dir);
    EXPECT_EQ(berlin.status, 0) << berlin.err;
    EXPECT_EQ(berlin.out.size(), 48u) << berlin.err;
    const Ran bad = Smdhist({"--zone", "Mars/Olympus", file}, dir);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("not a zone: Mars/Olympus"), std::string::npos) << bad.err;

    // Stamped 3 h, 1 h and 10 min ago on this machine's clock.
    std::vector<Stored> recent(3);
    const std::time_t now = std::time(nullptr);
    const int ago[] = {3 * 3600, 3600, 600};
    for (std::size_t i = 0; i < recent.size(); ++i) {
        const std::time_t then = now - ago[i];
        std::tm local{};
        localtime_r(&then, &local);
        recent[i].stamp = {static_cast<std::uint16_t>(local.tm_year + 1900),
                           static_cast<std::uint8_t>(local.tm_mon + 1),
                           static_cast<std::uint8_t>(local.tm_mday),
                           static_cast<std::uint8_t>(local.tm_hour),
                           static_cast<std::uint8_t>(local.tm_min),
                           static_cast<std::uint8_t>(local.tm_sec)};
    }
    const std::string latest = Write("2.history", Bytes(recent));
    const std::pair<Lines, std::size_t> cases[] = {
        {{"--from", "-2h"}, 2}, {{"--from", "-30min"}, 1}, {{"--to", "-2h"}, 1},
        {{"--from", "-1d", "--to", "now"}, 3},
    };
    for (const auto& [args, rows] : cases) {
        Lines command = args;
        command.insert(command.end(), {"--csv", latest});
        EXPECT_EQ(Smdhist(command, dir).out.size(), rows + 1) << args[1];
    }
}

// ---- Bounded memory ----------------------------------------------------------------

// The peak resident memory of smdhist in KiB, its output thrown away.
long PeakKib(const Lines& args, int& status)
{
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(QUILL_SMDHIST)};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int wait_status = 0;
    struct rusage usage {};
    wait4(child, &wait_status, 0, &usage);
    status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    return usage.ru_maxrss;  // with gnuplot's, for a picture
}

class LongHistory : public TempDir {};

// A million blocks whose alarms flap and with a gap every 97 blocks: every
// way of reading it stays under 32 MiB.
TEST_F(LongHistory, EveryModeStaysUnder32MiBOnAMillionBlocks)
{
    const std::string file = dir + "/1001.history";
    ASSERT_TRUE(history_maker::WriteFlappingHistory(file, 1000000));
    const Lines modes[] = {
        {}, {"--csv"}, {"--json"}, {"--summary"}, {"--summary", "--json"}, {"--openmetrics"},
        {"--influx"}, {"--plot", dir + "/p.svg"}, {"--plot", dir + "/p.png"},
    };
    for (Lines args : modes) {
        args.push_back(file);
        int status = -1;
        const long kib = PeakKib(args, status);
        EXPECT_EQ(status, 0) << args[0];
        EXPECT_LT(kib, 32 * 1024) << (args.size() > 1 ? args[0] : "the table");
    }
}

TEST_F(LongHistory, LongListsAreCappedWithACountOfWhatWasLeftOut)
{
    // The UPS fault on every other block, a gap after each block of it.
    std::vector<Stored> blocks(3000);
    std::int64_t seconds = 0;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        seconds += i % 2 == 0 ? 60 : 5;
        blocks[i].stamp = history_maker::StampAfter(seconds);
        blocks[i].flags[0] = i % 2 == 0 ? 1 : 0;
    }
    const Ran run = Smdhist({"--summary", "--json", "--gap", "30", Write("1.history", Bytes(blocks))}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const Json::Value device = ParseJson(run.Out())["devices"][0];
    EXPECT_EQ(device["gap_count"].asUInt(), 1499u);
    EXPECT_EQ(device["gaps"].size(), 1000u);
    EXPECT_EQ(device["gaps_left_out"].asUInt(), 499u);
    const Json::Value fault = device["alarms"][0];
    EXPECT_EQ(fault["interval_count"].asUInt(), 1500u);
    EXPECT_EQ(fault["intervals"].size(), 1000u);
    EXPECT_EQ(fault["intervals_left_out"].asUInt(), 500u);
    EXPECT_EQ(fault["seconds_on"].asInt(), 1500 * 5);
    const std::string text = Smdhist({"--summary", "--gap", "30", dir + "/1.history"}, dir).Out();
    EXPECT_NE(text.find("... and 1480 more (--json lists the first 1000"), std::string::npos)
        << text;
}

// ---- Following a history -----------------------------------------------------------

void Append(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

// The next `count` lines that hold `marker`, within ten seconds.
bool Shows(Child& child, const std::string& marker, int count = 1)
{
    for (auto line = child.ReadLine(seconds(10)); line; line = child.ReadLine(seconds(10))) {
        if (line->find(marker) != std::string::npos && --count == 0) {
            return true;
        }
    }
    return false;
}

class Following : public TempDir, public ::testing::WithParamInterface<const char*> {};

// As the bench host writes: whole blocks, a block written in two pieces, and
// a rotation (the history renamed to .1, a new one started).
TEST_P(Following, ShowsEachAppendedBlockAcrossARotation)
{
    const std::vector<Stored> blocks = Twelve();
    const std::string history = Write("42.history", Bytes({blocks.begin(), blocks.begin() + 2}));
    Child follower({QUILL_SMDHIST, "--follow", GetParam(), history}, dir + "/follow.err");
    // Minute 1 is in the data of every format: the stamp, or its time in seconds.
    const auto marker = [&](std::size_t block) {
        std::string format = GetParam();
        const std::time_t epoch = 1772352000 + static_cast<std::time_t>(block) * 60;  // XST-2
        return format == "--csv" || format == "--json"
                   ? "10:" + std::string(block < 10 ? "0" : "") + std::to_string(block) + ":00"
                   : " " + std::to_string(epoch);
    };
    ASSERT_TRUE(Shows(follower, marker(1))) << ReadFile(dir + "/follow.err");

    Append(history, Bytes(blocks[2]));
    EXPECT_TRUE(Shows(follower, marker(2)));
    const std::string third = Bytes(blocks[3]);
    Append(history, third.substr(0, 30));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Append(history, third.substr(30));
    EXPECT_TRUE(Shows(follower, marker(3)));

    // The last write before the rotation, read from the renamed file if not before.
    Append(history, Bytes(blocks[4]));
    ASSERT_EQ(std::rename(history.c_str(), (history + ".1").c_str()), 0);
    Write("42.history", Bytes({blocks.begin() + 5, blocks.begin() + 7}));
    EXPECT_TRUE(Shows(follower, marker(4)));
    EXPECT_TRUE(Shows(follower, marker(6)));
    Append(history, Bytes(blocks[7]));
    EXPECT_TRUE(Shows(follower, marker(7)));

    follower.Signal(SIGTERM);
    EXPECT_EQ(follower.Wait(seconds(10)), 0);
    EXPECT_NE(ReadFile(dir + "/follow.err").find(history + " was replaced (rotated): reading the new file from its start"),
              std::string::npos);
}

class FollowingQuietly : public TempDir {};

TEST_F(FollowingQuietly, NothingNewWritesNoEmptyExposition)
{
    Child follower({QUILL_SMDHIST, "--follow", "--openmetrics", Write("42.history", Bytes(Twelve()))},
                   dir + "/follow.err");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    follower.Signal(SIGTERM);
    EXPECT_EQ(follower.Wait(seconds(10)), 0);
    int expositions = 0;
    for (auto line = follower.ReadLine(seconds(1)); line; line = follower.ReadLine(seconds(1))) {
        expositions += *line == "# EOF" ? 1 : 0;
    }
    EXPECT_EQ(expositions, 1);
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, Following,
                         ::testing::Values("--csv", "--json", "--influx", "--openmetrics"),
                         [](const auto& info) { return std::string(info.param + 2); });

}  // namespace
