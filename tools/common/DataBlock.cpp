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
    // mktime asks the zone afresh each call (a stat of /etc/localtime): a
    // history of a million blocks asks once an hour of stamps instead.
    thread_local std::uint32_t cached_hour = 0;
    thread_local std::optional<long> cached_offset;
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

std::string IsoTime(const ttime& stamp)
{
    char text[40];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02u",
                  static_cast<unsigned>(stamp.year), stamp.month, stamp.day, stamp.hour,
                  stamp.minute, stamp.second);
    const std::optional<long> utc_offset = UtcOffset(stamp);
    if (!utc_offset) {
        return text;
    }
    const long offset = *utc_offset;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char zone[40];
    std::snprintf(zone, sizeof(zone), "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return std::string(text) + zone;
}

std::string ValueText(float value)
{
    if (std::isnan(value)) {
        return "nan";
    }
    char text[32];
    const auto end = std::to_chars(text, text + sizeof(text), value).ptr;
    return std::string(text, end);
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
        json["values"][ValueFields()[i]->tag] = static_cast<double>(block.values[i]);
    }
    return json;
}

}  // namespace data_block
