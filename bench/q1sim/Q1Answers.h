#pragma once

#include <optional>
#include <string>

// The UPS side of the Megatec "Q1" protocol, as NUT's serial driver
// nutdrv_qx (its megatec subdriver) asks: "Q1\r" for the status, "F\r" for
// the ratings, "I\r" for the maker and model. The readings are a steady UPS
// on line, each answer of the protocol's fixed width.
namespace q1 {

// The status answer to "Q1\r": 47 bytes with its CR.
constexpr const char* kStatus = "(230.5 230.5 220.0 035 50.0 54.6 28.5 00000001\r";
// The ratings answer to "F\r": 22 bytes.
constexpr const char* kRatings = "#230.0 004 048.0 50.0\r";
// The maker, model and version answer to "I\r": 39 bytes.
constexpr const char* kInfo = "#BENCH Q1 UPS    Q1SIM      1.0       \r";

// What the UPS sends back for a command given without its CR: the answer of
// a query; nothing for a lone CR or a command that only acts (beeper, tests,
// shut-down and its cancelling: Q, T, TL, Tnn, S.., C, CT); the command
// itself, with its CR, for any other, which is how the protocol says "not
// supported".
std::optional<std::string> AnswerTo(const std::string& command);

}  // namespace q1
