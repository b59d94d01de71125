#include "tools/smdhost/driver/Privileges.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace driver_mode {

namespace {

[[noreturn]] void Fail(const Person& person, const std::string& step)
{
    throw std::runtime_error("cannot become user " + person.name + " (" + step +
                             "): " + std::strerror(errno));
}

std::optional<Person> Found(const passwd* entry)
{
    if (entry == nullptr) {
        return std::nullopt;
    }
    return Person{entry->pw_name, entry->pw_uid, entry->pw_gid};
}

}  // namespace

std::optional<Person> FindUser(const std::string& name)
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwnam_r(name.c_str(), &entry, buffer, sizeof(buffer), &found) != 0) {
        return std::nullopt;
    }
    return Found(found);
}

Person Myself()
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    ::getpwuid_r(::geteuid(), &entry, buffer, sizeof(buffer), &found);
    const std::optional<Person> me = Found(found);
    return me ? *me : Person{std::to_string(::geteuid()), ::geteuid(), ::getegid()};
}

bool IsRoot() { return ::geteuid() == 0; }

void Become(const Person& person)
{
    if (::initgroups(person.name.c_str(), person.gid) != 0) {
        Fail(person, "its groups");
    }
    if (::setgid(person.gid) != 0) {
        Fail(person, "its group");
    }
    if (::setuid(person.uid) != 0) {
        Fail(person, "the user");
    }
    if (person.uid != 0 && ::setuid(0) == 0) {
        errno = EPERM;
        Fail(person, "root could be taken back");
    }
}

}  // namespace driver_mode
