#pragma once

#include <cstddef>

#include "ups/UpsProtocol.h"

// The alarms' texts in English, for the tools' readers: the module hands the
// host only its own texts (ups_protocol::kAlarms), and these stay out of it.
namespace alarm_texts {

struct English {
    const char* signal_key;
    const char* first_text;
    const char* second_text;
};

constexpr English kEnglish[] = {
    {"sok", "UPS fault", "UPS fault"},
    {"sbp", "supply by bypass", "supply by bypass"},
    {"suf", "mains failure", "mains failure"},
    {"sbl", "low voltage", "low voltage"},
    {"sbm", "supply-by-battery alarm", "battery discharge"},
};

constexpr bool SameText(const char* a, const char* b)
{
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// The English texts of an alarm's signal key; nullptr for a key without them.
constexpr const English* Find(const char* signal_key)
{
    for (const English& texts : kEnglish) {
        if (SameText(texts.signal_key, signal_key)) {
            return &texts;
        }
    }
    return nullptr;
}

// The alarm of a status flag, by its place in ups_protocol::kStatusFields.
constexpr const ups_protocol::Alarm& AlarmOf(std::size_t flag)
{
    for (const ups_protocol::Alarm& alarm : ups_protocol::kAlarms) {
        if (alarm.offset == ups_protocol::kStatusFields[flag].offset) {
            return alarm;
        }
    }
    return ups_protocol::kAlarms[flag];
}

constexpr bool EveryAlarmHasEnglish()
{
    for (const ups_protocol::Alarm& alarm : ups_protocol::kAlarms) {
        if (Find(alarm.signal_key) == nullptr) {
            return false;
        }
    }
    return true;
}

static_assert(EveryAlarmHasEnglish(),
              "every alarm of ups_protocol::kAlarms needs its English texts in kEnglish");

}  // namespace alarm_texts
