#include "tools/smdhost/PortAccess.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace port_access {

namespace {

std::string Octal(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof(text), "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string UserName(uid_t uid)
{
    const passwd* user = ::getpwuid(uid);
    return user != nullptr ? user->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid)
{
    const group* found = ::getgrgid(gid);
    return found != nullptr ? found->gr_name : std::to_string(gid);
}

// The groups of this process, as the kernel checks them now.
bool InGroupNow(gid_t gid)
{
    if (::getegid() == gid) {
        return true;
    }
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
    if (count > 0 && ::getgroups(count, groups.data()) == count) {
        for (const gid_t member : groups) {
            if (member == gid) {
                return true;
            }
        }
    }
    return false;
}

// The groups the user is given at the next login.
bool InGroupAtLogin(const std::string& user, gid_t gid)
{
    const passwd* entry = ::getpwnam(user.c_str());
    if (entry != nullptr && entry->pw_gid == gid) {
        return true;
    }
    const group* found = ::getgrgid(gid);
    for (char** member = found != nullptr ? found->gr_mem : nullptr; member && *member; ++member) {
        if (user == *member) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string DeniedHint(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return "";
    }
    const std::string user = UserName(::geteuid());
    const std::string group = GroupName(st.st_gid);
    const std::string owned = "it belongs to user " + UserName(st.st_uid) + " and the group " +
                              group + " (mode " + Octal(st.st_mode) + ")";
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP) || st.st_gid == 0) {
        return owned + ", which lets no group of users open it: run as " + UserName(st.st_uid) +
               ", or give the port a group such as dialout (a udev rule)";
    }
    if (InGroupNow(st.st_gid)) {
        return owned + " and you (user " + user + ") are in it: the port refuses for another "
                                                   "reason (an access list, a security module)";
    }
    if (InGroupAtLogin(user, st.st_gid)) {
        return owned + "; you (user " + user + ") were added to " + group +
               ", but this session began before: log in again (or run: newgrp " + group + ")";
    }
    return "it belongs to the group " + group + " (mode " + Octal(st.st_mode) + ") and you (user " +
           user + ") are not in it: add yourself to the group " + group +
           ": sudo usermod -aG " + group + " $USER, then log in again";
}

std::string DevicePathMeant(const std::string& path)
{
    struct stat st {};
    if (path.rfind("/dev/", 0) == 0 || ::stat(path.c_str(), &st) == 0) {
        return "";
    }
    const std::string device = "/dev/" + path.substr(path.rfind('/') + 1);
    return ::stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode) ? device : "";
}

std::string PortKey(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        namespace fs = std::filesystem;
        return "path " + fs::absolute(path).lexically_normal().string();
    }
    if (S_ISCHR(st.st_mode)) {
        return "device " + std::to_string(st.st_rdev);
    }
    return "file " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

}  // namespace port_access
