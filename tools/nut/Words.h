#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The words of a line of Network UPS Tools' text protocols and files (the
// driver socket, ups.conf): words are parted by blanks; "double quotes" keep
// blanks inside one word; a backslash takes the next character as it is; an
// unquoted # starts a comment that runs to the end of the line.
namespace nut {

// The words of one line (without its newline); nothing when a quote is left
// open or the line ends in a lone backslash.
std::optional<std::vector<std::string>> SplitWords(std::string_view line);

// `value` as one quoted word: "..." with \, " and # escaped. A control
// character (a newline would end the line) becomes a blank.
std::string Quoted(std::string_view value);

// `value` as it may stand in a file: bare when it is one plain word, else
// quoted.
std::string Word(std::string_view value);

}  // namespace nut
