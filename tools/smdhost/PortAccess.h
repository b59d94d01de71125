#pragma once

#include <string>

// Why a serial port cannot be opened by this user, said with the way out.
// The usual laptop case is a port of the group dialout that the user is not
// in; the usual typo is a port named without /dev/.
namespace port_access {

// Who may open the port at `path` and what the user does to be one of them:
//   it belongs to the group dialout (mode 0660) and you (user ann) are not in
//   it: add yourself to the group dialout: sudo usermod -aG dialout $USER,
//   then log in again
std::string DeniedHint(const std::string& path);

// "/dev/ttyS0" when `path` ("ttyS0", "site/ttyS0") does not exist but a
// device of its name does under /dev/; "" otherwise.
std::string DevicePathMeant(const std::string& path);

// What names the port at `path`, the same for every path to it (one may be
// a link to the other, as the names in /dev/serial/by-id are): the device's
// number, the file's identity, or for a path not there yet the path made
// absolute. Paths of one key name one port.
std::string PortKey(const std::string& path);

}  // namespace port_access
