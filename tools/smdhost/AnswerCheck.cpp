#include "tools/smdhost/AnswerCheck.h"

#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "framework/SMDSPDevice.h"
#include "tools/common/Escape.h"
#include "ups/UpsProtocol.h"

namespace answer_check {

namespace {

using ups_protocol::Field;

constexpr std::size_t kShownBytes = 48;  // of a long line, in a message

bool IsStatus(const std::string& command)
{
    return command == reinterpret_cast<const char*>(ups_protocol::kStatusCommand);
}

bool IsData(const std::string& command)
{
    return command == reinterpret_cast<const char*>(ups_protocol::kDataCommand);
}

std::size_t CountLines(const std::string& text)
{
    std::size_t lines = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 2)) {
        ++lines;
    }
    return lines;
}

// `line N "bytes"` for the line that holds byte `at`: lines end in CR LF,
// as the module counts them.
std::string LineAt(const std::string& text, std::size_t at)
{
    std::size_t start = 0;
    std::size_t number = 1;
    for (std::size_t end = text.find("\r\n"); end != std::string::npos && end + 2 <= at;
         end = text.find("\r\n", start)) {
        start = end + 2;
        ++number;
    }
    const std::size_t end = text.find("\r\n", at);
    std::string line = text.substr(start, end == std::string::npos ? end : end + 2 - start);
    std::string shown = EscapeBytes(line.substr(0, kShownBytes));
    if (line.size() > kShownBytes) {
        shown += "...";
    }
    return "line " + std::to_string(number) + " \"" + shown + "\"";
}

// The first place where the tag is followed by what `fits` takes up to CR LF,
// as the module's pattern search finds it; npos when there is none.
template <typename Fits>
std::size_t FindFitting(const std::string& text, const char* tag, Fits fits)
{
    const std::size_t tag_length = std::strlen(tag);
    for (std::size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at + 1)) {
        if (fits(at + tag_length)) {
            return at;
        }
    }
    return std::string::npos;
}

std::string MissingTag(const char* tag)
{
    return std::string("no line carries the tag ") + tag + " (the first tag missing)";
}

std::string CheckStatus(const std::string& text)
{
    for (const Field& field : ups_protocol::kStatusFields) {
        const std::size_t first = text.find(field.tag);
        if (first == std::string::npos) {
            return MissingTag(field.tag);
        }
        const auto digit_fits = [&](std::size_t value) {
            return value + 3 <= text.size() && text.compare(value + 1, 2, "\r\n") == 0 &&
                   (text[value] == '0' || text[value] == '1');
        };
        if (FindFitting(text, field.tag, digit_fits) == std::string::npos) {
            const std::size_t value = first + std::strlen(field.tag);
            const std::size_t end = text.find("\r\n", value);
            return LineAt(text, first) + ": the status digit after " + field.tag + " is \"" +
                   EscapeBytes(text.substr(value, end - value)) + "\", not 0 or 1";
        }
    }
    return "";
}

std::string OverlongLine(const std::string& text)
{
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        run = (text[i] == '\r' || text[i] == '\n') ? 0 : run + 1;
        if (run > ups_protocol::kMaxLineLength) {
            std::size_t end = text.find_first_of("\r\n", i);
            end = end == std::string::npos ? text.size() : end;
            return LineAt(text, i) + " is " + std::to_string(end - (i + 1 - run)) +
                   " bytes long, over the " + std::to_string(ups_protocol::kMaxLineLength) +
                   " a line may have";
        }
    }
    return "";
}

// Why a value text is no number for the module's conversion, or "". The
// module reads a value with a decimal point, in the "C" locale, whatever
// locale the process runs in; so does this.
std::string NotANumber(const std::string& value)
{
    static const locale_t classic = newlocale(LC_ALL_MASK, "C", nullptr);
    if (classic == nullptr) {
        return "cannot be read: the \"C\" locale cannot be made";
    }
    errno = 0;
    char* end = nullptr;
    strtof_l(value.c_str(), &end, classic);
    if (end == value.c_str()) {
        return "is no number";
    }
    return errno == ERANGE ? "is out of the range of a float" : "";
}

std::string CheckData(const std::string& text)
{
    const std::string overlong = OverlongLine(text);
    if (!overlong.empty()) {
        return overlong;
    }
    for (const Field& field : ups_protocol::kDataFields) {
        const std::size_t first = text.find(field.tag);
        if (first == std::string::npos) {
            return MissingTag(field.tag);
        }
        const auto value_fits = [&](std::size_t value) {
            const std::size_t end = text.find_first_of("\r\n", value);
            return end != std::string::npos && text.compare(end, 2, "\r\n") == 0;
        };
        const std::size_t at = FindFitting(text, field.tag, value_fits);
        if (at == std::string::npos) {
            return LineAt(text, first) + ": " + field.tag +
                   " is not followed by its value and CR LF on one line";
        }
        const std::size_t value = at + std::strlen(field.tag);
        const std::string number = text.substr(value, text.find("\r\n", value) - value);
        const std::string why = NotANumber(number);
        if (!why.empty()) {
            return LineAt(text, at) + ": the value of " + field.tag + ", \"" +
                   EscapeBytes(number) + "\", " + why;
        }
    }
    return "";
}

