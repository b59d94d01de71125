#include "tools/smdhist/RotatedOrder.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <utility>

namespace {

// A file's place among the parts of one history: the history's name, and 0
// for the history itself or N for its predecessor NAME.N.
struct Part {
    std::string history;
    unsigned long number = 0;
};

Part PartOf(const std::string& file, const std::set<std::string>& given)
{
    const std::size_t dot = file.rfind('.');
    if (dot == std::string::npos || dot + 1 == file.size() || file.size() - dot > 10 ||
        file.find_first_not_of("0123456789", dot + 1) != std::string::npos ||
        given.count(file.substr(0, dot)) == 0) {
        return {file, 0};
    }
    return {file.substr(0, dot), std::strtoul(file.c_str() + dot + 1, nullptr, 10)};
}

}  // namespace

std::vector<std::string> RotatedOrder(const std::vector<std::string>& files)
{
    const std::set<std::string> given(files.begin(), files.end());
    std::vector<Part> parts;
    for (const std::string& file : files) {
        parts.push_back(PartOf(file, given));
    }
    std::vector<std::string> order;
    std::set<std::string> placed;
    for (const Part& part : parts) {
        if (!placed.insert(part.history).second) {
            continue;
        }
        // All of this history's parts here, the oldest first.
        std::vector<std::pair<unsigned long, std::size_t>> own;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (parts[i].history == part.history) {
                own.emplace_back(parts[i].number, i);
            }
        }
        std::stable_sort(own.begin(), own.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& [number, i] : own) {
            order.push_back(files[i]);
        }
    }
    return order;
}
