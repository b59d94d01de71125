#include "tools/smdhost/ModuleLines.h"

#include <iostream>

ModuleLines::ModuleLines(EventLog& log) : log_(log)
{
    std::cout.flush();
    previous_ = std::cout.rdbuf(this);
}

ModuleLines::~ModuleLines()
{
    std::cout.rdbuf(previous_);
    for (auto& [thread, line] : pending_) {
        if (!line.empty()) {
            log_.Tell(events::ModuleLine{std::move(line)});
        }
    }
}

ModuleLines::int_type ModuleLines::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    const char byte = traits_type::to_char_type(c);
    Append(&byte, 1);
    return c;
}

std::streamsize ModuleLines::xsputn(const char* text, std::streamsize count)
{
    Append(text, static_cast<std::size_t>(count));
    return count;
}

void ModuleLines::Append(const char* text, std::size_t count)
{
    std::string done;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string& line = pending_[std::this_thread::get_id()];
        line.append(text, count);
        const std::size_t end = line.rfind('\n');
        if (end == std::string::npos) {
            return;
        }
        done = line.substr(0, end + 1);
        line.erase(0, end + 1);
    }
    log_.Tell(events::ModuleLine{std::move(done)});
}
