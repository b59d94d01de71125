#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "tools/common/SafeFile.h"

// Who on the machine must reach the driver sockets: the user upsd runs as
// (upsd -u, nut on Debian) and the group of NUT's state folder (nut, as
// Debian's /run/nut is root:nut 0770). The sockets take their folder's group
// and mode 0660, so upsd connects when that group is one of its user's and
// every folder on the way lets it through.
namespace nut {

struct Account {
    std::string user = "nut";   // the user upsd runs as
    std::string group = "nut";  // the group of the state folder and the sockets
};

// The NUT folder's rules: `base`, with a folder the NUT group may write to
// accepted as NUT's own, and a folder made for NUT given that group and mode
// 0770, as Debian makes /run/nut. Throws std::runtime_error when the group
// does not exist.
safe_file::FolderRules FolderRulesFor(safe_file::FolderRules base, const Account& account);

// Why the NUT user cannot connect to the socket at `path` (a folder on the
// way it may not enter, or a socket it may not write to, or no such user),
// with the fix; "" when it can.
std::string ReachProblem(const std::string& path, const Account& account);

// The user's id, when there is such a user.
std::optional<uid_t> UserId(const std::string& user);

}  // namespace nut
