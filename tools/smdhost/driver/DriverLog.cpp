#include "tools/smdhost/driver/DriverLog.h"

#include <syslog.h>

#include "tools/common/SafeFile.h"
#include "tools/smdhost/BriefOutput.h"
#include "tools/smdhost/TextOutput.h"

namespace {

using namespace events;

constexpr const char* kIdent = "smdhost";
constexpr unsigned int kBlocks = 1;  // -D
constexpr unsigned int kBytes = 2;   // -DD

std::string BlockLine(const Block& e)
{
    const std::string what = e.source == Source::Cache
                                 ? "restored from cache (stored at " + e.stored_at + "): "
                                 : "block " + std::to_string(e.cycle) + ": ";
    return what + (e.decoded ? BriefOutput::Fields(*e.decoded) : e.Hex());
}

// What only more detail tells.
std::string Detailed(const Event& event, unsigned int detail)
{
    if (const auto* block = std::get_if<Block>(&event.fact)) {
        return detail >= kBlocks ? BlockLine(*block) : "";
    }
    if (const auto* failed = std::get_if<CycleFailed>(&event.fact)) {
        return detail >= kBlocks ? "cycle " + std::to_string(failed->cycle) + " failed (" +
                                       failed->reason + "): " + failed->detail
                                 : "";
    }
    return detail >= kBytes ? TextOutput::Text(event) : "";
}

}  // namespace

DriverLog::DriverLog(int fd, unsigned int detail, bool syslog)
    : fd_(fd), detail_(detail), syslog_(syslog)
{
    if (syslog_) {
        ::openlog(kIdent, LOG_PID, LOG_DAEMON);
    }
}

DriverLog::~DriverLog()
{
    if (syslog_) {
        ::closelog();
    }
}

std::string DriverLog::Text(const events::Event& event, unsigned int detail)
{
    const Fact& fact = event.fact;
    if (std::holds_alternative<Block>(fact) || std::holds_alternative<CycleFailed>(fact) ||
        IsTrace(fact)) {
        return Detailed(event, detail);
    }
    // A repeated failure is a line of its own from -D on, and not told without.
    if (std::holds_alternative<ModuleLine>(fact) || std::holds_alternative<Repeated>(fact)) {
        return "";
    }
    // Without the failures' own lines, the reminder names the last.
    const auto* failing = std::get_if<Failing>(&fact);
    if (failing != nullptr && failing->now == Failing::Now::Ongoing) {
        return TextOutput::Text(event) + "; last " + failing->last;
    }
    return TextOutput::Text(event);
}

int DriverLog::Priority(const events::Event& event)
{
    return std::visit(
        Overloaded{
            [](const Message& e) { return e.level == Message::Level::Error ? LOG_ERR : LOG_WARNING; },
            [](const Storage& e) { return e.state == Storage::State::Stored ? LOG_INFO : LOG_ERR; },
            [](const Alarm& e) { return e.change == Alarm::Change::Cleared ? LOG_INFO : LOG_WARNING; },
            [](const Stale&) { return LOG_WARNING; },
            [](const Failing& e) { return e.now == Failing::Now::Ongoing ? LOG_WARNING : LOG_INFO; },
            [](const auto&) { return LOG_INFO; },
        },
        event.fact);
}

void DriverLog::Take(const events::Event& event)
{
    const std::string text = Text(event, detail_);
    if (text.empty()) {
        return;
    }
    const std::string line = TextOutput::Line(event, text);
    safe_file::WriteAll(fd_, line.data(), line.size());
    if (syslog_) {
        const std::size_t time_end = line.find(' ') + 1;
        ::syslog(Priority(event), "%.*s", static_cast<int>(line.size() - time_end - 1),
                 line.data() + time_end);
    }
}
