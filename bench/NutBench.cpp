// What serving Network UPS Tools adds to a poll cycle of the bench host: the
// block event of a completed cycle handed to the NUT output (the block mapped
// to variables, the changes found, the lines queued for upsd's connection and
// the server thread woken), against the same event without it. The device
// thread pays this; the sockets are written by the server's own thread.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "bench/AllocationReport.h"
#include "tools/smdhost/EventLog.h"
#include "tools/smdhost/NutOutput.h"
#include "ups/QuillmarUPS_Data.h"

namespace {

// The console's share of an event, without writing it anywhere.
class NullOutput : public EventOutput {
public:
    void Take(const events::Event& event) override { benchmark::DoNotOptimize(event.fact.index()); }
};

// A block as the module publishes it: on line, or on battery with no input.
std::string BlockBytes(bool on_battery)
{
    QuillmarUPS_Block_t block{};
    block.data_id = 1001;
    block.data.suf = block.data.sbm = on_battery ? 1 : 0;
    float* values = &block.data.dvia;
    const float kValues[] = {230.5f, 229.8f, 231.1f, 220, 220.1f, 219.9f, 35, 36.5f,
                             34,     28.5f,  50,     54.6f, 25, 13.6f, 20};
    for (std::size_t i = 0; i < 15; ++i) {
        std::memcpy(reinterpret_cast<unsigned char*>(values) + i * sizeof(float),
                    &kValues[i], sizeof(float));
    }
    if (on_battery) {
        block.data.dvia = block.data.dvib = block.data.dvic = 0;
        block.data.dvbt = 48.2f;
    }
    block.time_stamp = {2026, 12, 8, 16, 55, 58};
    return std::string(reinterpret_cast<const char*>(&block), sizeof(block));
}

// The bench host's log with one device served to a client that reads all it
// is sent, as upsd does.
class Served {
public:
    explicit Served(bool nut)
    {
        char name[] = "/tmp/quill-nut-bench-XXXXXX";
        folder_ = mkdtemp(name);
        log_.AddOutput(std::make_shared<NullOutput>(), EventLog::Stream::Events);
        if (!nut) {
            return;
        }
        BenchConfig config;
        config.nut_dir = folder_ + "/nut";
        config.devices.push_back(DefaultDevice("/dev/ttyUSB0"));
        safe_file::FolderRules rules;
        rules.create = true;
        // upsd as this user, reaching the socket in this user's folder.
        const nut::Account account{safe_file::UserName(geteuid()), safe_file::GroupName(getegid())};
        nut_ = ServeNut(config, rules, account, log_);
        client_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        (config.nut_dir + "/smdhost-ups-1").copy(address.sun_path, sizeof(address.sun_path) - 1);
        connect(client_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        send(client_, "DUMPALL\n", 8, 0);
        reader_ = std::thread([fd = client_] {
            char bytes[4096];
            while (recv(fd, bytes, sizeof(bytes), 0) > 0) {
            }
        });
    }
    ~Served()
    {
        if (nut_) {
            nut_->Stop();
        }
        if (client_ >= 0) {
            shutdown(client_, SHUT_RDWR);
            reader_.join();
            close(client_);
        }
        std::filesystem::remove_all(folder_);
    }

    std::string SocketPath() const { return folder_ + "/nut/smdhost-ups-1"; }

    void Block(unsigned int cycle, const std::string& bytes)
    {
        log_.Tell(device_, events::Block::Of(events::Source::Poll, cycle, 5017,
                                             reinterpret_cast<const unsigned char*>(bytes.data()),
                                             static_cast<unsigned int>(bytes.size())));
    }

private:
    std::string folder_;
    EventLog log_;
    std::shared_ptr<NutOutput> nut_;
    EventLog::Device device_{"ups-1", 1};
    int client_ = -1;
    std::thread reader_;
};

// Times block events, each cycle's block differing from the last (every
// status and voltage line changes) or repeating it (only DATAOK is sent);
// reports the longest one, which the machine's other work lengthens too.
void RunBlocks(benchmark::State& state, Served& served, bool changing)
{
    const std::string blocks[] = {BlockBytes(false), BlockBytes(true)};
    unsigned int cycle = 0;
    double longest = 0;
    AllocationReport report(state);
    for (auto _ : state) {
        ++cycle;
        const auto start = std::chrono::steady_clock::now();
        served.Block(cycle, blocks[changing ? cycle % 2 : 0]);
        const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
        longest = std::max(longest, took.count());
    }
    state.counters["longest_us"] = longest;
}

void RunBlocks(benchmark::State& state, bool nut, bool changing)
{
    Served served(nut);
    RunBlocks(state, served, changing);
}

void BM_BlockEventWithoutNut(benchmark::State& state) { RunBlocks(state, false, true); }
BENCHMARK(BM_BlockEventWithoutNut);

void BM_BlockEventServedUnchanged(benchmark::State& state) { RunBlocks(state, true, false); }
BENCHMARK(BM_BlockEventServedUnchanged);

void BM_BlockEventServedChanging(benchmark::State& state) { RunBlocks(state, true, true); }
BENCHMARK(BM_BlockEventServedChanging);

// A local client that asks for everything as fast as it can, reading every
// answer, on a connection of its own made again whenever it is dropped.
class Flood {
public:
    explicit Flood(const std::string& socket_path)
        : thread_([this, socket_path] {
              const std::string requests = [] {
                  std::string text;
                  for (int i = 0; i < 200; ++i) {
                      text += "DUMPALL\n";
                  }
                  return text;
              }();
              while (!stop_) {
                  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
                  sockaddr_un address{};
                  address.sun_family = AF_UNIX;
                  socket_path.copy(address.sun_path, sizeof(address.sun_path) - 1);
                  connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
                  char bytes[65536];
                  while (!stop_ && send(fd, requests.data(), requests.size(), MSG_NOSIGNAL) > 0 &&
                         recv(fd, bytes, sizeof(bytes), 0) > 0) {
                  }
                  close(fd);
              }
          })
    {
    }
    ~Flood()
    {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Block events while a client floods the socket: what a hostile local
// client can add to a cycle.
void BM_BlockEventServedUnderFlood(benchmark::State& state)
{
    Served served(true);
    Flood flood(served.SocketPath());
    RunBlocks(state, served, true);
}
BENCHMARK(BM_BlockEventServedUnderFlood);

}  // namespace

BENCHMARK_MAIN();
