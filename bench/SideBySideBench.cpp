// The bench host side by side with NUT's own serial driver, nutdrv_qx, each
// polling a simulated UPS on a pseudo-terminal once a second: the CPU time,
// context switches and system calls of a poll. A poll's cost is the
// difference of two runs of each program, a short and a long one, divided by
// the polls between them, so that starting and stopping cancel out. The
// programs of a round run at the same time, on the same machine's load; the
// repetitions give the medians. QUILL_SMDHOST_BASELINE adds another build of
// the bench host to each round, for a before and after of one run;
// QUILL_SIDE_POLLS=SHORT,LONG sets the lengths (default 2,42).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "bench/sidebyside/Contenders.h"
#include "tools/common/Diagnostics.h"
#include "tools/common/ExitStatus.h"

namespace {

using side_by_side::Contender;
using side_by_side::Cost;
using side_by_side::Mode;
using side_by_side::RunSettings;
using Contenders = std::vector<std::unique_ptr<Contender>>;

// Set when a measurement could not be made.
bool g_failed = false;

void Fail(benchmark::State& state, const std::string& why)
{
    g_failed = true;
    state.SkipWithError(why.c_str());
}

// The polls of the short and the long run.
std::pair<unsigned int, unsigned int> Lengths()
{
    unsigned int shorter = 2;
    unsigned int longer = 42;
    const char* set = std::getenv("QUILL_SIDE_POLLS");
    if (set != nullptr && (std::sscanf(set, "%u,%u", &shorter, &longer) != 2 || shorter < 1 ||
                           longer <= shorter)) {
        diagnostics::SetProgram("side_by_side_bench");
        diagnostics::Error(std::string("QUILL_SIDE_POLLS=") + set +
                           ": give SHORT,LONG with 1 <= SHORT < LONG");
        std::exit(exit_status::kUsage);
    }
    return {shorter, longer};
}

// Runs every contender at once; answers their costs in their order.
std::vector<Cost> RunTogether(const Contenders& contenders, const RunSettings& settings)
{
    std::vector<std::future<Cost>> runs;
    for (const auto& contender : contenders) {
        runs.push_back(std::async(std::launch::async,
                                  [&contender, settings] { return contender->Run(settings); }));
    }
    std::vector<Cost> costs;
    for (auto& run : runs) {
        costs.push_back(run.get());
    }
    return costs;
}

// What a poll cost each contender: the long run less the short, per poll.
struct PerPoll {
    std::vector<Cost> shorter;
    std::vector<Cost> longer;
    double polls = 1;

