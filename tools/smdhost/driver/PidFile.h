#pragma once

#include <string>

#include "tools/common/SafeFile.h"

// The pid file of the driver of a UPS where upsdrvctl looks for it to stop
// the driver (upsdrvctl stop sends SIGTERM to the process it names):
// smdhost-<ups>.pid in NUT's folder for pid files, holding the process id and
// a newline. Written whole and never through a link, in place of one a killed
// driver left; removed when the driver ends, if it is still this process's.
namespace driver_mode {

class PidFile {
public:
    PidFile() = default;
    PidFile(const PidFile&) = delete;
    PidFile& operator=(const PidFile&) = delete;
    ~PidFile() { Remove(); }

    // Writes this process's id to the file for `ups` in `folder`, checked
    // under `rules`. Throws std::runtime_error naming the file and why.
    void Write(const std::string& folder, const std::string& ups, const safe_file::FolderRules& rules);

    // Removes the file when it still holds this process's id.
    void Remove();

    std::string Path() const { return folder_.IsOpen() ? folder_.PathOf(name_) : ""; }

private:
    safe_file::Folder folder_;
    std::string name_;
    std::string text_;
};

// The file's name for `ups`: "smdhost-<ups>.pid".
std::string PidFileName(const std::string& ups);

}  // namespace driver_mode
