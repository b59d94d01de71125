#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "tools/common/SerialPort.h"

// The UPS's end of the line: a pseudo-terminal or a serial device, read as
// commands ended by CR and written at the line's pace. The simulators share it.
class UpsLine {
public:
    // Opens the serial device `port`, or without it a pseudo-terminal, linked
    // at `link` when one is given. Throws what went wrong.
    UpsLine(const std::string& port, const std::string& link, int baud);
    UpsLine(const UpsLine&) = delete;
    UpsLine& operator=(const UpsLine&) = delete;
    ~UpsLine();

    // Where a host finds the line: the device, or the terminal and its link.
    const std::string& Where() const { return where_; }

    // The commands that came within 200 ms, without their CR (none when
    // nothing came). Throws when the line is lost.
    std::vector<std::string> Commands();

    // Writes the bytes ten bits a byte at the line speed, or at once when not
    // `paced`; gives up once `stop` is set.
    void Send(const std::string& bytes, bool paced, const std::atomic<bool>& stop);

private:
    void OpenPseudoTerminal();
    void Link(const std::string& path);
    void Unlink() const;
    void Write(const char* data, std::size_t len, const std::atomic<bool>& stop);

    SerialPort port_;
    std::string link_;
    std::string linked_;  // the terminal the link points at, once made
    std::string where_;
    std::string pending_;  // bytes of a command not yet ended
    int baud_;
    int fd_ = -1;
    int held_end_ = -1;
};
