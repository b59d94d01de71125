// q1sim: a UPS of the public Megatec "Q1" protocol on a pseudo-terminal, for
// measuring NUT's own serial driver side by side with the bench host. It
// answers at the line's pace or at once, and says each status poll it
// answered, so that whoever runs the driver knows how many polls it made.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "bench/q1sim/Q1Answers.h"
#include "sim/StopSignals.h"
#include "sim/UpsLine.h"
#include "tools/common/CommandLine.h"
#include "tools/common/Diagnostics.h"
#include "tools/common/ExitStatus.h"

namespace {

using command_line::Arg;

void Say(const std::string& line)
{
    std::printf("q1sim: %s\n", line.c_str());
    std::fflush(stdout);
}

struct Options {
    std::string link;
    int baud = 2400;
    bool fast = false;
};

enum Id { kFast = 1000 };

const command_line::Program& Q1SimProgram()
{
    static const command_line::Program program{
        "q1sim",
        "[options]",
        "simulate a Megatec Q1 UPS on a pseudo-terminal",
        "Answers \"Q1\\r\", \"F\\r\" and \"I\\r\" as a UPS of the Megatec protocol does, and "
        "prints \"q1sim: polls N\" after each status answer.",
        {
            {'l', "link", 'l', Arg::Required, "PATH",
             "Make PATH a symbolic link to the pseudo-terminal's end.",
             command_line::Completes::File},
            {'b', "baud", 'b', Arg::Required, "N",
             "Line speed, and the pace of the answers (default 2400)."},
            {kFast, "fast", 0, Arg::None, nullptr, "Answer at once, unpaced."},
        },
        {
            {"0", "stopped by SIGINT or SIGTERM"},
            {"2", "bad options, or the pseudo-terminal could not be made or was lost"},
        },
        "",
    };
    return program;
}

// A line speed in bit/s; the pseudo-terminal refuses one termios does not know.
int Speed(const std::string& text)
{
    char* end = nullptr;
    const long baud = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || baud <= 0 || baud > 4000000) {
        command_line::Refuse(Q1SimProgram(), "not a line speed: " + text);
    }
    return static_cast<int>(baud);
}

Options ReadOptions(int argc, char** argv)
{
    Options options;
    const auto operands =
        command_line::Parse(argc, argv, Q1SimProgram(), [&](int id, const char* value) {
            switch (id) {
            case 'l': options.link = value; break;
            case 'b': options.baud = Speed(value); break;
            case kFast: options.fast = true; break;
            }
        });
    if (!operands.empty()) {
        command_line::Refuse(Q1SimProgram(), "unexpected argument: " + operands.front());
    }
    return options;
}

// Answers commands until a signal stops it; counts the status polls.
void Answer(UpsLine& line, const Options& options, const std::atomic<bool>& stop)
{
    unsigned long polls = 0;
    while (!stop) {
        for (const std::string& command : line.Commands()) {
            const auto answer = q1::AnswerTo(command);
            if (answer) {
                line.Send(*answer, !options.fast, stop);
            }
            if (command == "Q1") {
                Say("polls " + std::to_string(++polls));
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = ReadOptions(argc, argv);
    const std::atomic<bool>& stop = StopOnSignals();
    try {
        UpsLine line("", options.link, options.baud);
        Say("UPS on " + line.Where());
        Answer(line, options, stop);
    } catch (const std::exception& error) {
        diagnostics::Error(error.what());
        return exit_status::q1sim::kCannotStart;
    }
    return exit_status::kSuccess;
}
