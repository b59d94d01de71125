#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The UPS side of the protocol: the answers a UPS gives to "RS\r" and "RD\r".
// The simulator speaks them on a line and the tests feed them to the driver,
// so both use these builders.
namespace ups_answers {

// What a UPS reports: the five status flags in the order SOK, SBP, SUF, SBL,
// SBM, and the fifteen measurements in the order the data answer lists them
// (DVIA ... DVBT, DVBN, DTMB, DVBL).
struct Reading {
    std::array<std::uint8_t, 5> flags{};
    std::array<float, 15> values{};
};

// A typical UPS on line: mains present, battery full.
Reading OnLine();

struct Line {
    std::string tag;
    std::string value;
};

// The seven lines of the status answer: the five flags and two lines that
// the driver does not read.
std::vector<Line> StatusLines(const Reading& reading);

// The fifteen lines of the data answer.
std::vector<Line> DataLines(const Reading& reading);

// The lines on the wire: tag, value and CR LF each.
std::string Join(const std::vector<Line>& lines);

inline std::string StatusAnswer(const Reading& reading) { return Join(StatusLines(reading)); }
inline std::string DataAnswer(const Reading& reading) { return Join(DataLines(reading)); }

}  // namespace ups_answers
