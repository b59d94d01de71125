#include "tools/smdhist/HistTime.h"

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

// "Z", "+HH:MM", "+HHMM", "-HH:MM": the zone's offset east of UTC in seconds.
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
    Skip(at, ':');
    if (!Digits(at, 2, minutes) || hours > 23 || minutes > 59) {
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

std::optional<std::int64_t> Epoch(const ttime& stamp)
{
    if (!data_block::IsPossible(stamp)) {
        return std::nullopt;
    }
    // Where the zone cannot place the stamp (a 32-bit time_t past 2038), it
    // counts as UTC, as its ISO text shows it without an offset.
    return WallSeconds(stamp) - data_block::UtcOffset(stamp).value_or(0);
}

std::optional<std::int64_t> ParseIso(const std::string& text, bool to_end)
{
    const char* at = text.c_str();
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!Digits(at, 4, year) || !Skip(at, '-') || !Digits(at, 2, month) || !Skip(at, '-') ||
        !Digits(at, 2, day)) {
        return std::nullopt;
    }
    std::int64_t unit = kDay;
    if (*at == 'T' || *at == ' ') {
        if (!Digits(++at, 2, hour) || !Skip(at, ':') || !Digits(at, 2, minute)) {
            return std::nullopt;
        }
        unit = kMinute;
        if (Skip(at, ':')) {
            if (!Digits(at, 2, second)) {
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
    return to_end ? start + unit - 1 : start;
}

}  // namespace hist_time
