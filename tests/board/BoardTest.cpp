// The emulated board: a mipsel Linux kernel under qemu-system-mipsel booted
// from the image board/make-image.sh makes, its second UART on a
// pseudo-terminal where upssim answers at 2400 bit/s. On the board the bench
// host polls the demo scenario through the module; here the same scenario runs
// on the build machine. The board's /init reports on the console, one
// "@board NAME VALUE" line per fact.
// Usage: board_tests IMAGE_DIR   (the image holds vmlinuz and initrd.cpio)
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/value.h>
#include <json/writer.h>

#include "tests/e2e/Child.h"
#include "tests/e2e/ReadBack.h"

#if !defined(QUILL_SOURCE_DIR) || !defined(QUILL_SMDHOST) || !defined(QUILL_UPSSIM) || \
    !defined(QUILL_MODULE)
#error "QUILL_SOURCE_DIR, QUILL_SMDHOST, QUILL_UPSSIM and QUILL_MODULE name the checkout and the built programs"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;
using Events = std::vector<Json::Value>;

constexpr unsigned int kCycles = 20;
constexpr std::size_t kBlockSize = 76;
constexpr double kWireSecondsPerCycle = 0.871;  // 209 bytes at 2400 bit/s, 10 bits a byte
const std::string kScenario = QUILL_SOURCE_DIR "/sim/scenarios/demo.json";
const std::string kConfig = QUILL_SOURCE_DIR "/tools/smdhost/examples/demo.json";
const std::string kMarker = "@board ";

std::string g_image;  // from the command line

// Starts upssim on a new pseudo-terminal linked at `link`; null when it did
// not come up.
std::unique_ptr<Child> StartUps(const std::string& link, bool paced, const std::string& errors)
{
    std::vector<std::string> argv{QUILL_UPSSIM, "--scenario", kScenario, "--link", link};
    if (!paced) {
        argv.push_back("--fast");
    }
    auto ups = std::make_unique<Child>(argv, errors);
    for (auto said = ups->ReadLine(seconds(10)); said; said = ups->ReadLine(seconds(10))) {
        if (said->rfind("upssim: UPS on", 0) == 0) {
            return ups;
        }
    }
    return nullptr;
}

// What a run shows of the module's work, without times and paths: each block
// with its flags and values, each alarm change, each failed cycle, the data
// going stale and coming back, the summary.
std::vector<std::string> Outcome(const Events& events)
{
    static const std::map<std::string, std::vector<std::string>> kShown = {
        {"block", {"source", "cycle"}},
        {"alarm", {"change", "key", "alarm_id"}},
        {"cycle_failed", {"cycle", "reason"}},
        {"stale", {"failed_cycles"}},
        {"reestablished", {"failed_cycles"}},
        {"summary", {"completed", "failed"}},
    };
    Json::StreamWriterBuilder compact;
    compact["indentation"] = "";
    std::vector<std::string> outcome;
    for (const Json::Value& event : events) {
        const auto shown = kShown.find(event["event"].asString());
        if (shown == kShown.end()) {
            continue;
        }
        Json::Value kept;
        for (const std::string& member : shown->second) {
            kept[member] = event[member];
        }
        if (shown->first == "block") {
            kept["flags"] = event["block"]["flags"];
            kept["values"] = event["block"]["values"];
        }
        outcome.push_back(shown->first + " " + Json::writeString(compact, kept));
    }
    return outcome;
}

std::size_t Count(const std::vector<std::string>& outcome, const std::string& kind)
{
    std::size_t count = 0;
    for (const std::string& line : outcome) {
        count += line.rfind(kind + " ", 0) == 0 ? 1 : 0;
    }
    return count;
}

// The board's console, read up to its "@board done".
struct BoardRun {
    std::map<std::string, std::string> facts;
    Events events;
    std::string console;
    double boot_seconds = 0;  // from qemu's start to the board's /init
    bool done = false;

    double Fact(const std::string& name) const
    {
        const auto fact = facts.find(name);
        return fact == facts.end() ? -1 : std::stod(fact->second);
    }

    void Take(std::string line, double since_start)
    {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        console += line + "\n";
        if (line.rfind(kMarker, 0) != 0) {
            return;
        }
        const std::string fact = line.substr(kMarker.size());
        const std::size_t space = fact.find(' ');
        const std::string name = fact.substr(0, space);
        const std::string value = space == std::string::npos ? "" : fact.substr(space + 1);
        if (name == "event") {
            events.push_back(ParseJson(value));
            return;
        }
        facts[name] = value;
        if (name == "init") {
            boot_seconds = since_start;
        }
        done = name == "done";
    }
};

class EmulatedBoard : public ::testing::Test {
protected:
    static inline std::string run_dir;
    static inline BoardRun board;
    static inline Events native;
    static inline int native_status = -1;

