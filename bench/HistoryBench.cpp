// What the history tool costs a user: smdhist run as a program on a history
// of a million blocks (alarms flapping, a gap every 97 blocks), once per
// output format, its output thrown away. The time is smdhist's CPU time
// (user and system, with gnuplot's for a picture); the counters give it per
// million blocks and the peak resident memory.
//
//   QUILL_SMDHIST=PATH         another smdhist to measure (an older build, say)
//   QUILL_HISTORY_BLOCKS=N     the history's length (default 1,000,000)
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/HistoryMaker.h"

#ifndef QUILL_SMDHIST
#error "QUILL_SMDHIST names the built smdhist"
#endif

namespace {

std::uint64_t Blocks()
{
    const char* blocks = std::getenv("QUILL_HISTORY_BLOCKS");
    return blocks != nullptr ? std::strtoull(blocks, nullptr, 10) : 1000000;
}

std::string Program()
{
    const char* program = std::getenv("QUILL_SMDHIST");
    return program != nullptr ? program : QUILL_SMDHIST;
}

// The history, made once per run in a folder of its own.
class History {
public:
    History()
    {
        char name[] = "/tmp/smdhist-bench-XXXXXX";
        if (mkdtemp(name) != nullptr) {
            dir_ = name;
            made_ = history_maker::WriteFlappingHistory(dir_ + "/1001.history", Blocks());
        }
    }
    ~History() { std::filesystem::remove_all(dir_); }

    bool Made() const { return made_; }
    const std::string& Dir() const { return dir_; }
    std::string Path() const { return dir_ + "/1001.history"; }

private:
    std::string dir_;
    bool made_ = false;
};

const History& TheHistory()
{
    static const History history;
    return history;
}

struct Run {
    int status = -1;
    double cpu_seconds = 0;
    long peak_kib = 0;
};

Run RunSmdhist(const std::vector<std::string>& args)
{
    const std::string program = Program();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Run run;
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peak_kib = usage.ru_maxrss;
    return run;
}

void BM_Smdhist(benchmark::State& state, std::vector<std::string> args)
{
    const History& history = TheHistory();
    if (!history.Made()) {
        state.SkipWithError("cannot write the history");
        return;
    }
    for (std::string& arg : args) {
        arg = arg.rfind("PICTURE", 0) == 0 ? history.Dir() + "/" + arg : arg;
    }
    args.push_back(history.Path());
    Run run;
    for (auto _ : state) {
        run = RunSmdhist(args);
        if (run.status != 0) {
            state.SkipWithError(("smdhist ended with status " + std::to_string(run.status)).c_str());
            return;
        }
        state.SetIterationTime(run.cpu_seconds);
    }
    state.counters["s_per_1M_blocks"] = run.cpu_seconds * 1e6 / static_cast<double>(Blocks());
    state.counters["peak_KiB"] = static_cast<double>(run.peak_kib);
}

#define SMDHIST_FORMAT(name, ...)                                                    \
    BENCHMARK_CAPTURE(BM_Smdhist, name, std::vector<std::string>{__VA_ARGS__})      \
        ->UseManualTime()                                                           \
        ->Unit(benchmark::kMillisecond)

SMDHIST_FORMAT(table);
SMDHIST_FORMAT(csv, "--csv");
SMDHIST_FORMAT(json, "--json");
SMDHIST_FORMAT(summary, "--summary");
SMDHIST_FORMAT(summary_json, "--summary", "--json");
SMDHIST_FORMAT(openmetrics, "--openmetrics");
SMDHIST_FORMAT(influx, "--influx");
SMDHIST_FORMAT(plot_svg, "--plot", "PICTURE.svg");
SMDHIST_FORMAT(plot_png, "--plot", "PICTURE.png");

}  // namespace
