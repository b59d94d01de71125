#pragma once

#include <cstddef>
#include <string>

// The host's own reading of an answer the module refused or never took: what
// is wrong in the bytes the host fed it after a command, found by checking
// them against the protocol tables, never by looking into the module.
namespace answer_check {

// The first fault of the answer to `command` ("RS\r" or "RD\r"), as a
// person at the line reads it:
//   line 3 "SUF7\r\n": the status digit after SUF is "7", not 0 or 1
// `fed` holds the bytes fed (at most the last few kilobytes of them),
// `fed_total` how many there were; `before`, the answer to the command before
// (the status answer, for the data answer's check). "" when the host finds
// nothing wrong. At the line's own speed an answer is taken as soon as its
// count of lines is there, so a line that came twice or a line left over from
// the status answer makes the last line miss it; the reason then names them:
//   no line carries the tag DVBL: line 1 "SID01\r\n" belongs to neither
//   answer (left over from the status answer); counting it, the module took
//   15 lines as the whole answer before the line with DVBL came
std::string Explain(const std::string& command, const std::string& fed, std::size_t fed_total,
                    const std::string& before = "");

// The line count against the count the command's answer has ("8 lines where
// 7 are expected"), or "" when it is right or the command is unknown.
std::string LineCount(const std::string& command, const std::string& fed);

// The text the module converts for the data tag `tag` in the data answer
// `text`: what follows the first place of the tag that its line's rest, up
// to CR LF, follows. False when no place fits.
bool ValueText(const std::string& text, const char* tag, std::string& value);

}  // namespace answer_check