// The lines of `text`, each with its CR LF.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find("\r\n"); end != std::string::npos;
         end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end + 2 - start));
        start = end + 2;
    }
    return lines;
}

template <std::size_t N>
bool CarriesATag(const std::string& line, const Field (&fields)[N])
{
    for (const Field& field : fields) {
        if (line.find(field.tag) != std::string::npos) {
            return true;
        }
    }
    return false;
}

template <std::size_t N>
std::string MissingTags(const std::string& text, const Field (&fields)[N], std::size_t& count)
{
    std::string missing;
    count = 0;
    for (const Field& field : fields) {
        if (text.find(field.tag) == std::string::npos) {
            missing += (missing.empty() ? "" : ", ") + std::string(field.tag);
            ++count;
        }
    }
    return missing;
}

// The lines that took the place of the answer's own: each that came twice,
// and, in the data answer, each that carries no data tag (with where it came
// from when the status answer had it).
std::string Intruders(bool data, const std::string& fed, const std::string& before)
{
    const std::vector<std::string> lines = Lines(fed);
    std::string said;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string shown =
            "line " + std::to_string(i + 1) + " \"" + EscapeBytes(lines[i]) + "\"";
        std::string what;
        if (std::find(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(i), lines[i]) !=
            lines.begin() + static_cast<std::ptrdiff_t>(i)) {
            what = " came twice";
        } else if (data && !CarriesATag(lines[i], ups_protocol::kDataFields)) {
            // Before the first data line, or a line the status answer had.
            what = i == 0 || before.find(lines[i]) != std::string::npos
                       ? " belongs to neither answer (left over from the status answer)"
                       : " belongs to neither answer";
        }
        if (!what.empty()) {
            said += (said.empty() ? "" : "; ") + shown + what;
        }
    }
    return said;
}

// Why a tag is missing from an answer with the right count of lines, when
// lines that are none of the answer's own took their place.
std::string TakenEarly(const std::string& command, const std::string& fed,
                       const std::string& before, const std::string& first_fault)
{
    const bool data = IsData(command);
    const std::string intruders = Intruders(data, fed, before);
    if (intruders.empty() || first_fault.rfind("no line carries the tag ", 0) != 0) {
        return "";
    }
    std::size_t count = 0;
    const std::string missing = data ? MissingTags(fed, ups_protocol::kDataFields, count)
                                     : MissingTags(fed, ups_protocol::kStatusFields, count);
    const std::size_t lines = data ? ups_protocol::kDataLines : ups_protocol::kStatusLines;
    const std::string status_twice = data ? Intruders(false, before, "") : "";
    return first_fault.substr(0, first_fault.find(" (")) + ": " + intruders + "; counting " +
           (intruders.find("; ") == std::string::npos ? "it" : "them") + ", the module took " +
           std::to_string(lines) + " lines as the whole answer before the " +
           (count == 1 ? "line with " : "lines with ") + missing + " came" +
           (status_twice.empty() ? "" : " (in the status answer, " + status_twice + ")");
}

}  // namespace

std::string LineCount(const std::string& command, const std::string& fed)
{
    const std::size_t expected = IsStatus(command) ? ups_protocol::kStatusLines
                                 : IsData(command) ? ups_protocol::kDataLines
                                                   : 0;
    const std::size_t lines = CountLines(fed);
    if (expected == 0 || lines == expected) {
        return "";
    }
    return std::to_string(lines) + (lines == 1 ? " line" : " lines") + " where " +
           std::to_string(expected) + " are expected";
}

std::string Explain(const std::string& command, const std::string& fed, std::size_t fed_total,
                    const std::string& before)
{
    if (fed_total > SMDSPDevice::kRxBufferSize) {
        return std::to_string(fed_total) + " bytes came, more than the module's " +
               std::to_string(SMDSPDevice::kRxBufferSize) + "-byte receive buffer holds; " +
               LineAt(fed, 0) + " is the first";
    }
    const std::string count = LineCount(command, fed);
    if (!count.empty()) {
        return count;
    }
    const std::string fault = IsStatus(command) ? CheckStatus(fed)
                              : IsData(command)   ? CheckData(fed)
                                                  : "";
    const std::string early = TakenEarly(command, fed, before, fault);
    return early.empty() ? fault : early;
}

bool ValueText(const std::string& text, const char* tag, std::string& value)
{
    const auto rest_of_line = [&](std::size_t at) {
        const std::size_t end = text.find_first_of("\r\n", at);
        return end != std::string::npos && text.compare(end, 2, "\r\n") == 0;
    };
    const std::size_t at = FindFitting(text, tag, rest_of_line);
    if (at == std::string::npos) {
        return false;
    }
    const std::size_t start = at + std::strlen(tag);
    value = text.substr(start, text.find("\r\n", start) - start);
    return true;
}

}  // namespace answer_check
