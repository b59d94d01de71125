#pragma once

#include <string>

// One host per line: two hosts polling one UPS would each take half of the
// other's answers. A host takes its serial line with flock, which every
// process that asks can see, and with TIOCEXCL, which makes the terminal
// refuse any further open (except by root).
namespace port_owner {

// Takes the open line at `fd` for this process alone. False, with `why`
// naming the port and, where the system says, who holds it.
bool Take(int fd, const std::string& path, std::string& why);

// Lets the terminal be opened by others again; the lock goes with the close.
void Release(int fd);

// Who holds a lock on the device at `path` ("smdhost (pid 4242)"), or ""
// when the system does not say.
std::string Holder(const std::string& path);

// "port P is held by another program: H" for a line another process holds.
std::string HeldMessage(const std::string& path);

// The other processes that have the device at `path` open, as far as this
// user may see ("cat (pid 4242), ModemManager (pid 612)"); "" for none.
std::string OtherOpeners(const std::string& path);

}  // namespace port_owner
