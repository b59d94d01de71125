#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

// Becoming another user once what needs root is open, as NUT's drivers do:
// the user's groups, its primary group, then the user itself, after which
// root cannot be taken back.
namespace driver_mode {

struct Person {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;  // the primary group
};

// The user of that name, when there is one.
std::optional<Person> FindUser(const std::string& name);

// The process's own user, by name where it has one.
Person Myself();

// True when the process runs as root and may become another user.
bool IsRoot();

// Becomes `person` for good. Throws std::runtime_error with the system's reason.
void Become(const Person& person);

}  // namespace driver_mode
