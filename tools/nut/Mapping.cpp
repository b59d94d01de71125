#include "tools/nut/Mapping.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "tools/common/AlarmTexts.h"
#include "tools/common/CommandLine.h"
#include "tools/common/JsonKeys.h"
#include "tools/nut/Words.h"

namespace nut {

namespace {

using json_keys::Fail;
using json_keys::WrongKind;

// The words a flag may give, in the order ups.status lists them after OL or OB.
const std::vector<std::string> kWords = {"OB",  "LB",  "HB",  "RB",   "CHRG",  "DISCHRG", "BYPASS",
                                         "CAL", "OFF", "OVER", "TRIM", "BOOST", "ALARM"};

struct DefaultStatus {
    const char* tag;
    const char* words;
};

// Mains failure and supply by battery both mean the load is on the battery.
const DefaultStatus kDefaultStatus[] = {
    {"SOK", "ALARM"}, {"SBP", "BYPASS"}, {"SUF", "OB"}, {"SBL", "LB"}, {"SBM", "OB"},
};

struct DefaultName {
    const char* tag;
    const char* name;
};

// NUT's own names where the tag's meaning is certain; "experimental." names,
// as NUT asks of names outside its list, where it is not.
const DefaultName kDefaultNames[] = {
    {"DVIA", "input.L1-N.voltage"},
    {"DVIB", "input.L2-N.voltage"},
    {"DVIC", "input.L3-N.voltage"},
    {"DVOA", "output.L1-N.voltage"},
    {"DVOB", "output.L2-N.voltage"},
    {"DVOC", "output.L3-N.voltage"},
    {"DLOA", "experimental.load.dloa"},
    {"DLOB", "experimental.load.dlob"},
    {"DLOC", "experimental.load.dloc"},
    {"DTMP", "ups.temperature"},
    {"DHZF", "experimental.frequency.dhzf"},
    {"DVBT", "battery.voltage"},
    {"DTMB", "experimental.battery.dtmb"},
    {"DVBN", "experimental.battery.dvbn"},
    {"DVBL", "experimental.battery.dvbl"},
};

// The variables the host always gives; a value may not take their names.
const std::vector<std::string> kReservedNames = {
    "device.type",   "device.mfr",     "device.model", "driver.name", "driver.version",
    "driver.parameter.port", "driver.parameter.pollinterval", "ups.id", "ups.status",
    "ups.alarm"};

std::vector<std::string> StatusTags()
{
    std::vector<std::string> tags;
    for (const auto& field : ups_protocol::kStatusFields) {
        tags.emplace_back(field.tag);
    }
    return tags;
}

std::vector<std::string> ValueTags()
{
    std::vector<std::string> tags;
    for (const auto* field : data_block::ValueFields()) {
        tags.emplace_back(field->tag);
    }
    return tags;
}

std::size_t IndexOf(const std::vector<std::string>& list, const std::string& item)
{
    return static_cast<std::size_t>(std::find(list.begin(), list.end(), item) - list.begin());
}

const Json::Value* Member(const Json::Value& object, const char* key)
{
    return object.isObject() ? object.find(key, key + std::strlen(key)) : nullptr;
}

// The words of a text; an open quote makes the whole text one (refused) word.
std::vector<std::string> Blanked(const std::string& text)
{
    return SplitWords(text).value_or(std::vector<std::string>{text});
}

std::vector<std::string> ReadWords(const Json::Value& value, const std::string& where,
                                   const std::string& tag)
{
    if (!value.isString()) {
        WrongKind(value, where, tag, "a text of status words such as \"OB LB\" (\"\": none)");
    }
    std::vector<std::string> words;
    for (const std::string& word : Blanked(value.asString())) {
        if (IndexOf(kWords, word) == kWords.size()) {
            const std::string nearest = json_keys::Nearest(word, kWords);
            Fail(value, where, "\"" + tag + "\": \"" + word + "\" is no status word a flag may give" +
                                   (nearest.empty() ? " (OB LB HB RB CHRG DISCHRG BYPASS CAL OFF "
                                                      "OVER TRIM BOOST ALARM)"
                                                    : "; did you mean \"" + nearest + "\"?"));
        }
        words.push_back(word);
    }
    return words;
}

bool IsNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '.' || c == '-' || c == '_';
}

std::string ReadName(const Json::Value& value, const std::string& where, const std::string& tag)
{
    if (!value.isString()) {
        WrongKind(value, where, tag, "a NUT variable name such as \"input.voltage\" (\"\": left out)");
    }
    const std::string name = value.asString();
    if (!std::all_of(name.begin(), name.end(), IsNameCharacter)) {
        Fail(value, where, "\"" + tag + "\": \"" + name +
                               "\" is no NUT variable name (letters, digits, . - _)");
    }
    if (IndexOf(kReservedNames, name) != kReservedNames.size()) {
        Fail(value, where, "\"" + tag + "\": \"" + name + "\" is the host's own variable");
    }
    return name;
}

std::string Text(const Json::Value& nut, const char* key, const std::string& where)
{
    const Json::Value* value = Member(nut, key);
    if (value == nullptr) {
        return "";
    }
    if (!value->isString()) {
        WrongKind(*value, where, key, "a text");
    }
    return value->asString();
}

void ReadStatus(const Json::Value& status, const std::string& where, DeviceSettings& settings)
{
    if (!status.isObject()) {
        WrongKind(status, where, "status", "an object of flags such as {\"SBL\": \"LB\"}");
    }
    const std::vector<std::string> tags = StatusTags();
    json_keys::CheckKeys(status, tags, where + ".status");
    for (auto entry = status.begin(); entry != status.end(); ++entry) {
        settings.status[IndexOf(tags, entry.name())] =
            ReadWords(*entry, where + ".status", entry.name());
    }
}

void ReadNames(const Json::Value& names, const std::string& where, DeviceSettings& settings)
{
    if (!names.isObject()) {
        WrongKind(names, where, "names", "an object of values such as {\"DVBT\": \"battery.voltage\"}");
    }
    const std::vector<std::string> tags = ValueTags();
    json_keys::CheckKeys(names, tags, where + ".names");
    for (auto entry = names.begin(); entry != names.end(); ++entry) {
        settings.names[IndexOf(tags, entry.name())] = ReadName(*entry, where + ".names", entry.name());
    }
    std::set<std::string> seen;
    for (std::size_t i = 0; i < settings.names.size(); ++i) {
        if (!settings.names[i].empty() && !seen.insert(settings.names[i]).second) {
            Fail(names, where + ".names",
                 "\"" + settings.names[i] + "\" names two values (one is " + tags[i] + ")");
        }
    }
}

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%g", seconds);
    return text;
}

