#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

// A serial line opened raw: 8 data bits, no parity, one stop bit, no flow
// control, no echo and no line editing. Works as well on a pseudo-terminal.
class SerialPort {
public:
    SerialPort() = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    ~SerialPort() { Close(); }

    // Opens and configures the line. Answers false, with Error() saying why,
    // when the device is missing, busy or refuses the speed.
    bool Open(const std::string& path, int baud);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Writes every byte. Answers false on an I/O error.
    bool Write(const void* data, std::size_t len);

    // Waits up to `timeout` for bytes and reads what has come, at most `size`.
    // Answers the count read, 0 when the time passed with nothing (or `wake`,
    // when given, became readable), or -1 when the line is gone (an I/O
    // error, a hang-up, or the end of the file).
    ssize_t Read(void* buffer, std::size_t size, std::chrono::milliseconds timeout,
                 int wake = -1);

    // Lets the line run for `pause` without waking for each byte (the
    // terminal layer gathers them), then reads what has come, at most `size`,
    // without waiting further. `wake`, when given and readable, ends the
    // pause early and reads nothing. The count, 0 for nothing, -1 when the
    // line is gone.
    ssize_t ReadAfter(void* buffer, std::size_t size, std::chrono::milliseconds pause,
                      int wake = -1);

    // Drops bytes received but not yet read; answers those it could read
    // first (at most 64 KiB), for a trace of what was thrown away.
    std::string DiscardInput();

    const std::string& Path() const { return path_; }
    const std::string& Error() const { return error_; }
    // The errno of the last failure: ENOTTY for a path that is no terminal.
    int ErrorCode() const { return code_; }
    int Fd() const { return fd_; }

    // Puts any terminal into raw 8N1 at `baud`; false with `error` set when the
    // speed is not one termios knows or the terminal refuses.
    static bool MakeRaw(int fd, int baud, std::string& error);
    // The speeds MakeRaw takes, in bit/s, slowest first.
    static std::vector<int> Speeds();

private:
    bool Failed(const std::string& what);

    int fd_ = -1;
    std::string path_;
    std::string error_;
    int code_ = 0;
};
