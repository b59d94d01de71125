#include "tools/nut/Account.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace nut {

namespace {

constexpr mode_t kFolderMode = 0770;
constexpr int kMostGroups = 1024;

struct Who {
    std::string name;
    uid_t uid = 0;
    std::vector<gid_t> groups;  // the primary group and the others
};

bool Find(const std::string& name, Who& who)
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwnam_r(name.c_str(), &entry, buffer, sizeof(buffer), &found) != 0 || found == nullptr) {
        return false;
    }
    who.name = name;
    who.uid = found->pw_uid;
    int count = kMostGroups;
    who.groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(name.c_str(), found->pw_gid, who.groups.data(), &count) < 0) {
        count = 0;
    }
    who.groups.resize(static_cast<std::size_t>(count));
    who.groups.push_back(found->pw_gid);
    return true;
}

std::optional<gid_t> GroupId(const std::string& name)
{
    group entry{};
    group* found = nullptr;
    char buffer[16384];
    if (::getgrnam_r(name.c_str(), &entry, buffer, sizeof(buffer), &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    return found->gr_gid;
}

// Whether the kernel lets `who` do what the bits of `st` say for its class:
// the owner's bits for the owner, the group's for a member, the others' else.
bool May(const Who& who, const struct stat& st, mode_t owner, mode_t group, mode_t other)
{
    if (who.uid == 0) {
        return true;
    }
    if (st.st_uid == who.uid) {
        return (st.st_mode & owner) != 0;
    }
    if (std::find(who.groups.begin(), who.groups.end(), st.st_gid) != who.groups.end()) {
        return (st.st_mode & group) != 0;
    }
    return (st.st_mode & other) != 0;
}

std::string Described(const struct stat& st)
{
    char mode[8];
    std::snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return "(mode " + std::string(mode) + ", user " + safe_file::UserName(st.st_uid) + ", group " +
           safe_file::GroupName(st.st_gid) + ")";
}

std::string Absolute(const std::string& path)
{
    if (!path.empty() && path.front() == '/') {
        return path;
    }
    char here[4096];
    return ::getcwd(here, sizeof(here)) != nullptr ? std::string(here) + "/" + path : path;
}

// The first folder on the way to `path` that `who` may not enter, with why.
std::string Blocked(const std::string& path, const Who& who, const Account& account)
{
    for (std::size_t end = path.find('/', 1); end != std::string::npos; end = path.find('/', end + 1)) {
        const std::string folder = path.substr(0, end);
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || May(who, st, S_IXUSR, S_IXGRP, S_IXOTH)) {
            continue;
        }
        return "user " + who.name + " may not enter the folder " + folder + " " + Described(st) +
               ": let it through (chgrp " + account.group + " " + folder + " and chmod g+x " +
               folder + ", or chmod o+x " + folder + "), or serve NUT from a folder upsd reaches, "
               "such as /run/nut";
    }
    return "";
}

}  // namespace

safe_file::FolderRules FolderRulesFor(safe_file::FolderRules base, const Account& account)
{
    const std::optional<gid_t> gid = GroupId(account.group);
    if (!gid) {
        throw std::runtime_error("there is no group \"" + account.group +
                                 "\" (NUT's group): Debian's nut-server makes the group nut");
    }
    base.writer_group = *gid;
    base.create_group = *gid;
    base.create_mode = kFolderMode;
    return base;
}

std::string ReachProblem(const std::string& path, const Account& account)
{
    Who who;
    if (!Find(account.user, who)) {
        return "there is no user \"" + account.user +
               "\" (the user upsd runs as): Debian's nut-server makes the user nut";
    }
    const std::string absolute = Absolute(path);
    const std::string blocked = Blocked(absolute, who, account);
    if (!blocked.empty()) {
        return "upsd cannot reach " + path + ": " + blocked;
    }
    struct stat st {};
    if (::lstat(absolute.c_str(), &st) != 0 || May(who, st, S_IWUSR, S_IWGRP, S_IWOTH)) {
        return "";
    }
    const std::string folder = absolute.substr(0, absolute.rfind('/'));
    return "upsd cannot reach " + path + ": user " + who.name + " may not connect to it " +
           Described(st) + ": the socket takes its folder's group, so make the folder of group " +
           account.group + " (chgrp " + account.group + " " + folder + ")";
}

std::optional<uid_t> UserId(const std::string& user)
{
    Who who;
    return Find(user, who) ? std::optional<uid_t>(who.uid) : std::nullopt;
}

}  // namespace nut
