#pragma once

#include <map>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>

#include "tools/smdhost/EventLog.h"

// The module writes its own lines (InitSetting ..., rvSize is N) with
// std::cout. Where they share the standard output with the host's text, each
// stays where it was written among the events: while this object lives,
// std::cout's buffer is this one, and every line the module completes goes to
// the log as an events::ModuleLine, queued behind the events told before it.
// Lines of several device threads are kept apart until each is complete.
class ModuleLines : public std::streambuf {
public:
    explicit ModuleLines(EventLog& log);
    ModuleLines(const ModuleLines&) = delete;
    ModuleLines& operator=(const ModuleLines&) = delete;
    // Gives std::cout its buffer back; a line left without its newline is
    // told as it is.
    ~ModuleLines() override;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;

private:
    void Append(const char* text, std::size_t count);

    EventLog& log_;
    std::streambuf* previous_;
    std::mutex mutex_;
    std::map<std::thread::id, std::string> pending_;  // each thread's line so far
};
