#pragma once

#include <chrono>
#include <string>

#include "tools/smdhost/CacheWrites.h"
#include "tools/smdhost/EventLog.h"
#include "tools/smdhost/FailureReport.h"
#include "tools/smdhost/StateFiles.h"

// A device's cache file as the host keeps it: each block the history has
// taken (appended and flushed) is written when CacheWrites says it is due,
// through the state files (replaced whole), so the cache only ever holds a
// block the history has; a cache that cannot be written is reported as
// StorageReport says. Used from the device's thread only.
class CacheWriter {
public:
    CacheWriter(StateFiles& files, std::chrono::milliseconds interval, EventLog& log,
                const EventLog::Device& device)
        : files_(files), writes_(interval), report_(log, device, files.CachePath())
    {
    }

    // A block the history took.
    void Stored(const std::string& block);
    // The end of the run: writes the last block stored when the cache lacks it.
    void Finish();

    // Blocks the cache could not take.
    unsigned int Lost() const { return report_.Lost(); }

private:
    void Store(const std::string& block);

    StateFiles& files_;
    CacheWrites writes_;
    StorageReport report_;
};
