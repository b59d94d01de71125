#pragma once

#include <string>

#include "tools/common/SafeFile.h"

// One host per device's state files. Two hosts started on one state folder
// with one data id would both append to its history and one would restore
// the other's cache; so a host holds "<data_id>.lock" in the folder (a record
// lock, which the system drops when the host ends, however it ends) for as
// long as it runs the device, and a second host is refused, told who holds it.
class StateLock {
public:
    StateLock() = default;
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
    ~StateLock();

    enum class Taken {
        Yes,
        Held,    // another process holds it: `error` names it
        Failed,  // the lock file cannot be used: `error` says why (code 0: refused)
    };
    // Takes `name` in `folder` for this process.
    Taken Take(const safe_file::Folder& folder, const std::string& name, safe_file::Error& error);

private:
    int fd_ = -1;
};
