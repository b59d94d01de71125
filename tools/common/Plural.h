#pragma once

#include <string>

// "1 cycle", "3 cycles": a count with its noun, for messages. `many` is the
// plural when it is not `one` with an "s".
inline std::string Counted(unsigned long long count, const std::string& one,
                           const std::string& many = "")
{
    return std::to_string(count) + " " +
           (count == 1 ? one : many.empty() ? one + "s" : many);
}