bool Has(const std::vector<std::string>& words, const char* word)
{
    return std::find(words.begin(), words.end(), word) != words.end();
}

// The English texts of the set flags whose words say ALARM.
std::string AlarmOf(const StatusWords& status, const data_block::Decoded& block)
{
    std::string text;
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        if (block.flags[i] != 0 && Has(status[i], "ALARM")) {
            const auto* english = alarm_texts::Find(alarm_texts::AlarmOf(i).signal_key);
            text += (text.empty() ? "" : ", ") + std::string(english->first_text);
        }
    }
    return text;
}

}  // namespace

DeviceSettings DefaultSettings()
{
    DeviceSettings settings;
    const std::vector<std::string> status_tags = StatusTags();
    for (const DefaultStatus& status : kDefaultStatus) {
        settings.status[IndexOf(status_tags, status.tag)] = Blanked(status.words);
    }
    const std::vector<std::string> value_tags = ValueTags();
    for (const DefaultName& name : kDefaultNames) {
        settings.names[IndexOf(value_tags, name.tag)] = name.name;
    }
    return settings;
}

DeviceSettings ReadSettings(const Json::Value& nut, const std::string& where)
{
    DeviceSettings settings = DefaultSettings();
    const std::string at = where + ", nut";
    if (!nut.isObject()) {
        WrongKind(nut, where, "nut", "an object");
    }
    json_keys::CheckKeys(nut, {"status", "names", "mfr", "model"}, at);
    if (const Json::Value* status = Member(nut, "status")) {
        ReadStatus(*status, at, settings);
    }
    if (const Json::Value* names = Member(nut, "names")) {
        ReadNames(*names, at, settings);
    }
    settings.mfr = Text(nut, "mfr", at);
    settings.model = Text(nut, "model", at);
    return settings;
}

Variables FixedVariables(const DeviceSettings& settings, const Identity& identity)
{
    Variables fixed = {
        {"device.type", "ups"},
        {"driver.name", kDriverName},
        {"driver.version", command_line::Version()},
        {"driver.parameter.port", identity.port},
        {"driver.parameter.pollinterval", Seconds(identity.poll_seconds)},
        {"ups.id", std::to_string(identity.data_id)},
    };
    if (!settings.mfr.empty()) {
        fixed["device.mfr"] = settings.mfr;
    }
    if (!settings.model.empty()) {
        fixed["device.model"] = settings.model;
    }
    return fixed;
}

std::string StatusOf(const StatusWords& status, const data_block::Decoded& block)
{
    std::vector<std::string> set;
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        if (block.flags[i] != 0) {
            set.insert(set.end(), status[i].begin(), status[i].end());
        }
    }
    std::string text = Has(set, "OB") ? "OB" : "OL";
    for (std::size_t i = 1; i < kWords.size(); ++i) {
        if (Has(set, kWords[i].c_str())) {
            text += " " + kWords[i];
        }
    }
    return text;
}

Variables BlockVariables(const DeviceSettings& settings, const Variables& fixed,
                         const data_block::Decoded& block)
{
    Variables variables = fixed;
    variables["ups.status"] = StatusOf(settings.status, block);
    const std::string alarm = AlarmOf(settings.status, block);
    if (!alarm.empty()) {
        variables["ups.alarm"] = alarm;
    }
    for (std::size_t i = 0; i < data_block::kValues; ++i) {
        if (!settings.names[i].empty()) {
            variables[settings.names[i]] = data_block::ValueText(block.values[i]);
        }
    }
    return variables;
}

std::string UpsNameProblem(const std::string& name)
{
    if (name.empty() || name.size() > 64 || !std::all_of(name.begin(), name.end(), IsNameCharacter)) {
        return "a NUT UPS name has 1 to 64 letters, digits, . - _ (no blanks, no @ or :)";
    }
    if (name == "default") {
        return "upsd keeps the name \"default\" for itself";
    }
    return "";
}

std::string SocketName(const std::string& ups) { return std::string(kDriverName) + "-" + ups; }

std::string UpsConfSection(const std::string& ups, const std::string& port)
{
    return "[" + ups + "]\n\tdriver = " + kDriverName + "\n\tport = " + Word(port) + "\n";
}

}  // namespace nut