    static void SetUpTestSuite()
    {
        run_dir = std::filesystem::absolute(g_image + "/run").string();
        std::filesystem::remove_all(run_dir);
        std::filesystem::create_directories(run_dir);

        auto board_ups = StartUps(run_dir + "/board-ups", true, run_dir + "/board-upssim.err");
        auto native_ups = StartUps(run_dir + "/native-ups", false, run_dir + "/native-upssim.err");
        if (!board_ups || !native_ups) {
            return;
        }
        const std::string state = run_dir + "/native-state";
        mkdir(state.c_str(), 0755);
        Child host({QUILL_SMDHOST, "--json", "--config", kConfig, "--module", QUILL_MODULE,
                    "--port", run_dir + "/native-ups", "--state-dir", state, "--cycles",
                    std::to_string(kCycles), "--module-output", "/dev/null"},
                   run_dir + "/native-smdhost.err");
        RunBoard();
        native_status = host.Wait(seconds(120));
        for (auto said = host.ReadLine(seconds(1)); said; said = host.ReadLine(seconds(1))) {
            native.push_back(ParseJson(*said));
        }
        PrintFigures();
    }

    static void RunBoard()
    {
        const auto started = Clock::now();
        Child qemu({QUILL_SOURCE_DIR "/board/boot.sh", g_image, run_dir + "/board-ups", "run",
                    "board.cycles=" + std::to_string(kCycles)},
                   run_dir + "/qemu.err");
        const auto deadline = started + seconds(300);
        while (!board.done && Clock::now() < deadline) {
            const auto line = qemu.ReadLine(seconds(30));
            if (!line) {
                break;
            }
            board.Take(*line, std::chrono::duration<double>(Clock::now() - started).count());
        }
        qemu.Wait(seconds(30));
    }

    static void PrintFigures()
    {
        if (!board.done) {
            return;
        }
        const double run = board.Fact("run-seconds");
        const double cpu = board.Fact("cpu-seconds");
        std::printf("board: booted to /init in %.1f s (the board's clock: %s s)\n",
                    board.boot_seconds, board.facts["init"].c_str());
        std::printf("board: %u cycles in %.1f s, %.2f s a cycle (%.2f s of it on the wire); "
                    "smdhost used %.2f s of CPU, %.0f ms a cycle\n",
                    kCycles, run, run / kCycles, kWireSecondsPerCycle, cpu, cpu * 1000 / kCycles);
        std::printf("board: smdhost's peak memory %s KB resident\n", board.facts["peak-kb"].c_str());
        std::printf("board: the probe's unaligned float load and store moved the count from %s to %s\n",
                    board.facts["unaligned-before-probe"].c_str(),
                    board.facts["unaligned-after-probe"].c_str());
        std::fflush(stdout);
    }

    void SetUp() override
    {
        ASSERT_TRUE(board.done) << "the board's run did not end; its console:\n"
                                << board.console << ReadFile(run_dir + "/qemu.err")
                                << ReadFile(run_dir + "/board-upssim.err");
    }
};

TEST_F(EmulatedBoard, PollsTheDemoScenarioAsTheBuildMachineDoes)
{
    const std::vector<std::string> expected = Outcome(native);
    ASSERT_GT(Count(expected, "block"), 0U) << ReadFile(run_dir + "/native-smdhost.err");
    ASSERT_GT(Count(expected, "alarm"), 0U);
    ASSERT_GT(Count(expected, "cycle_failed"), 0U);
    EXPECT_EQ(Outcome(board.events), expected) << board.console;
    EXPECT_EQ(board.Fact("smdhost-exit"), native_status);
}

TEST_F(EmulatedBoard, SmdhostRunsOnTheStandInHostLibraryAndSaysSo)
{
    EXPECT_NE(board.console.find("@board smdhost-error smdhost: runs on the host library "
                                 "/usr/lib/smdhost/libsmdhost_framework.so\n"),
              std::string::npos)
        << board.console;
}

TEST_F(EmulatedBoard, KeepsOneHistoryBlockPerCompletedCycle)
{
    const std::size_t completed = Count(Outcome(board.events), "block");
    ASSERT_GT(completed, 0U);
    EXPECT_EQ(board.Fact("history-bytes"), static_cast<double>(completed * kBlockSize));
}

// A board's memory is scarce: the host ran in under 5 MB, and once in 68 MB
// when reading the module's version took a buffer of the largest file.
TEST_F(EmulatedBoard, SmdhostStaysWithinAFewMegabytes)
{
    ASSERT_GT(board.Fact("peak-kb"), 0) << "no peak memory measured";
    EXPECT_LT(board.Fact("peak-kb"), 16 * 1024);
}

TEST_F(EmulatedBoard, ModuleNeedsNoUnalignedFixUpsFromTheKernel)
{
    ASSERT_GE(board.Fact("unaligned-before-run"), 0) << "no count of unaligned fix-ups";
    EXPECT_EQ(board.Fact("unaligned-after-run"), board.Fact("unaligned-before-run"));
}

TEST_F(EmulatedBoard, UnalignedFloatThroughAPointerIsFixedUpAndCounted)
{
    EXPECT_EQ(board.facts["probe-read"], "1.5");
    EXPECT_GT(board.Fact("unaligned-after-probe"), board.Fact("unaligned-before-probe"));
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s IMAGE_DIR   (made by board/make-image.sh)\n", argv[0]);
        return 2;
    }
    g_image = argv[1];
    return RUN_ALL_TESTS();
}
