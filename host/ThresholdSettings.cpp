#include "host/ThresholdSettings.h"

#include <cstring>

namespace {

// A member of an object, or null when absent; never adds the member.
const Json::Value* Member(const Json::Value& object, const char* key)
{
    return object.find(key, key + std::strlen(key));
}

}  // namespace

void ReadThresholdSettings(const Json::Value& settings, std::map<std::string, int>& levels,
                           std::map<std::string, float>& values)
{
    if (!settings.isObject()) {
        return;
    }
    const Json::Value* signals = Member(settings, "thresholdSetting");
    if (signals == nullptr || !signals->isObject()) {
        return;
    }
    for (auto member = signals->begin(); member != signals->end(); ++member) {
        if (!member->isObject()) {
            continue;
        }
        const Json::Value* level = Member(*member, "Level");
        if (level != nullptr && level->isInt()) {
            levels[member.name()] = level->asInt();
        }
        const Json::Value* value = Member(*member, "Value");
        if (value != nullptr && value->isNumeric()) {
            values[member.name()] = value->asFloat();
        }
    }
}
