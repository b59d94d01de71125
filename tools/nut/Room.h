#pragma once

#include <cstddef>
#include <vector>

// Who keeps a place on a UPS's socket when it is full. upsd is the client
// that matters: it is known by its user (the NUT user upsd runs as), and it
// always gets in, in place of another user's connection. Another user's
// connection may only take the place of another such connection that never
// asked for everything (DUMPALL), so that neither a crowd of idle connections
// nor a crowd that asks and keeps reading can lock upsd out.
namespace nut {

// A connection as the room sees it.
struct Seat {
    bool upsd = false;    // from the user upsd runs as
    bool dumped = false;  // has asked for everything, as upsd does first
};

struct Placement {
    enum class Kind { Free, Replace, Refuse };
    Kind kind = Kind::Free;
    std::size_t seat = 0;  // for Replace: the index of the connection that goes
};

// Where a newcomer (from upsd's user or not) goes among `seats`, oldest
// first, when `limit` connections fit.
Placement Place(const std::vector<Seat>& seats, bool newcomer_upsd, std::size_t limit);

}  // namespace nut
