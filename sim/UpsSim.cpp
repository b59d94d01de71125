// upssim: the UPS side of the line. Answers "RS\r" and "RD\r" byte for byte as
// a UPS does, on a pseudo-terminal or a serial device, with the readings of a
// scenario and, on request, faults.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tools/common/Diagnostics.h"
#include "tools/common/Escape.h"
#include "tools/common/ExitStatus.h"
#include "tools/common/Plural.h"
#include "sim/Scenario.h"
#include "sim/UpsAnswers.h"
#include "sim/SimOptions.h"
#include "sim/UpsFaults.h"
#include "sim/UpsLine.h"
#include "sim/StopSignals.h"

namespace {

using Clock = std::chrono::steady_clock;
using ups_faults::Answer;
using ups_faults::Fault;

void Say(const std::string& line)
{
    std::printf("upssim: %s\n", line.c_str());
    std::fflush(stdout);
}

class Simulator {
public:
    Simulator(const SimOptions& options, ups_sim::Scenario scenario, UpsLine& line,
              const std::atomic<bool>& stop)
        : options_(options), player_(std::move(scenario)), rng_(options.seed), line_(line),
          stop_(stop)
    {
    }

    // Answers commands until a signal stops it or the line fails.
    void Run()
    {
        while (!stop_) {
            for (const std::string& line : line_.Commands()) {
                Respond(Command(line));
            }
        }
    }

private:
    // The command of a line, without noise a host may have sent before it.
    static std::string Command(const std::string& line)
    {
        return line.size() >= 2 ? line.substr(line.size() - 2) : line;
    }

    void Respond(const std::string& command)
    {
        std::vector<ups_answers::Line> lines;
        Answer kind;
        if (command == "RS") {
            if (player_.Poll(Clock::now())) {
                Say("step " + std::to_string(player_.StepIndex() + 1) + "/" +
                    std::to_string(player_.StepCount()) + ": " + player_.Step().name);
            }
            lines = ups_answers::StatusLines(player_.Reading());
            kind = Answer::Status;
        } else if (command == "RD") {
            lines = ups_answers::DataLines(player_.Reading());
            kind = Answer::Data;
        } else {
            if (options_.verbose) {
                Say("ignored \"" + EscapeBytes(command) + "\"");
            }
            return;
        }
        const std::optional<Fault> fault = DrawFault(kind);
        if (options_.verbose) {
            Say(command + " answered" +
                (fault ? std::string(" with fault ") + ups_faults::InfoOf(*fault).name : ""));
        }
        const auto chunks = fault ? ups_faults::Inject(*fault, kind, lines, rng_)
                                  : std::vector<std::string>{ups_answers::Join(lines)};
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            if (i > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(
                    std::uniform_int_distribution<int>(1, 10)(rng_)));
            }
            Send(chunks[i]);
        }
    }

    // The fault this answer gets, if any: the scenario step's rates over the
    // command line's, each drawn in table order until one hits.
    std::optional<Fault> DrawFault(Answer kind)
    {
        std::map<Fault, double> rates = options_.faults;
        for (const auto& [fault, rate] : player_.Step().faults) {
            rates[fault] = rate;
        }
        for (const auto& info : ups_faults::kFaults) {
            const auto rate = rates.find(info.fault);
            if (rate == rates.end() || !ups_faults::AppliesTo(info.fault, kind)) {
                continue;
            }
            if (std::bernoulli_distribution(rate->second)(rng_)) {
                return info.fault;
            }
        }
        return std::nullopt;
    }

    // Writes at the line's pace: ten bits a byte at the line speed.
    void Send(const std::string& bytes)
    {
        if (options_.verbose) {
            Say("sent " + Counted(bytes.size(), "byte") + ": \"" + EscapeBytes(bytes) + "\"");
        }
        line_.Send(bytes, !options_.fast, stop_);
    }

    const SimOptions& options_;
    ups_sim::ScenarioPlayer player_;
    std::mt19937 rng_;
    UpsLine& line_;
    const std::atomic<bool>& stop_;
};

}  // namespace

int main(int argc, char** argv)
{
    const SimOptions options = ReadSimOptions(argc, argv);
    const std::atomic<bool>& stop = StopOnSignals();
    try {
        ups_sim::Scenario scenario = options.scenario.empty()
                                         ? ups_sim::SteadyScenario()
                                         : ups_sim::LoadScenario(options.scenario);
        if (!scenario.description.empty()) {
            Say("scenario: " + scenario.description);
        }
        UpsLine line(options.port, options.link, options.baud);
        Say("UPS on " + line.Where());
        Simulator(options, std::move(scenario), line, stop).Run();
    } catch (const std::exception& error) {
        diagnostics::Error(error.what());
        return exit_status::upssim::kCannotStart;
    }
    return 0;
}
