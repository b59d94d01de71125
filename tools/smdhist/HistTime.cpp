#include "tools/smdhist/HistTime.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <utility>

#include "tools/common/DataBlock.h"

namespace hist_time {

namespace {

constexpr std::int64_t kMinute = 60;
constexpr std::int64_t kHour = 60 * kMinute;
constexpr std::int64_t kDay = 24 * kHour;

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

// Reads exactly `count` digits.
bool Digits(const char*& at, int count, int& value)
{
    value = 0;
    for (int i = 0; i < count; ++i, ++at) {
        if (*at < '0' || *at > '9') {
            return false;
        }
        value = value * 10 + (*at - '0');
    }
    return true;
}

bool Skip(const char*& at, char expected)
{
    if (*at != expected) {
        return false;
    }
    ++at;
    return true;
}

// "Z", "+HH", "+HH:MM", "+HHMM", "-HH:MM": the zone's offset east of UTC in seconds.
bool ReadZone(const char*& at, std::int64_t& offset)
{
    if (Skip(at, 'Z')) {
        offset = 0;
        return true;
    }
    const int sign = *at == '+' ? 1 : *at == '-' ? -1 : 0;
    int hours = 0;
    int minutes = 0;
    if (sign == 0 || !Digits(++at, 2, hours)) {
        return false;
    }
    // "+01" alone is a whole hour.
    if (*at != '\0') {
        Skip(at, ':');
        if (!Digits(at, 2, minutes)) {
            return false;
        }
    }
    if (hours > 23 || minutes > 59) {
        return false;
    }
    offset = sign * (hours * kHour + minutes * kMinute);
    return true;
}

}  // namespace

std::int64_t WallSeconds(const ttime& stamp)
{
    return DaysFromCivil(stamp.year, stamp.month, stamp.day) * kDay + stamp.hour * kHour +
           stamp.minute * kMinute + stamp.second;
}

namespace {

// The zone's offset from UTC at an instant; nothing where time_t cannot hold it.
std::optional<long> OffsetAt(std::int64_t instant)
{
    const auto time = static_cast<std::time_t>(instant);
    std::tm local{};
    if (static_cast<std::int64_t>(time) != instant || localtime_r(&time, &local) == nullptr) {
        return std::nullopt;
    }
    return local.tm_gmtoff;
}

// The offsets a day before and a day after a wall-clock hour, and the first
// instant of the second where they differ: what places every stamp of that
// hour. Zones change their offset at most once in two days.
struct HourRule {
    std::int64_t hour = -1;  // wall-clock seconds of its start, counted as UTC
    long before = 0;
    long after = 0;
    std::int64_t change = 0;
    bool placed = false;
};

HourRule RuleOf(std::int64_t hour)
{
    HourRule rule;
    rule.hour = hour;
    const std::optional<long> before = OffsetAt(hour - kDay);
    const std::optional<long> after = OffsetAt(hour + kDay);
    if (!before || !after) {
        return rule;
    }
    rule.placed = true;
    rule.before = *before;
    rule.after = *after;
    // The change lies between: found by halving, once per hour near it.
    std::int64_t low = hour - kDay;
    std::int64_t high = hour + kDay;
    while (rule.before != rule.after && high - low > 1) {
        const std::int64_t middle = low + (high - low) / 2;
        (OffsetAt(middle) == rule.before ? low : high) = middle;
    }
    rule.change = high;
    return rule;
}

// A history's stamps come hour by hour: the rule of the last hour is kept.
HourRule& CachedRule()
{
    thread_local HourRule rule;
    return rule;
}

}  // namespace

std::optional<Instants> InstantsOf(const ttime& stamp)
{
    if (!data_block::IsPossible(stamp)) {
        return std::nullopt;
    }
    const std::int64_t wall = WallSeconds(stamp);
    const std::int64_t hour = wall - wall % kHour;
    HourRule& rule = CachedRule();
    if (rule.hour != hour) {
        rule = RuleOf(hour);
    }
    if (!rule.placed) {
        return std::nullopt;
    }
    const std::int64_t before = wall - rule.before;
    const std::int64_t after = wall - rule.after;
    if (rule.before == rule.after) {
        return Instants{before, before};
    }
    const bool before_holds = before < rule.change;
    const bool after_holds = after >= rule.change;
    if (before_holds && after_holds) {
        return Instants{std::min(before, after), std::max(before, after)};
    }
    const std::int64_t only = after_holds && !before_holds ? after : before;
    return Instants{only, only};
}

std::optional<std::int64_t> Epoch(const ttime& stamp)
{
    if (!data_block::IsPossible(stamp)) {
        return std::nullopt;
    }
    // Where the zone cannot place the stamp (a 32-bit time_t past 2038), it
    // counts as UTC, as its ISO text shows it without an offset.
    const std::optional<Instants> instants = InstantsOf(stamp);
    return instants ? instants->earlier : WallSeconds(stamp);
}

void ZoneChanged()
{
    data_block::ZoneChanged();
    CachedRule() = HourRule{};
}

namespace {

// ".5", ".042": a fraction of a second, as whether it is more than nothing.
bool ReadFraction(const char*& at, bool& some)
{
    some = false;
    if (!Skip(at, '.') && !Skip(at, ',')) {
        return true;
    }
    if (*at < '0' || *at > '9') {
        return false;
    }
    for (; *at >= '0' && *at <= '9'; ++at) {
        some = some || *at != '0';
    }
    return true;
}

// "-2h", "+30min", "-90s", "-1d", "-2w": seconds from now.
std::optional<std::int64_t> Relative(const std::string& text)
{
    static const std::pair<const char*, std::int64_t> kUnits[] = {
        {"s", 1}, {"min", kMinute}, {"h", kHour}, {"d", kDay}, {"w", 7 * kDay}};
    if (text.size() < 3 || (text[0] != '-' && text[0] != '+')) {
        return std::nullopt;
    }
    std::size_t digits = 1;
    std::int64_t count = 0;
    for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
        count = count * 10 + (text[digits] - '0');
        if (count > 1000000000) {
            return std::nullopt;
        }
    }
    const std::string unit = text.substr(digits);
    for (const auto& [name, seconds] : kUnits) {
        if (digits > 1 && unit == name) {
            return (text[0] == '-' ? -1 : 1) * count * seconds;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> ParseTime(const std::string& text, bool to_end, std::int64_t now)
{
    if (text == "now") {
        return now;
    }
    if (const auto relative = Relative(text)) {
        return now + *relative;
    }
    const char* at = text.c_str();
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!Digits(at, 4, year) || !Skip(at, '-') || !Digits(at, 2, month) || !Skip(at, '-') ||
        !Digits(at, 2, day)) {
        return std::nullopt;
    }
    std::int64_t unit = kDay;
    bool fraction = false;
    if (*at == 'T' || *at == ' ') {
        if (!Digits(++at, 2, hour) || !Skip(at, ':') || !Digits(at, 2, minute)) {
            return std::nullopt;
        }
        unit = kMinute;
        if (Skip(at, ':')) {
            if (!Digits(at, 2, second) || !ReadFraction(at, fraction)) {
                return std::nullopt;
            }
            unit = 1;
        }
    }
    std::optional<std::int64_t> zone;
    if (*at != '\0') {
        std::int64_t offset = 0;
        if (!ReadZone(at, offset) || *at != '\0') {
            return std::nullopt;
        }
        zone = offset;
    }
    const ttime stamp{static_cast<std::uint16_t>(year), static_cast<std::uint8_t>(month),
                      static_cast<std::uint8_t>(day), static_cast<std::uint8_t>(hour),
                      static_cast<std::uint8_t>(minute), static_cast<std::uint8_t>(second)};
    if (!data_block::IsPossible(stamp)) {
        return std::nullopt;
    }
    const std::int64_t start = zone ? WallSeconds(stamp) - *zone : *Epoch(stamp);
    if (fraction) {
        // Stamps are whole seconds: from 40.5 means from 41, to 40.5 up to 40.
        return to_end ? start : start + 1;
    }
    return to_end ? start + unit - 1 : start;
}

std::string IsoOfEpoch(std::int64_t epoch)
{
    const std::time_t time = static_cast<std::time_t>(epoch);
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) {
        return std::to_string(epoch) + " s after the epoch";
    }
    const ttime stamp{static_cast<std::uint16_t>(local.tm_year + 1900),
                      static_cast<std::uint8_t>(local.tm_mon + 1),
                      static_cast<std::uint8_t>(local.tm_mday),
                      static_cast<std::uint8_t>(local.tm_hour),
                      static_cast<std::uint8_t>(local.tm_min),
                      static_cast<std::uint8_t>(local.tm_sec)};
    return data_block::IsoTime(stamp);
}

std::optional<std::string> ZoneRule(const std::string& zone)
{
    if (zone == "UTC" || zone == "Z") {
        return std::string("UTC0");
    }
    const char* at = zone.c_str();
    std::int64_t offset = 0;
    if ((zone[0] == '+' || zone[0] == '-') && ReadZone(at, offset) && *at == '\0') {
        // POSIX counts west of UTC as positive: "+01:00" is "<+0100>-01:00".
        const std::int64_t minutes = (offset < 0 ? -offset : offset) / kMinute;
        char rule[48];
        std::snprintf(rule, sizeof(rule), "<%c%02lld%02lld>%c%02lld:%02lld", offset < 0 ? '-' : '+',
                      static_cast<long long>(minutes / 60), static_cast<long long>(minutes % 60),
                      offset < 0 ? '+' : '-', static_cast<long long>(minutes / 60),
                      static_cast<long long>(minutes % 60));
        return std::string(rule);
    }
    static const std::regex kPosix("[A-Za-z]{3,}[+-]?[0-9]{1,2}(:[0-9]{2})?([A-Za-z]{3,}.*)?");
    if (std::regex_match(zone, kPosix)) {
        return zone;
    }
    // A name of the zone database: a TZif file under TZDIR or /usr/share/zoneinfo.
    if (zone.find("..") != std::string::npos || zone[0] == '/') {
        return std::nullopt;
    }
    const char* dir = std::getenv("TZDIR");
    std::ifstream file(std::string(dir != nullptr && *dir != '\0' ? dir : "/usr/share/zoneinfo") +
                           "/" + zone,
                       std::ios::binary);
    char magic[4] = {};
    if (!file.read(magic, sizeof(magic)) || std::string(magic, 4) != "TZif") {
        return std::nullopt;
    }
    return zone;
}

}  // namespace hist_time
