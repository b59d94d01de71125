#pragma once

#include <string>

// gnuplot, the program that draws the pictures, run as a child process.
namespace gnuplot {

// True when gnuplot is on the PATH.
bool Found();

// What to tell a user without gnuplot: the Debian package to install.
std::string Missing();

// Runs gnuplot on `script` (a name within `dir`) with `dir` as its working
// folder, its messages kept in gnuplot.log there. Answers what went wrong,
// or an empty text.
std::string Run(const std::string& dir, const std::string& script);

}  // namespace gnuplot
