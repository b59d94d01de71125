#include "tools/nut/Room.h"

#include <algorithm>

namespace nut {

namespace {

// The oldest seat that `gives_way`, as a placement; Refuse when none does.
template <typename GivesWay>
Placement Oldest(const std::vector<Seat>& seats, GivesWay gives_way)
{
    const auto found = std::find_if(seats.begin(), seats.end(), gives_way);
    if (found == seats.end()) {
        return {Placement::Kind::Refuse, 0};
    }
    return {Placement::Kind::Replace, static_cast<std::size_t>(found - seats.begin())};
}

}  // namespace

Placement Place(const std::vector<Seat>& seats, bool newcomer_upsd, std::size_t limit)
{
    if (seats.size() < limit) {
        return {Placement::Kind::Free, 0};
    }
    const Placement idle_other = Oldest(seats, [](const Seat& s) { return !s.upsd && !s.dumped; });
    if (idle_other.kind == Placement::Kind::Replace || !newcomer_upsd) {
        return idle_other;
    }
    const Placement other = Oldest(seats, [](const Seat& s) { return !s.upsd; });
    if (other.kind == Placement::Kind::Replace) {
        return other;
    }
    return Oldest(seats, [](const Seat& s) { return !s.dumped; });
}

}  // namespace nut
