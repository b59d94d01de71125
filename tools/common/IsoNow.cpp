#include "tools/common/IsoNow.h"

#include <cstdio>
#include <ctime>

#include "framework/ttime.h"
#include "tools/common/DataBlock.h"

std::string IsoNow(bool millis) { return IsoAt(std::chrono::system_clock::now(), millis); }

std::string IsoAt(std::chrono::system_clock::time_point when, bool millis)
{
    const auto since = when.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    timespec now{};
    now.tv_sec = static_cast<std::time_t>(seconds.count());
    now.tv_nsec = static_cast<long>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    ttime stamp{};
    stamp.year = static_cast<decltype(stamp.year)>(local.tm_year + 1900);
    stamp.month = static_cast<decltype(stamp.month)>(local.tm_mon + 1);
    stamp.day = static_cast<decltype(stamp.day)>(local.tm_mday);
    stamp.hour = static_cast<decltype(stamp.hour)>(local.tm_hour);
    stamp.minute = static_cast<decltype(stamp.minute)>(local.tm_min);
    stamp.second = static_cast<decltype(stamp.second)>(local.tm_sec);
    std::string text = data_block::IsoTime(stamp);
    if (millis && text.size() >= 19) {
        char fraction[24];
        std::snprintf(fraction, sizeof(fraction), ".%03ld", now.tv_nsec / 1000000);
        text.insert(19, fraction);
    }
    return text;
}
