#pragma once

#include <istream>
#include <map>
#include <string>

// The calls of each system call in the table `strace -c` writes, by name,
// with the table's "total". Lines that are no row of it (the header, the
// rulers, anything strace said besides) are passed over.
std::map<std::string, long> ReadStraceSummary(std::istream& in);
