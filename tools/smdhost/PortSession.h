#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>

#include "tools/common/SerialPort.h"

// A device's serial line, for this host alone: opened raw at the driver's
// speed and taken with flock and TIOCEXCL (PortOwner.h), so a second host on
// it is refused. Explains a line that cannot be opened (held by whom, the
// group that may open it, a path that is no terminal or lacks its /dev/);
// reads with a timeout that a stop request ends; throws away what was left
// on the line. Used from the device's thread only.
class PortSession {
public:
    explicit PortSession(std::string path) : path_(std::move(path)) {}
    PortSession(const PortSession&) = delete;
    PortSession& operator=(const PortSession&) = delete;
    ~PortSession() { Close(); }

    // Opens the line at `baud` and takes it. False, with OpenError() saying
    // why, when it is missing, held by another program or not to be opened.
    bool Open(int baud);
    // Lets the line go.
    void Close();
    bool IsOpen() const { return port_.IsOpen(); }

    // Why the last Open failed, with the way out where there is one.
    const std::string& OpenError() const { return open_error_; }
    // What refuses the line at start, after a failed Open: a path that is no
    // terminal, a line held by another program or not the user's to open, a
    // missing name that exists under /dev/. "" when the line may still come
    // (missing now: it is looked for again each cycle).
    std::string Refusal() const;

    // Writes every byte; false on an I/O error or a line that is not open.
    bool Write(const unsigned char* data, std::size_t len);
    // Waits up to `timeout` for bytes, or until a stop is requested, and
    // reads what came: the count, 0 for nothing, -1 when the line is gone.
    ssize_t Read(unsigned char* buffer, std::size_t size, std::chrono::milliseconds timeout);
    // Lets the line run for `pause` (a stop request ends it), then reads what
    // has gathered without waiting: the count, 0 for nothing, -1 when gone.
    ssize_t ReadAfter(unsigned char* buffer, std::size_t size, std::chrono::milliseconds pause);
    // Keeps bytes read but not taken by the driver as if still on the line:
    // the next DiscardInput answers them first.
    void Unread(const unsigned char* data, std::size_t len);
    // Drops what was left on the line; answers those bytes, for the trace.
    // With `until_quiet`, first lets what is still coming arrive and drops it
    // too, until the line has been quiet that long, for at most `at_most`.
    std::string DiscardInput(std::chrono::milliseconds until_quiet = {},
                             std::chrono::milliseconds at_most = {});
    // Why the last write or read failed.
    const std::string& Error() const { return port_.Error(); }

private:
    std::string path_;
    SerialPort port_;
    std::string unread_;  // read, not taken by the driver, and not yet discarded
    std::string open_error_;
    int open_code_ = 0;  // its errno: ENOTTY no terminal, EBUSY held by another
};
