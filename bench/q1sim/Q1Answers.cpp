#include "bench/q1sim/Q1Answers.h"

namespace q1 {
namespace {

// The commands that act on the UPS and have no answer.
bool OnlyActs(const std::string& command)
{
    if (command == "Q" || command == "C" || command == "CT" || command == "T" ||
        command == "TL") {
        return true;
    }
    const char first = command.empty() ? '\0' : command[0];
    return (first == 'T' || first == 'S') && command.size() > 1;
}

}  // namespace

std::optional<std::string> AnswerTo(const std::string& command)
{
    if (command == "Q1") {
        return std::string(kStatus);
    }
    if (command == "F") {
        return std::string(kRatings);
    }
    if (command == "I") {
        return std::string(kInfo);
    }
    if (command.empty() || OnlyActs(command)) {
        return std::nullopt;
    }
    return command + "\r";
}

}  // namespace q1
