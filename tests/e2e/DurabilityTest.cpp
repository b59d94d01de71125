// What a kill, a power loss, a flush that fails and a second host do to a
// device's state files. The invariant throughout: every block the cache ever
// holds is one the history has, so a restart, which republishes the cache
// and stores nothing, never loses a block; and a power loss costs at most the
// block that was being stored.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/HostFixture.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;

constexpr const char* kStrace = "/usr/bin/strace";

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
constexpr bool kThreadSanitizer = __has_feature(thread_sanitizer);
#else
constexpr bool kThreadSanitizer = false;
#endif

// Flags that change every third poll, values every poll, for ever.
constexpr const char* kFlapping = R"({"repeat": true, "steps": [
    {"polls": 3, "flags": {"SUF": 0}, "values": {"DVBT": [54, 50]}},
    {"polls": 3, "flags": {"SUF": 1}, "values": {"DVBT": [49, 45]}}]})";

constexpr std::size_t kFlagsAt = 4;
constexpr std::size_t kFlagBytes = 5;

// The whole blocks of `bytes`.
std::vector<std::string> BlocksOf(const std::string& bytes)
{
    std::vector<std::string> blocks;
    for (std::size_t at = 0; at + kBlockSize <= bytes.size(); at += kBlockSize) {
        blocks.push_back(bytes.substr(at, kBlockSize));
    }
    return blocks;
}

// The cache, when there is one, holds a block of `history` (oldest first), and
// every later block but the last has its flags: a flag change is written at
// once, and only the last block's write can have been cut short.
void ExpectCacheOnAHistoryBlock(const std::string& cache_path,
                                const std::vector<std::string>& history, const std::string& when)
{
    if (!fs::exists(cache_path)) {
        return;
    }
    const std::string cache = ReadFile(cache_path);
    ASSERT_EQ(cache.size(), kBlockSize) << when << ": a cache is never torn";
    std::size_t at = history.size();
    while (at > 0 && history[at - 1] != cache) {
        --at;
    }
    ASSERT_GT(at, 0u) << when << ": the cache holds a block the history lacks";
    for (std::size_t later = at; later + 1 < history.size(); ++later) {
        EXPECT_EQ(history[later].compare(kFlagsAt, kFlagBytes, cache, kFlagsAt, kFlagBytes), 0)
            << when << ": block " << later + 1 << " changed a flag the cache lacks";
    }
}

class Durability : public EndToEnd {
protected:
    std::vector<std::string> mounted;

    void TearDown() override
    {
        for (auto at = mounted.rbegin(); at != mounted.rend(); ++at) {
            Shell("umount " + *at);
        }
        EndToEnd::TearDown();
    }

    // Runs `command` with the shell; answers its exit status.
    int Shell(const std::string& command)
    {
        Child shell({"/bin/sh", "-c", command}, dir + "/shell.err");
        return shell.Wait(seconds(60));
    }

    // Mounts the ext4 image at `image` on the folder `at`.
    bool Mount(const std::string& image, const std::string& at)
    {
        if (Shell("mkdir -p " + at + " && mount -o loop " + image + " " + at) != 0) {
            return false;
        }
        mounted.push_back(at);
        return true;
    }

    void Unmount()
    {
        Shell("umount " + mounted.back());
        mounted.pop_back();
    }

    // Runs the host under strace, killed at call `n` of `call` (counted per
    // thread; every such call of the host is on the device's thread). Answers
    // true when it was killed, false when it ran to its end first.
    bool KilledAt(const std::string& config, const std::string& call, unsigned int n,
                  unsigned int cycles)
    {
        Child host({kStrace, "-f", "-qq", "-o", "/dev/null", "-e", "trace=fsync,fdatasync", "-e",
                    "inject=" + call + ":signal=SIGKILL:when=" + std::to_string(n),
                    QUILL_SMDHOST, "--config", config, "--cycles", std::to_string(cycles),
                    "--brief", "--module-output", "/dev/null"},
                   dir + "/smdhost.err");
        const int status = host.Wait(seconds(60));
        EXPECT_TRUE(status == 0 || status == 128 + SIGKILL) << call << " " << n << ": " << status;
        return status == 128 + SIGKILL;
    }

