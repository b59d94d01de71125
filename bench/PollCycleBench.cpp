// The cost of the driver's work per poll cycle, per cache reload and per
// settings read, with the heap allocations each makes.
#include <benchmark/benchmark.h>

#include <iostream>
#include <memory>
#include <streambuf>
#include <string>

#include <json/value.h>

#include "bench/AllocationReport.h"
#include "framework/SMDController.h"
#include "plugin/Entry.h"
#include "sim/UpsAnswers.h"
#include "ups/QuillmarUPS.h"

namespace {

// A host that takes every call and does nothing with it.
class QuietController : public SMDController {};

struct Device {
    std::shared_ptr<QuietController> host = std::make_shared<QuietController>();
    std::shared_ptr<SMDSPDevice> ups;

    Device()
    {
        auto provider = std::dynamic_pointer_cast<SMDSPDeviceProvider>(get_providers().at(0));
        ups.reset(provider->create());
        ups->Init(host, 1001, Json::Value(Json::objectValue));
    }

    int Feed(std::string& bytes, std::size_t from, std::size_t len)
    {
        return ups->process(reinterpret_cast<unsigned char*>(&bytes[from]),
                            static_cast<unsigned int>(len));
    }
};

std::string Status() { return ups_answers::StatusAnswer(ups_answers::OnLine()); }
std::string Data() { return ups_answers::DataAnswer(ups_answers::OnLine()); }

// Answers padded to the whole 4 KiB buffer with runs that end in lone CRs:
// no extra lines, nothing the driver refuses, and every tag search has to
// walk past the padding.
std::string Padded(const std::string& answer)
{
    std::string padding;
    while (padding.size() + 128 + answer.size() <= 4096) {
        padding += std::string(127, 'x') + "\r";
    }
    padding += std::string(4096 - answer.size() - padding.size(), 'x');
    return padding + answer;
}

void RunCycle(benchmark::State& state, std::string status, std::string data, std::size_t chunk)
{
    Device device;
    AllocationReport report(state);
    for (auto _ : state) {
        device.ups->RefreshStatus();
        for (std::size_t at = 0; at < status.size(); at += chunk) {
            device.Feed(status, at, std::min(chunk, status.size() - at));
        }
        int result = 1;
        for (std::size_t at = 0; at < data.size(); at += chunk) {
            result = device.Feed(data, at, std::min(chunk, data.size() - at));
        }
        if (result != 0) {
            state.SkipWithError("the cycle did not complete");
            break;
        }
    }
}

void BM_CycleWholeAnswers(benchmark::State& state) { RunCycle(state, Status(), Data(), 4096); }
BENCHMARK(BM_CycleWholeAnswers);

void BM_CycleByteByByte(benchmark::State& state) { RunCycle(state, Status(), Data(), 1); }
BENCHMARK(BM_CycleByteByByte);

void BM_CycleWorstCase4KiBAnswers(benchmark::State& state)
{
    RunCycle(state, Padded(Status()), Padded(Data()), 4096);
}
BENCHMARK(BM_CycleWorstCase4KiBAnswers);

void BM_LoadFromCache(benchmark::State& state)
{
    Device device;
    const std::string block(76, '\x01');
    AllocationReport report(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(device.ups->LoadFromCache(block));
    }
}
BENCHMARK(BM_LoadFromCache);

void BM_InitSettingFiveSignals(benchmark::State& state)
{
    Device device;
    Json::Value settings;
    settings["appSetting"]["b_mode"] = 3;
    for (const char* key : {"sok", "sbp", "suf", "sbl", "sbm"}) {
        Json::Value& signal = settings["thresholdSetting"][key];
        signal["SignalName"] = std::string("signal ") + key;
        signal["NMAlarmID"] = "0801";
        signal["ID"] = 1;
        signal["SignalNumber"] = 3;
    }
    AllocationReport report(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(device.ups->InitSetting(settings));
    }
}
BENCHMARK(BM_InitSettingFiveSignals);

// What one device costs in memory: its object, and what stays on the heap
// after a completed cycle.
void ReportFootprint(std::ostream& out)
{
    const std::size_t before = CurrentAllocations().live_bytes;
    {
        Device device;
        const std::size_t created = CurrentAllocations().live_bytes;
        std::string status = Status();
        std::string data = Data();
        const std::size_t answers = CurrentAllocations().live_bytes;
        device.ups->RefreshStatus();
        device.Feed(status, 0, status.size());
        device.Feed(data, 0, data.size());
        const std::size_t after_cycle = CurrentAllocations().live_bytes;
        out << "sizeof(QuillmarUPS): " << sizeof(QuillmarUPS) << " bytes\n"
            << "heap held by a new device with its host: " << created - before << " bytes\n"
            << "heap added by a completed cycle: " << after_cycle - answers << " bytes\n";
    }
}

// Takes the driver's diagnostic lines and keeps them off the console.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    std::ostream console(std::cout.rdbuf());
    NullBuffer discard;
    std::cout.rdbuf(&discard);
    ReportFootprint(console);
    benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    reporter.SetOutputStream(&console);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::cout.rdbuf(console.rdbuf());
    benchmark::Shutdown();
    return 0;
}
