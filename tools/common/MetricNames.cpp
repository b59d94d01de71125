#include "tools/common/MetricNames.h"

#include <array>

#include "tools/common/AlarmTexts.h"
#include "tools/common/DataBlock.h"

namespace metric_names {

namespace {

std::string Lower(const char* tag)
{
    std::string name = tag;
    for (char& c : name) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return name;
}

}  // namespace

const std::string& ValueKey(std::size_t value)
{
    static const auto keys = [] {
        std::array<std::string, data_block::kValues> names;
        for (std::size_t i = 0; i < names.size(); ++i) {
            names[i] = Lower(data_block::ValueFields()[i]->tag);
        }
        return names;
    }();
    return keys[value];
}

const std::string& FlagKey(std::size_t flag)
{
    static const auto keys = [] {
        std::array<std::string, data_block::kFlags> names;
        for (std::size_t i = 0; i < names.size(); ++i) {
            names[i] = Lower(ups_protocol::kStatusFields[i].tag);
        }
        return names;
    }();
    return keys[flag];
}

std::string ValueFamily(std::size_t value) { return "ups_" + ValueKey(value); }

std::string FlagFamily(std::size_t flag) { return "ups_alarm_" + FlagKey(flag); }

std::string ValueHelp(std::size_t value)
{
    return std::string(data_block::ValueFields()[value]->tag) + " as the UPS sends it";
}

std::string FlagHelp(std::size_t flag)
{
    const ups_protocol::Alarm& alarm = alarm_texts::AlarmOf(flag);
    return std::string("1 while the alarm ") + alarm.alarm_id + " " + alarm.first_text + " (" +
           alarm_texts::Find(alarm.signal_key)->first_text + ", key " + alarm.signal_key +
           ") is on, else 0";
}

std::string Series(const std::string& family, std::uint32_t data_id, const char* tag)
{
    return family + "{" + kDataIdLabel + "=\"" + std::to_string(data_id) + "\"," + kTagLabel +
           "=\"" + tag + "\"}";
}

}  // namespace metric_names