    // Kills the host at every fsync and every fdatasync of a run of
    // `cycles`, each on a new state folder, and checks the cache against the
    // history after each kill. Answers the kills.
    unsigned int KillAtEveryFlush(const Json::Value& device, unsigned int cycles)
    {
        StartSim(kFlapping);
        Json::Value unpaced = device;
        unpaced[0]["poll_interval"] = 0;
        const std::string config = WriteConfig(2.0, unpaced);
        unsigned int kills = 0;
        for (const std::string call : {"fdatasync", "fsync"}) {
            for (unsigned int n = 1;; ++n) {
                fs::remove_all(state);
                const bool killed = KilledAt(config, call, n, cycles);
                const std::string when = (killed ? "killed at " : "ended before ") + call + " " +
                                         std::to_string(n);
                const std::string earlier = ReadFile(state + "/42.history.1");
                EXPECT_EQ(earlier.size() % kBlockSize, 0u) << when;
                EXPECT_EQ(History().size() % kBlockSize, 0u) << when;
                ExpectCacheOnAHistoryBlock(state + "/42.cache", BlocksOf(earlier + History()),
                                           when);
                if (!killed) {
                    break;
                }
                ++kills;
            }
        }
        return kills;
    }

    // The state folder in memory: a flush there costs nothing, and a kill
    // comes at the call all the same.
    void StateInMemory()
    {
        char name[] = "/dev/shm/quill-kill-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        fs::remove(name);
        state = name;
    }
};

// Under ThreadSanitizer each start of the host takes far longer; the first
// cycles reach every kind of flush (history, temporary file, folder,
// rotation), so they are what it runs.
unsigned int Cycles() { return kThreadSanitizer ? 4 : 20; }

TEST_F(Durability, KillAtEveryFlushOfTwentyCyclesAcrossRotationsLeavesTheCacheOnAHistoryBlock)
{
    if (!fs::exists(kStrace)) {
        GTEST_SKIP() << "needs strace (Debian's strace) to kill the host at each flush";
    }
    StateInMemory();
    Json::Value device;
    device[0]["data_id"] = kDataId;
    device[0]["history_max_bytes"] = static_cast<Json::UInt>(5 * kBlockSize);
    const unsigned int kills = KillAtEveryFlush(device, Cycles());
    EXPECT_GT(kills, Cycles()) << "a flush of each block and of some cache writes";
    fs::remove_all(state);
}

TEST_F(Durability, FlushThatFailsLosesItsBlockAloneRolledBackAndNeverCached)
{
    if (!fs::exists(kStrace)) {
        GTEST_SKIP() << "needs strace (Debian's strace) to fail a flush";
    }
    StartSim(kFlapping);
    Child host({kStrace, "-f", "-qq", "-o", "/dev/null", "-e", "trace=fdatasync", "-e",
                "inject=fdatasync:error=EIO:when=3", QUILL_SMDHOST, "--json", "--config",
                WriteConfig(2.0), "--cycles", "5", "--module-output", "/dev/null"},
               dir + "/smdhost.err");
    Events events;
    EXPECT_EQ(Finish(host, events), 3) << Errors();

    const Events storage = Of(events, "storage");
    ASSERT_EQ(storage.size(), 2u);
    EXPECT_EQ(storage[0]["state"].asString(), "failed");
    EXPECT_EQ(storage[0]["detail"].asString(),
              "cannot store in " + state + "/42.history: Input/output error");
    EXPECT_EQ(storage[1]["state"].asString(), "stored");
    EXPECT_EQ(Of(events, "summary").at(0)["not_stored"].asUInt(), 1u);
    EXPECT_EQ(History().size(), 4 * kBlockSize) << "blocks 1, 2, 4 and 5";
    EXPECT_EQ(ReadFile(state + "/42.cache"), History().substr(3 * kBlockSize));
}

// ---- A power loss ------------------------------------------------------------------

