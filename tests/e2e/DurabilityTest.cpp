// What a kill, a power loss, a flush that fails and a second host do to a
// device's state files. Throughout: every block the cache ever holds is one
// the history has (a restart republishes the cache and stores nothing), and a
// power loss costs at most the block that was being stored.
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

std::vector<std::string> BlocksOf(const std::string& bytes)
{
    std::vector<std::string> blocks;
    for (std::size_t at = 0; at + kBlockSize <= bytes.size(); at += kBlockSize) {
        blocks.push_back(bytes.substr(at, kBlockSize));
    }
    return blocks;
}

// A cache, when there is one, is a whole block of `history` (oldest first),
// and every later block but the last has its flags (SOK to SBM): a flag change
// is written at once, and only the last block's write can have been cut short.
void ExpectCacheOnAHistoryBlock(const std::string& cache, const std::vector<std::string>& history,
                                const std::string& when)
{
    if (cache.empty()) {
        return;
    }
    ASSERT_EQ(cache.size(), kBlockSize) << when << ": a cache is never torn";
    std::size_t at = history.size();
    while (at > 0 && history[at - 1] != cache) {
        --at;
    }
    ASSERT_GT(at, 0u) << when << ": the cache holds a block the history lacks";
    for (std::size_t later = at; later + 1 < history.size(); ++later) {
        EXPECT_EQ(history[later].compare(4, 5, cache, 4, 5), 0)
            << when << ": block " << later + 1 << " changed a flag the cache lacks";
    }
}

class Durability : public EndToEnd {
protected:
    std::vector<std::string> mounted;

    void TearDown() override
    {
        while (!mounted.empty()) {
            Unmount();
        }
        if (state.rfind("/dev/shm/", 0) == 0) {
            fs::remove_all(state);
        }
        EndToEnd::TearDown();
    }

    int Shell(const std::string& command)
    {
        Child shell({"/bin/sh", "-c", command}, dir + "/shell.err");
        return shell.Wait(seconds(60));
    }

    // Mounts the ext4 image `image` on the folder `at`.
    bool Mount(const std::string& image, const std::string& at)
    {
        const bool done = Shell("mkdir -p " + at + " && mount -o loop " + image + " " + at) == 0;
        if (done) {
            mounted.push_back(at);
        }
        return done;
    }

    void Unmount()
    {
        Shell("umount " + mounted.back());
        mounted.pop_back();
    }

    // The host under strace with `injection` (`-e inject=...`).
    std::unique_ptr<Child> Injected(const std::string& injection,
                                    std::vector<std::string> options)
    {
        std::vector<std::string> argv{kStrace,        "-f", "-qq", "-o", "/dev/null", "-e",
                                      "trace=fsync,fdatasync", "-e", injection, QUILL_SMDHOST};
        argv.insert(argv.end(), options.begin(), options.end());
        return std::make_unique<Child>(argv, dir + "/smdhost.err");
    }
};

// Each run on a new state folder in memory (a kill comes at the call all the
// same), killed at call N of fdatasync or fsync (strace counts them per
// thread; the host makes them all on the device's thread), N from 1 until a
// run ends first. Under ThreadSanitizer each start of the host takes far
// longer; its first 4 cycles already reach every kind of flush (the history,
// a temporary file, the folder, a rotation).
TEST_F(Durability, KillAtEveryFlushOfTwentyCyclesAcrossRotationsLeavesTheCacheOnAHistoryBlock)
{
    if (!fs::exists(kStrace)) {
        GTEST_SKIP() << "needs strace (Debian's strace) to kill the host at each flush";
    }
    const unsigned int cycles = kThreadSanitizer ? 4 : 20;
    char memory[] = "/dev/shm/quill-kill-XXXXXX";
    ASSERT_NE(mkdtemp(memory), nullptr);
    state = memory;
    StartSim(kFlapping);
    Json::Value device;
    device[0]["data_id"] = kDataId;
    device[0]["poll_interval"] = 0;
    device[0]["history_max_bytes"] = static_cast<Json::UInt>(5 * kBlockSize);
    const std::string config = WriteConfig(2.0, device);
    unsigned int kills = 0;
    for (const std::string call : {"fdatasync", "fsync"}) {
        for (unsigned int n = 1;; ++n) {
            fs::remove_all(state);
            const int status = Injected("inject=" + call + ":signal=SIGKILL:when=" +
                                            std::to_string(n),
                                        {"--config", config, "--cycles", std::to_string(cycles),
                                         "--brief", "--module-output", "/dev/null"})
                                   ->Wait(seconds(60));
            const std::string when = call + " " + std::to_string(n);
            ASSERT_TRUE(status == 128 + SIGKILL || status == 0) << when << ": " << status;
            const std::string earlier = ReadFile(state + "/42.history.1");
            EXPECT_EQ(earlier.size() % kBlockSize + History().size() % kBlockSize, 0u) << when;
            ExpectCacheOnAHistoryBlock(ReadFile(state + "/42.cache"),
                                       BlocksOf(earlier + History()), when);
            if (status == 0) {
                break;
            }
            ++kills;
        }
    }
    EXPECT_GT(kills, cycles) << "a flush of each block and of some cache writes";
}

