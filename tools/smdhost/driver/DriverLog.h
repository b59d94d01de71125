#pragma once

#include <string>

#include "tools/smdhost/EventOutput.h"

// What the NUT driver of a UPS tells, as NUT's drivers log: what an
// administrator reads in a log (the start, the port, alarms, stale data and
// its end, storage, warnings and errors, upsd coming and going, the stop and
// the summary); at detail 1 (-D) each block and failed cycle too, and at
// detail 2 (-DD) the bytes on the line. On standard error, the time first, and
// to syslog (facility daemon, as "smdhost" with the process id) when asked:
// standard error is the terminal or journal that started the driver until it
// goes to the background, syslog its log after that.
class DriverLog : public EventOutput {
public:
    DriverLog(int fd, unsigned int detail, bool syslog);
    DriverLog(const DriverLog&) = delete;
    DriverLog& operator=(const DriverLog&) = delete;
    ~DriverLog() override;

    void Take(const events::Event& event) override;

    // What the line of `event` says after the time and the device at
    // `detail`; "" when it is not told at that detail.
    static std::string Text(const events::Event& event, unsigned int detail);

    // The syslog priority of `event`: errors, warnings (alarms raised and
    // stale data among them), or news.
    static int Priority(const events::Event& event);

private:
    int fd_;
    unsigned int detail_;
    bool syslog_;
};