TEST_F(Durability, PowerLossCostsAtMostTheBlockBeingStoredAndTheCacheStaysOnAHistoryBlock)
{
    const std::string image = dir + "/disk.img";
    if (geteuid() != 0 ||
        Shell("truncate -s 16M " + image + " && mkfs.ext4 -q -F -E "
              "lazy_itable_init=0,lazy_journal_init=0 " + image) != 0 ||
        !Mount(image, dir + "/disk")) {
        GTEST_SKIP() << "needs root, mkfs.ext4 and a loop device to mount an ext4 image";
    }
    state = dir + "/disk/state";
    StartSim(kFlapping);
    Json::Value device;
    device[0]["data_id"] = kDataId;
    device[0]["poll_interval"] = 0.05;
    auto host = StartHost(WriteConfig(2.0, device), "", {"--module-output", "/dev/null"});

    // Each power loss: the image as the disk holds it at that moment, the
    // host stopped meanwhile, after `published` blocks were told.
    std::vector<std::size_t> published;
    Events events;
    for (std::size_t loss = 0; loss < 5; ++loss) {
        do {
            ASSERT_TRUE(ReadUntil(*host, events, "block")) << Errors();
        } while (Of(events, "block").size() < 3 + 4 * loss);
        host->Signal(SIGSTOP);
        published.push_back(Of(events, "block").size());
        EXPECT_EQ(Shell("cp --sparse=always " + image + " " + dir + "/lost" +
                        std::to_string(loss) + ".img"),
                  0);
        host->Signal(SIGCONT);
    }
    host->Signal(SIGTERM);
    EXPECT_EQ(Finish(*host, events), 0) << Errors();
    const std::string stored = History();
    Unmount();

    // The next start on each image: what it keeps, and the cache it finds.
    sim = StartSimAt(dir + "/ups-after", kFlapping);
    for (std::size_t loss = 0; loss < published.size(); ++loss) {
        const std::string lost = dir + "/lost" + std::to_string(loss);
        ASSERT_TRUE(Mount(lost + ".img", lost)) << Errors();
        const std::string cache = ReadFile(lost + "/state/42.cache");
        Json::Value again;
        again[0]["data_id"] = kDataId;
        again[0]["port"] = dir + "/ups-after";
        state = lost + "/state";
        Events restart;
        ASSERT_EQ(RunHost(WriteConfig(2.0, again), 1, restart, {"--module-output", "/dev/null"}),
                  0)
            << Errors();
        const std::string after = History();
        const std::vector<std::string> kept =
            BlocksOf(after.substr(0, after.size() - std::min(after.size(), kBlockSize)));
        const std::string when = "power lost after block " + std::to_string(published[loss]);
        EXPECT_GE(kept.size() + 1, published[loss]) << when << ": more than one block lost";
        EXPECT_EQ(stored.compare(0, kept.size() * kBlockSize, History(), 0,
                                 kept.size() * kBlockSize),
                  0)
            << when << ": what it keeps is what the host stored";
        const std::string cache_path = dir + "/cache-before-restart";
        std::ofstream(cache_path, std::ios::binary) << cache;
        if (!cache.empty()) {
            ExpectCacheOnAHistoryBlock(cache_path, kept, when);
        }
        Unmount();
    }
}

// ---- One host per device's state files ---------------------------------------------

TEST_F(Durability, SecondHostOnTheStateFilesOfADeviceIsRefusedNamingTheFirst)
{
    StartSim(kFlapping);
    auto other_ups = StartSimAt(dir + "/ups-b", R"({"steps": [{"flags": {"SOK": 1}}]})");
    const std::vector<std::string> common = {"--json", "--module", QUILL_MODULE, "--state-dir",
                                             state, "--module-output", "/dev/null"};
    auto first = std::make_unique<Child>(
        [&] {
            std::vector<std::string> argv{QUILL_SMDHOST, "--port", line};
            argv.insert(argv.end(), common.begin(), common.end());
            return argv;
        }(),
        dir + "/smdhost.err");
    Events first_events;
    ASSERT_TRUE(ReadUntil(*first, first_events, "block")) << Errors();

    std::vector<std::string> argv{QUILL_SMDHOST, "--port", dir + "/ups-b", "--cycles", "2"};
    argv.insert(argv.end(), common.begin(), common.end());
    Events second;
    {
        Child host(argv, dir + "/smdhost.err");
        EXPECT_EQ(Finish(host, second), 2) << Errors();
    }
    ASSERT_EQ(Of(second, "error").size(), 1u) << Errors();
    EXPECT_EQ(Of(second, "error")[0]["detail"].asString(),
              "another host runs this device on its state files (" + state +
                  "/1.lock is held by smdhost (pid " + std::to_string(first->Pid()) +
                  ")); one host per data id and state folder");
    EXPECT_TRUE(Of(second, "block").empty()) << "the first host's cache is not restored";

    first->Signal(SIGTERM);
    Finish(*first, first_events);
    const std::string history = ReadFile(state + "/1.history");
    EXPECT_EQ(history.size(), Of(first_events, "block").size() * kBlockSize)
        << "the first host's blocks alone";
    Child after(argv, dir + "/smdhost.err");
    Events then;
    EXPECT_EQ(Finish(after, then), 0) << "free once the first host ended: " << Errors();
    EXPECT_EQ(Of(then, "block").at(0)["source"].asString(), "cache");
}

}  // namespace
