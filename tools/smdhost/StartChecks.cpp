#include "tools/smdhost/StartChecks.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

#include "tools/smdhost/PortAccess.h"

namespace start_checks {

namespace {

constexpr const char* kOwnFolder =
    "give --state-dir a folder you can write to, such as ~/smdhost-state";

std::string UserName(uid_t uid)
{
    const passwd* user = ::getpwuid(uid);
    return user != nullptr ? std::string(user->pw_name) : std::to_string(uid);
}

std::string Device(const DeviceConfig& device, std::size_t number)
{
    return std::to_string(number + 1) + " (" + device.name + ", data id " +
           std::to_string(device.data_id) + ")";
}

}  // namespace

std::string StateFolderFix(int code)
{
    return code == EACCES || code == EPERM || code == EROFS ? kOwnFolder : "";
}

void CheckStateFolderWritable(const safe_file::Folder& folder)
{
    if (::faccessat(folder.Fd(), ".", W_OK | X_OK, AT_EACCESS) == 0) {
        return;
    }
    const int code = errno;
    struct stat st {};
    ::fstat(folder.Fd(), &st);
    char mode[8];
    std::snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(st.st_mode & 07777));
    const std::string why = code == EACCES ? "you (user " + UserName(::geteuid()) +
                                                 ") may not write to it (it belongs to user " +
                                                 UserName(st.st_uid) + ", mode " + mode + ")"
                                           : std::strerror(code);
    throw std::runtime_error("state folder " + folder.Path() + ": " + why +
                             ", so every block would be lost; " + kOwnFolder);
}

void CheckOneDevicePerPort(const BenchConfig& config)
{
    // A key per port, not each pair compared: thousands of devices start at once.
    const auto& devices = config.devices;
    std::unordered_map<std::string, std::size_t> first_on;
    for (std::size_t second = 0; second < devices.size(); ++second) {
        const auto [at, added] =
            first_on.emplace(port_access::PortKey(devices[second].port), second);
        if (added) {
            continue;
        }
        const std::size_t first = at->second;
        const std::string& a = devices[first].port;
        const std::string& b = devices[second].port;
        throw std::runtime_error("devices " + Device(devices[first], first) + " and " +
                                 Device(devices[second], second) + " both use the port " + a +
                                 (a == b ? "" : " (" + b + " is the same port)") +
                                 "; one device per line");
    }
}

}  // namespace start_checks
