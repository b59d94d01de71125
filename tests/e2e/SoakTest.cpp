// Long runs, unpaced: whatever a cycle leaks adds up over 100,000 of them. The
// host's peak memory and its open descriptors are read from /proc while it
// runs; the history must hold exactly one block per cycle.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/HostFixture.h"

namespace {

using namespace e2e;

// Growth of the peak after the first cycles that still counts as flat: the
// allocator's arenas settle in steps of this order.
constexpr long kFlatKib = 1024;

struct Probe {
    long peak_kib = -1;
    std::vector<std::string> descriptors;  // "fd -> what", sorted
};

Probe Look(pid_t pid)
{
    Probe probe;
    const std::string proc = "/proc/" + std::to_string(pid);
    std::istringstream status(ReadFile(proc + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            probe.peak_kib = std::stol(line.substr(6));
        }
    }
    if (DIR* fds = opendir((proc + "/fd").c_str())) {
        while (const dirent* entry = readdir(fds)) {
            char target[256] = {};
            const std::string path = proc + "/fd/" + entry->d_name;
            if (entry->d_name[0] == '.' || readlink(path.c_str(), target, sizeof(target) - 1) <= 0) {
                continue;
            }
            // A cache being replaced at this moment by a device thread.
            if (std::string(target).find(".cache.tmp-") == std::string::npos) {
                probe.descriptors.push_back(std::string(entry->d_name) + " -> " + target);
            }
        }
        closedir(fds);
    }
    std::sort(probe.descriptors.begin(), probe.descriptors.end());
    return probe;
}

struct Soak {
    const char* name;
    unsigned int devices;
    unsigned int cycles;  // of each device
};

const Soak kSoaks[] = {
    {"one_device_100000_cycles", 1, 100000},
    {"eight_devices_10000_cycles_each", 8, 10000},
};

void PrintTo(const Soak& soak, std::ostream* out) { *out << soak.name; }

class Soaks : public EndToEnd, public ::testing::WithParamInterface<Soak> {
protected:
    // The history is flushed to disk every cycle, which on a disk costs more
    // than the cycle itself; in memory it costs nothing, and what is measured
    // here is the host.
    void SetUp() override
    {
        EndToEnd::SetUp();
        char name[] = "/dev/shm/quill-soak-XXXXXX";
        if (mkdtemp(name) != nullptr) {
            state = name;
        }
    }

    void TearDown() override
    {
        if (state.rfind("/dev/shm/", 0) == 0) {
            std::filesystem::remove_all(state);
        }
        EndToEnd::TearDown();
    }

    std::size_t Blocks(unsigned int devices) const
    {
        std::size_t bytes = 0;
        for (unsigned int i = 0; i < devices; ++i) {
            struct stat st {};
            if (stat((state + "/" + std::to_string(100 + i) + ".history").c_str(), &st) == 0) {
                bytes += static_cast<std::size_t>(st.st_size);
            }
        }
        return bytes / kBlockSize;
    }
};

TEST_P(Soaks, KeepMemoryAndDescriptorsFlatAndStoreOneBlockPerCycle)
{
    const Soak& soak = GetParam();
    std::vector<std::unique_ptr<Child>> sims;
    Json::Value devices;
    for (unsigned int i = 0; i < soak.devices; ++i) {
        const std::string link = dir + "/ups" + std::to_string(i);
        sims.push_back(StartSimAt(link, R"({"steps": [{"name": "on line"}]})"));
        devices[i]["data_id"] = 100 + i;
        devices[i]["port"] = link;
        devices[i]["poll_interval"] = 0;
    }
    // The events go nowhere: reading 100,000 blocks would cost more than the run.
    Child host({"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/null", QUILL_SMDHOST, "--config",
                WriteConfig(5.0, devices), "--cycles", std::to_string(soak.cycles),
                "--module-output", "/dev/null"},
               dir + "/smdhost.err");
    const std::size_t warm = 1000 * soak.devices;
    const std::size_t total = std::size_t{soak.cycles} * soak.devices;
    Probe first;
    Probe last;
    int status = -1;
    while ((status = host.Wait(std::chrono::milliseconds(100))) == -1) {
        const std::size_t blocks = Blocks(soak.devices);
        const Probe now = Look(host.Pid());
        if (blocks < warm || blocks >= total || now.peak_kib < 0) {
            continue;
        }
        (first.peak_kib < 0 ? first : last) = now;
    }
    EXPECT_EQ(status, 0) << Errors();
    ASSERT_GE(first.peak_kib, 0) << "no look after the first cycles";
    ASSERT_GE(last.peak_kib, 0) << "no look near the end";
    EXPECT_LE(last.peak_kib, first.peak_kib + kFlatKib)
        << "peak " << first.peak_kib << " KiB after " << warm << " cycles, " << last.peak_kib
        << " KiB near the end";
    EXPECT_EQ(last.descriptors, first.descriptors);
    for (unsigned int i = 0; i < soak.devices; ++i) {
        EXPECT_EQ(ReadFile(state + "/" + std::to_string(100 + i) + ".history").size(),
                  std::size_t{soak.cycles} * kBlockSize)
            << "device " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Soaks, ::testing::ValuesIn(kSoaks),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
