#include "tools/common/DataBlock.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace data_block {

const std::array<const ups_protocol::Field*, kValues>& ValueFields()
{
    static const auto fields = [] {
        std::array<const ups_protocol::Field*, kValues> sorted{};
        for (std::size_t i = 0; i < kValues; ++i) {
            sorted[i] = &ups_protocol::kDataFields[i];
        }
        std::sort(sorted.begin(), sorted.end(),
                  [](const auto* a, const auto* b) { return a->offset < b->offset; });
        return sorted;
    }();
    return fields;
}

bool Decode(const unsigned char* data, std::size_t len, Decoded& block)
{
    if (data == nullptr || len != kSize) {
        return false;
    }
    QuillmarUPS_Block_t image;
    std::memcpy(&image, data, sizeof(image));
    const auto* record = reinterpret_cast<const unsigned char*>(&image.data);
    block.data_id = image.data_id;
    block.time_stamp = image.time_stamp;
    for (std::size_t i = 0; i < kFlags; ++i) {
        block.flags[i] = record[ups_protocol::kStatusFields[i].offset];
    }
    for (std::size_t i = 0; i < kValues; ++i) {
        std::memcpy(&block.values[i], record + ValueFields()[i]->offset, sizeof(float));
    }
    return true;
}

namespace {

// mktime reads the zone again on every call, freeing and copying its name;
// glibc serialises that with a lock of its own, which ThreadSanitizer cannot
// see, so threads that show times take this one as well.
std::time_t LockedMktime(std::tm& local)
{
    static std::mutex zone;
    const std::lock_guard<std::mutex> lock(zone);
    return std::mktime(&local);
}

// mktime asks the zone afresh each call (a stat of /etc/localtime): a history
// of a million blocks asks once an hour of stamps instead.
struct Cache {
    std::uint32_t hour = 0;
    std::optional<long> offset;
};

Cache& OffsetCache()
{
    thread_local Cache cache;
    return cache;
}

// The stamp's fields, for mktime to place in the local zone.
std::tm LocalTm(const ttime& stamp)
{
    std::tm local{};
    local.tm_year = stamp.year - 1900;
    local.tm_mon = stamp.month - 1;
    local.tm_mday = stamp.day;
    local.tm_hour = stamp.hour;
    local.tm_min = stamp.minute;
    local.tm_sec = stamp.second;
    local.tm_isdst = -1;
    return local;
}

}  // namespace

void ZoneChanged()
{
    tzset();
    OffsetCache() = Cache{};
}

std::optional<std::time_t> Moment(const ttime& stamp)
{
    if (!IsPossible(stamp)) {
        return std::nullopt;
    }
    std::tm local = LocalTm(stamp);
    const std::time_t moment = LockedMktime(local);
    return moment == static_cast<std::time_t>(-1) ? std::nullopt
                                                  : std::optional<std::time_t>(moment);
}

bool IsPossible(const ttime& stamp)
{
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (stamp.year < 1970 || stamp.year > 9999 || stamp.month < 1 || stamp.month > 12 ||
        stamp.hour > 23 || stamp.minute > 59 || stamp.second > 59 || stamp.day < 1 ||
        stamp.day > kDays[stamp.month - 1]) {
        return false;
    }
    const bool leap = (stamp.year % 4 == 0 && stamp.year % 100 != 0) || stamp.year % 400 == 0;
    return stamp.month != 2 || stamp.day <= 28 || leap;
}

std::optional<long> UtcOffset(const ttime& stamp)
{
    if (!IsPossible(stamp)) {
        return std::nullopt;
    }
    std::uint32_t& cached_hour = OffsetCache().hour;
    std::optional<long>& cached_offset = OffsetCache().offset;
    const std::uint32_t hour =
        ((stamp.year * 13u + stamp.month) * 32u + stamp.day) * 24u + stamp.hour + 1;
    if (hour == cached_hour) {
        return cached_offset;
    }
    std::tm local = LocalTm(stamp);
    cached_hour = hour;
    cached_offset = LockedMktime(local) == static_cast<std::time_t>(-1)
                        ? std::nullopt
                        : std::optional<long>(local.tm_gmtoff);
    return cached_offset;
}

namespace {

char* TwoDigits(char* at, unsigned value)
{
    at[0] = static_cast<char>('0' + value / 10 % 10);
    at[1] = static_cast<char>('0' + value % 10);
    return at + 2;
}

}  // namespace

char* IsoChars(const ttime& stamp, char* text)
{
    return IsoChars(stamp, UtcOffset(stamp), text);
}

char* IsoChars(const ttime& stamp, std::optional<long> utc_offset, char* text)
{
    // By hand: a history of millions of blocks shows millions of stamps.
    char* at = TwoDigits(text, stamp.year / 100u);
    at = TwoDigits(at, stamp.year % 100u);
    if (stamp.year > 9999) {
        at = std::to_chars(text, text + 8, static_cast<unsigned>(stamp.year)).ptr;
    }
    *at++ = '-';
    at = TwoDigits(at, stamp.month);
    *at++ = '-';
    at = TwoDigits(at, stamp.day);
    *at++ = 'T';
    at = TwoDigits(at, stamp.hour);
    *at++ = ':';
    at = TwoDigits(at, stamp.minute);
    *at++ = ':';
    at = TwoDigits(at, stamp.second);
    if (!utc_offset) {
        return at;
    }
    const long offset = *utc_offset;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    *at++ = offset < 0 ? '-' : '+';
    at = TwoDigits(at, static_cast<unsigned>(minutes / 60 % 100));
    *at++ = ':';
    return TwoDigits(at, static_cast<unsigned>(minutes % 60));
}

std::string IsoTime(const ttime& stamp)
{
    char text[40];
    return std::string(text, IsoChars(stamp, text));
}

std::string IsoTime(const ttime& stamp, std::optional<long> utc_offset)
{
    char text[40];
    return std::string(text, IsoChars(stamp, utc_offset, text));
}

char* ValueChars(float value, char* text)
{
    if (std::isnan(value)) {
        std::memcpy(text, "nan", 3);
        return text + 3;
    }
    return std::to_chars(text, text + 32, value).ptr;
}

std::string ValueText(float value)
{
    char text[32];
    return std::string(text, ValueChars(value, text));
}

Json::Value ToJson(const Decoded& block)
{
    Json::Value json(Json::objectValue);
    json["data_id"] = block.data_id;
    json["time_stamp"] = IsoTime(block.time_stamp);
    for (std::size_t i = 0; i < kFlags; ++i) {
        json["flags"][ups_protocol::kStatusFields[i].tag] = block.flags[i];
    }
    for (std::size_t i = 0; i < kValues; ++i) {
        const float value = block.values[i];
        json["values"][ValueFields()[i]->tag] =
            std::isnan(value)   ? Json::Value()
            : std::isinf(value) ? Json::Value(ValueText(value))
                                : Json::Value(static_cast<double>(value));
    }
    return json;
}

}  // namespace data_block