    double Of(std::size_t i, double Cost::*field) const
    {
        return (longer[i].*field - shorter[i].*field) / polls;
    }
    double Syscalls(std::size_t i, const std::string& name) const
    {
        const auto count = [&name](const Cost& cost) {
            const auto found = cost.syscalls.find(name);
            return found == cost.syscalls.end() ? 0.0 : static_cast<double>(found->second);
        };
        return (count(longer[i]) - count(shorter[i])) / polls;
    }
};

// One round: each contender's short run, then each one's long run.
bool MeasureRound(benchmark::State& state, const Contenders& contenders, RunSettings settings,
                  PerPoll& per_poll)
{
    const auto [shorter, longer] = Lengths();
    try {
        settings.polls = shorter;
        per_poll.shorter = RunTogether(contenders, settings);
        settings.polls = longer;
        per_poll.longer = RunTogether(contenders, settings);
    } catch (const std::exception& error) {
        Fail(state, error.what());
        return false;
    }
    per_poll.polls = longer - shorter;
    return true;
}

std::size_t IndexOf(const Contenders& contenders, const std::string& name)
{
    for (std::size_t i = 0; i < contenders.size(); ++i) {
        if (contenders[i]->Name() == name) {
            return i;
        }
    }
    return contenders.size();
}

// The machine's load over the last minute, as the round ended.
double LoadAverage()
{
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : 0;
}

void ReportCosts(benchmark::State& state, const Contenders& contenders, const PerPoll& per_poll,
                 bool serving)
{
    for (std::size_t i = 0; i < contenders.size(); ++i) {
        const std::string name = contenders[i]->Name();
        const double cpu = per_poll.Of(i, &Cost::cpu_us);
        state.counters[name + "_us"] = cpu;
        state.counters[name + "_us_per_byte"] = cpu / contenders[i]->WireBytes();
        state.counters[name + "_switches"] = per_poll.Of(i, &Cost::switches);
        if (serving) {
            state.counters[name + "_upsd_us"] = per_poll.Of(i, &Cost::upsd_cpu_us);
        }
    }
    const std::size_t host = IndexOf(contenders, "smdhost");
    const std::size_t driver = IndexOf(contenders, "nutdrv_qx");
    const std::size_t baseline = IndexOf(contenders, "baseline");
    const double host_cpu = per_poll.Of(host, &Cost::cpu_us);
    const double driver_cpu = per_poll.Of(driver, &Cost::cpu_us);
    state.counters["ratio"] = host_cpu / driver_cpu;
    state.counters["ratio_per_byte"] = (host_cpu / contenders[host]->WireBytes()) /
                                       (driver_cpu / contenders[driver]->WireBytes());
    if (baseline < contenders.size()) {
        state.counters["smdhost_vs_baseline"] = host_cpu / per_poll.Of(baseline, &Cost::cpu_us);
    }
    state.counters["load"] = LoadAverage();
}

// CPU time and context switches per poll; a round a repetition.
void SideBySide(benchmark::State& state, Mode mode)
{
    const Contenders contenders = side_by_side::Contenders();
    PerPoll per_poll;
    RunSettings settings;
    settings.mode = mode;
    for (auto _ : state) {
        if (!MeasureRound(state, contenders, settings, per_poll)) {
            break;
        }
    }
    if (!per_poll.longer.empty()) {
        ReportCosts(state, contenders, per_poll, mode == Mode::Serving);
    }
}

// The calls a poll makes most, "215 poll, 199 read, ...".
std::string MostCalled(const PerPoll& per_poll, std::size_t i)
{
    std::vector<std::pair<double, std::string>> calls;
    for (const auto& [name, count] : per_poll.longer[i].syscalls) {
        if (name != "total") {
            calls.emplace_back(per_poll.Syscalls(i, name), name);
        }
    }
    std::sort(calls.rbegin(), calls.rend());
    std::string text;
    for (std::size_t k = 0; k < std::min<std::size_t>(5, calls.size()); ++k) {
        char call[64];
        std::snprintf(call, sizeof(call), "%s%.0f %s", k == 0 ? "" : ", ", calls[k].first,
                      calls[k].second.c_str());
        text += call;
    }
    return text;
}

// System calls per poll, counted by strace in runs of their own.
void SideBySideSyscalls(benchmark::State& state, Mode mode)
{
    if (!side_by_side::CanCountSyscalls()) {
        Fail(state, "strace is not installed (cmake/install-deps.sh bench installs it)");
        return;
    }
    const Contenders contenders = side_by_side::Contenders();
    PerPoll per_poll;
    RunSettings settings;
    settings.mode = mode;
    settings.strace = true;
    for (auto _ : state) {
        if (!MeasureRound(state, contenders, settings, per_poll)) {
            break;
        }
    }
    if (per_poll.longer.empty()) {
        return;
    }
    std::string label;
    for (std::size_t i = 0; i < contenders.size(); ++i) {
        const std::string name = contenders[i]->Name();
        state.counters[name + "_syscalls"] = per_poll.Syscalls(i, "total");
        label += (i == 0 ? "" : "; ") + name + ": " + MostCalled(per_poll, i);
    }
    state.SetLabel(label);
}

void Configure(benchmark::internal::Benchmark* benchmark)
{
    benchmark->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
}

}  // namespace

BENCHMARK_CAPTURE(SideBySide, unpaced, Mode::Unpaced)->Apply(Configure);
BENCHMARK_CAPTURE(SideBySide, paced, Mode::Paced)->Apply(Configure);
BENCHMARK_CAPTURE(SideBySide, serving, Mode::Serving)->Apply(Configure);
BENCHMARK_CAPTURE(SideBySideSyscalls, unpaced, Mode::Unpaced)->Apply(Configure)->Repetitions(1);
BENCHMARK_CAPTURE(SideBySideSyscalls, paced, Mode::Paced)->Apply(Configure)->Repetitions(1);
BENCHMARK_CAPTURE(SideBySideSyscalls, serving, Mode::Serving)->Apply(Configure)->Repetitions(1);

// A measurement that could not be made fails the run (status 1), so that the
// suite's smoke run fails with it.
int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return exit_status::kUsage;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return g_failed ? 1 : exit_status::kSuccess;
}