TEST_F(Durability, FlushThatFailsLosesItsBlockAloneRolledBackAndNeverCached)
{
    if (!fs::exists(kStrace)) {
        GTEST_SKIP() << "needs strace (Debian's strace) to fail a flush";
    }
    StartSim(kFlapping);
    auto host = Injected("inject=fdatasync:error=EIO:when=3",
                         {"--json", "--config", WriteConfig(2.0), "--cycles", "5",
                          "--module-output", "/dev/null"});
    Events events;
    EXPECT_EQ(Finish(*host, events), 3) << Errors();

    const Events storage = Of(events, "storage");
    ASSERT_EQ(storage.size(), 2u);
    EXPECT_EQ(storage[0]["detail"].asString(),
              "cannot store in " + state + "/42.history: Input/output error");
    EXPECT_EQ(storage[1]["state"].asString(), "stored");
    EXPECT_EQ(History().size(), 4 * kBlockSize) << "blocks 1, 2, 4 and 5";
    EXPECT_EQ(ReadFile(state + "/42.cache"), History().substr(3 * kBlockSize));
}

// Each power loss: the image of the host's ext4 file system copied while the
// host is stopped, after `told[loss]` blocks were told; then the host started
// on the copy for a cycle, which keeps what it finds there.
TEST_F(Durability, PowerLossCostsAtMostTheBlockBeingStoredAndTheCacheStaysOnAHistoryBlock)
{
    const std::string image = dir + "/disk.img";
    if (geteuid() != 0 ||
        Shell("truncate -s 16M " + image +
              " && mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 " + image) != 0 ||
        !Mount(image, dir + "/disk")) {
        GTEST_SKIP() << "needs root, mkfs.ext4 and a loop device to mount an ext4 image";
    }
    state = dir + "/disk/state";
    StartSim(kFlapping);
    Json::Value device;
    device[0]["data_id"] = kDataId;
    device[0]["poll_interval"] = 0.05;
    auto host = StartHost(WriteConfig(2.0, device), "", {"--module-output", "/dev/null"});
    std::vector<std::size_t> told;
    Events events;
    for (std::size_t loss = 0; loss < 3; ++loss) {
        while (Of(events, "block").size() < 3 + 5 * loss) {
            ASSERT_TRUE(ReadUntil(*host, events, "block")) << Errors();
        }
        host->Signal(SIGSTOP);
        told.push_back(Of(events, "block").size());
        Shell("cp --sparse=always " + image + " " + dir + "/lost" + std::to_string(loss));
        host->Signal(SIGCONT);
    }
    host->Signal(SIGTERM);
    EXPECT_EQ(Finish(*host, events), 0) << Errors();
    const std::string stored = History();
    Unmount();

    sim = StartSimAt(dir + "/ups-after", kFlapping);
    device[0]["port"] = dir + "/ups-after";
    for (std::size_t loss = 0; loss < told.size(); ++loss) {
        const std::string lost = dir + "/lost" + std::to_string(loss);
        ASSERT_TRUE(Mount(lost, lost + "-disk"));
        state = lost + "-disk/state";
        const std::string cache = ReadFile(state + "/42.cache");
        Events restart;
        ASSERT_EQ(RunHost(WriteConfig(2.0, device), 1, restart, {"--module-output", "/dev/null"}),
                  0)
            << Errors();
        std::vector<std::string> kept = BlocksOf(History());
        ASSERT_FALSE(kept.empty());
        kept.pop_back();  // the restart's own
        const std::string when = "power lost after block " + std::to_string(told[loss]);
        EXPECT_GE(kept.size() + 1, told[loss]) << when << ": more than one block lost";
        EXPECT_EQ(BlocksOf(stored.substr(0, kept.size() * kBlockSize)), kept)
            << when << ": what it keeps is what the host stored";
        ExpectCacheOnAHistoryBlock(cache, kept, when);
        Unmount();
    }
}

TEST_F(Durability, SecondHostOnTheStateFilesOfADeviceIsRefusedNamingTheFirst)
{
    StartSim(kFlapping);
    auto other_ups = StartSimAt(dir + "/ups-b", R"({"steps": [{"flags": {"SOK": 1}}]})");
    Json::Value device;
    device[0]["data_id"] = 1;
    auto first = StartHost(WriteConfig(2.0, device), "", {"--module-output", "/dev/null"});
    Events first_events;
    ASSERT_TRUE(ReadUntil(*first, first_events, "block")) << Errors();

    device[0]["port"] = dir + "/ups-b";
    const std::string second = WriteConfig(2.0, device);
    Events refused;
    EXPECT_EQ(RunHost(second, 2, refused), 2) << Errors();
    ASSERT_EQ(Of(refused, "error").size(), 1u) << Errors();
    EXPECT_EQ(Of(refused, "error")[0]["detail"].asString(),
              "another host runs this device on its state files (" + state +
                  "/1.lock is held by smdhost (pid " + std::to_string(first->Pid()) +
                  ")); one host per data id and state folder");
    EXPECT_TRUE(Of(refused, "block").empty()) << "the first host's cache is not restored";

    first->Signal(SIGTERM);
    Finish(*first, first_events);
    EXPECT_EQ(ReadFile(state + "/1.history").size(),
              Of(first_events, "block").size() * kBlockSize)
        << "the first host's blocks alone";
    Events then;
    EXPECT_EQ(RunHost(second, 2, then), 0) << "free once the first host ended: " << Errors();
}

}  // namespace
