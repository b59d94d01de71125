#include "sim/UpsAnswers.h"

#include <cstdio>

#include "ups/UpsProtocol.h"

namespace ups_answers {

Reading OnLine()
{
    Reading reading;
    reading.flags = {0, 0, 0, 0, 0};
    reading.values = {230.5f, 229.8f, 231.1f, 220.0f, 220.1f, 219.9f, 35.0f, 36.5f,
                      34.0f,  28.5f,  50.0f,  54.6f,  13.6f, 25.0f, 20.0f};
    return reading;
}

std::vector<Line> StatusLines(const Reading& reading)
{
    std::vector<Line> lines;
    for (std::size_t i = 0; i < reading.flags.size(); ++i) {
        lines.push_back({ups_protocol::kStatusFields[i].tag, std::to_string(reading.flags[i])});
    }
    lines.push_back({"SVER", "1.04"});
    lines.push_back({"SID", "01"});
    return lines;
}

std::vector<Line> DataLines(const Reading& reading)
{
    std::vector<Line> lines;
    for (std::size_t i = 0; i < reading.values.size(); ++i) {
        char value[32];
        std::snprintf(value, sizeof(value), "%.1f", static_cast<double>(reading.values[i]));
        lines.push_back({ups_protocol::kDataFields[i].tag, value});
    }
    return lines;
}

std::string Join(const std::vector<Line>& lines)
{
    std::string text;
    for (const Line& line : lines) {
        text += line.tag + line.value + "\r\n";
    }
    return text;
}

}  // namespace ups_answers
