#include "tools/common/Duration.h"

#include <cstdio>

namespace {

constexpr std::int64_t kMinute = 60;
constexpr std::int64_t kHour = 60 * kMinute;
constexpr std::int64_t kDay = 24 * kHour;

}  // namespace

std::string DurationText(std::int64_t seconds)
{
    char text[48];
    if (seconds < kMinute) {
        std::snprintf(text, sizeof(text), "%lld s", static_cast<long long>(seconds));
    } else if (seconds < kHour) {
        std::snprintf(text, sizeof(text), "%lld min %02lld s",
                      static_cast<long long>(seconds / kMinute),
                      static_cast<long long>(seconds % kMinute));
    } else if (seconds < kDay) {
        std::snprintf(text, sizeof(text), "%lld h %02lld min",
                      static_cast<long long>(seconds / kHour),
                      static_cast<long long>(seconds % kHour / kMinute));
    } else {
        std::snprintf(text, sizeof(text), "%lld d %02lld h",
                      static_cast<long long>(seconds / kDay),
                      static_cast<long long>(seconds % kDay / kHour));
    }
    return text;
}
