#include "host/ThresholdSettings.h"

#include "host/JsonMember.h"

using json_member::Member;

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
