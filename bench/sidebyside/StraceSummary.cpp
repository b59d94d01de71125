#include "bench/sidebyside/StraceSummary.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

// True when the text is a whole number or one with a decimal point.
bool IsNumber(const std::string& text)
{
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0';
}

}  // namespace

std::map<std::string, long> ReadStraceSummary(std::istream& in)
{
    std::map<std::string, long> calls;
    std::string line;
    while (std::getline(in, line)) {
        // % time, seconds, usecs/call, calls, [errors,] syscall
        std::istringstream words(line);
        std::vector<std::string> row;
        for (std::string word; words >> word;) {
            row.push_back(word);
        }
        if ((row.size() != 5 && row.size() != 6) ||
            !std::all_of(row.begin(), row.end() - 1, IsNumber)) {
            continue;
        }
        calls[row.back()] = std::atol(row[3].c_str());
    }
    return calls;
}
