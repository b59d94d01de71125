#include "tools/nut/Mapping.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "tools/common/AlarmTexts.h"
#include "tools/common/CommandLine.h"
#include "tools/common/JsonKeys.h"
#include "tools/nut/VariableNames.h"
#include "tools/nut/Words.h"

namespace nut {

namespace {

using json_keys::Fail;
using json_keys::Member;
using json_keys::Text;
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

// The variables the host always gives; a value may not take their names, nor
// those starting with "driver.".
const std::vector<std::string> kReservedNames = {
    "device.type", "device.mfr",   "device.model", "device.description", "ups.mfr",
    "ups.model",   "ups.id",       "ups.status",   "ups.alarm",          "input.phases",
    "output.phases"};
// What the host alone tells: no default or override may change it.
const std::vector<std::string> kUnchangeable = {"ups.status", "ups.alarm"};
constexpr const char* kDriverPrefix = "driver.";

// The value NUT shows for a maker or model nothing tells.
constexpr const char* kUnknown = "unknown";
// Three-phase in and out: input.L1-N.voltage and the others.
constexpr const char* kPhases = "3";

// What battery.charge is estimated from, and the variables it goes by.
constexpr const char* kBatteryVoltage = "battery.voltage";
constexpr const char* kVoltageHigh = "battery.voltage.high";
constexpr const char* kVoltageLow = "battery.voltage.low";
constexpr const char* kCharge = "battery.charge";
// ups.load is the highest load of a phase, where values are named so.
constexpr const char* kLoad = "ups.load";
const char* const kPhaseLoads[] = {"output.L1.power.percent", "output.L2.power.percent",
                                   "output.L3.power.percent"};

// Parameters NUT's drivers do not show as driver.parameter.*: what other
// variables show, and what is only upsdrvctl's or upsd's.
const std::vector<std::string> kUnshownParameters = {"driver", "desc", "port", "pollinterval"};

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
    if (IndexOf(kReservedNames, name) != kReservedNames.size() || name.rfind(kDriverPrefix, 0) == 0) {
        Fail(value, where, "\"" + tag + "\": \"" + name + "\" is the host's own variable");
    }
    const std::string unknown = name.empty() ? "" : VariableNames::Installed().Problem(name);
    if (!unknown.empty()) {
        Fail(value, where, "\"" + tag + "\": " + unknown);
    }
    return name;
}

// A number as its shortest decimal that reads back the same: 54.6, not
// 54.600000000000001; 20, not 2e+01.
std::string NumberText(double number)
{
    char text[40];
    if (std::fabs(number) < 1e15 && number == std::trunc(number)) {
        std::snprintf(text, sizeof(text), "%.0f", number);
        return text;
    }
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof(text), "%.*g", digits, number);
        if (std::strtod(text, nullptr) == number) {
            break;
        }
    }
    return text;
}

// The variables of "default" or "override": names NUT knows, each with a
// text or a number.
Variables ReadVariables(const Json::Value& object, const std::string& where, const char* key)
{
    if (!object.isObject()) {
        WrongKind(object, where, key, "an object of variables such as {\"battery.voltage.high\": 54.6}");
    }
    Variables variables;
    const std::string at = where + "." + key;
    for (auto entry = object.begin(); entry != object.end(); ++entry) {
        const std::string problem = VariableProblem(entry.name());
        if (!problem.empty()) {
            Fail(*entry, at, problem);
        }
        if (entry->isString()) {
            variables[entry.name()] = entry->asString();
        } else if (entry->isNumeric() && !entry->isBool()) {
            variables[entry.name()] = NumberText(entry->asDouble());
        } else {
            WrongKind(*entry, at, entry.name(), "a text or a number");
        }
    }
    return variables;
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

// The value `name` is given by override, else by default; nullptr when neither.
const std::string* Given(const DeviceSettings& settings, const std::string& name)
{
    for (const Variables* variables : {&settings.overrides, &settings.defaults}) {
        const auto found = variables->find(name);
        if (found != variables->end()) {
            return &found->second;
        }
    }
    return nullptr;
}

// The battery voltage `name` as given (NaN when not given); why it is no
// number, or "".
std::string Voltage(const DeviceSettings& settings, const char* name, double& volts)
{
    volts = std::nan("");
    const std::string* text = Given(settings, name);
    if (text == nullptr) {
        return "";
    }
    char* end = nullptr;
    volts = std::strtod(text->c_str(), &end);
    if (text->empty() || *end != '\0' || !std::isfinite(volts)) {
        volts = std::nan("");
        return std::string(name) + " is \"" + *text + "\", not a number of volts";
    }
    return "";
}

void ApplyDefaults(const DeviceSettings& settings, Variables& variables)
{
    for (const auto& [name, value] : settings.defaults) {
        variables.emplace(name, value);
    }
}

void ApplyOverrides(const DeviceSettings& settings, Variables& variables)
{
    for (const auto& [name, value] : settings.overrides) {
        variables[name] = value;
    }
}

// ups.WHAT and device.WHAT each the other's when one is missing, "unknown"
// when both are.
void Mirror(Variables& variables, const std::string& what)
{
    const std::string ups = "ups." + what;
    const std::string device = "device." + what;
    if (variables.count(ups) == 0 && variables.count(device) == 0) {
        variables[ups] = kUnknown;
    }
    variables.emplace(ups, variables.count(device) != 0 ? variables[device] : "");
    variables.emplace(device, variables[ups]);
}

// The block's value that is named `name` and is a number, or NaN.
float ValueNamed(const DeviceSettings& settings, const data_block::Decoded& block,
                 const std::string& name)
{
    for (std::size_t i = 0; i < data_block::kValues; ++i) {
        if (settings.names[i] == name && std::isfinite(block.values[i])) {
            return block.values[i];
        }
    }
    return std::nanf("");
}

bool Names(const DeviceSettings& settings, const std::string& name)
{
    return std::find(settings.names.begin(), settings.names.end(), name) != settings.names.end();
}

// battery.charge from the battery voltage, linear from battery.voltage.low
// (0 %) to battery.voltage.high (100 %) and held within them, in whole
// percent as NUT's simple serial drivers tell it; unless a value is
// battery.charge.
void EstimateCharge(const DeviceSettings& settings, const data_block::Decoded& block,
                    Variables& variables)
{
    double high = 0;
    double low = 0;
    const float volts = ValueNamed(settings, block, kBatteryVoltage);
    if (Names(settings, kCharge) || !Voltage(settings, kVoltageHigh, high).empty() ||
        !Voltage(settings, kVoltageLow, low).empty() || std::isnan(volts) || !(high > low)) {
        return;
    }
    const double charge = std::clamp(100.0 * (volts - low) / (high - low), 0.0, 100.0);
    char text[8];
    std::snprintf(text, sizeof(text), "%.0f", charge);
    variables[kCharge] = text;
}

// ups.load as the highest load of the phases whose values say it in percent;
// unless a value is ups.load.
void EstimateLoad(const DeviceSettings& settings, const data_block::Decoded& block,
                  Variables& variables)
{
    float highest = std::nanf("");
    for (const char* phase : kPhaseLoads) {
        highest = std::fmax(highest, ValueNamed(settings, block, phase));
    }
    if (!Names(settings, kLoad) && !std::isnan(highest)) {
        variables[kLoad] = data_block::ValueText(highest);
    }
}

// driver.parameter.KEY for a parameter, driver.flag.KEY "enabled" for a flag,
// as NUT's drivers show them.
void AddParameters(const std::vector<Parameter>& parameters, Variables& variables)
{
    for (const Parameter& parameter : parameters) {
        const bool variable = parameter.key.rfind("default.", 0) == 0 ||
                              parameter.key.rfind("override.", 0) == 0;
        if (variable || IndexOf(kUnshownParameters, parameter.key) != kUnshownParameters.size()) {
            continue;
        }
        if (parameter.value) {
            variables.emplace(kDriverPrefix + std::string("parameter.") + parameter.key, *parameter.value);
        } else {
            variables.emplace(kDriverPrefix + std::string("flag.") + parameter.key, "enabled");
        }
    }
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

const std::vector<json_keys::Key>& SettingsKeys()
{
    static const std::vector<json_keys::Key> keys = [] {
        std::string words;
        for (const std::string& word : kWords) {
            words += " " + word;
        }
        std::string defaults;
        for (const DefaultStatus& status : kDefaultStatus) {
            defaults += std::string(defaults.empty() ? "" : ", ") + status.tag + " " + status.words;
        }
        return std::vector<json_keys::Key>{
            {"status", "an object", "", "",
             "A flag's status words, by its tag: words of" + words + ", \"\" for none (by "
             "default " + defaults + ")."},
            {"names", "an object", "", "",
             "A value's NUT variable name, by its tag (DVIA to DVBL); \"\" leaves it out."},
            {"mfr", "a text", "", "", "ups.mfr and device.mfr."},
            {"model", "a text", "", "", "ups.model and device.model."},
            {"default", "an object", "", "",
             "NUT variables and their values, served where the device gives none."},
            {"override", "an object", "", "",
             "NUT variables and their values, served over what the device gives."},
        };
    }();
    return keys;
}

DeviceSettings ReadSettings(const Json::Value& nut, const std::string& where)
{
    DeviceSettings settings = DefaultSettings();
    const std::string at = where + ", nut";
    if (!nut.isObject()) {
        WrongKind(nut, where, "nut", "an object");
    }
    json_keys::CheckKeys(nut, SettingsKeys(), at);
    if (const Json::Value* status = Member(nut, "status")) {
        ReadStatus(*status, at, settings);
    }
    if (const Json::Value* names = Member(nut, "names")) {
        ReadNames(*names, at, settings);
    }
    settings.mfr = Text(nut, "mfr", at);
    settings.model = Text(nut, "model", at);
    if (const Json::Value* defaults = Member(nut, "default")) {
        settings.defaults = ReadVariables(*defaults, at, "default");
    }
    if (const Json::Value* overrides = Member(nut, "override")) {
        settings.overrides = ReadVariables(*overrides, at, "override");
    }
    const std::string estimate = EstimateProblem(settings);
    if (!estimate.empty()) {
        Fail(nut, where, "nut: " + estimate);
    }
    return settings;
}

std::string VariableProblem(const std::string& name)
{
    if (name.empty() || !std::all_of(name.begin(), name.end(), IsNameCharacter)) {
        return "\"" + name + "\" is no NUT variable name (letters, digits, . - _)";
    }
    if (IndexOf(kUnchangeable, name) != kUnchangeable.size() || name.rfind(kDriverPrefix, 0) == 0) {
        return "\"" + name + "\" is the host's own variable";
    }
    return VariableNames::Installed().Problem(name);
}

std::string EstimateProblem(const DeviceSettings& settings)
{
    double high = 0;
    double low = 0;
    const std::string problem = Voltage(settings, kVoltageHigh, high) + Voltage(settings, kVoltageLow, low);
    if (!problem.empty() || std::isnan(high) || std::isnan(low) || high > low) {
        return problem;
    }
    return std::string(kVoltageHigh) + " (" + NumberText(high) + ") is not above " + kVoltageLow +
           " (" + NumberText(low) + "): battery.charge cannot be told from them";
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
        {"input.phases", kPhases},
        {"output.phases", kPhases},
    };
    AddParameters(identity.parameters, fixed);
    if (!identity.description.empty()) {
        fixed["device.description"] = identity.description;
    }
    for (const auto& [what, value] : {std::pair{"mfr", &settings.mfr}, std::pair{"model", &settings.model}}) {
        if (!value->empty()) {
            fixed["ups." + std::string(what)] = *value;
            fixed["device." + std::string(what)] = *value;
        }
    }
    ApplyDefaults(settings, fixed);
    ApplyOverrides(settings, fixed);
    Mirror(fixed, "mfr");
    Mirror(fixed, "model");
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
        if (!settings.names[i].empty() && std::isfinite(block.values[i])) {
            variables[settings.names[i]] = data_block::ValueText(block.values[i]);
        }
    }
    EstimateCharge(settings, block, variables);
    EstimateLoad(settings, block, variables);
    ApplyOverrides(settings, variables);
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
    if (name.front() == '-') {
        return "a NUT UPS name may not start with - (it would read as an option)";
    }
    return "";
}

std::string SocketName(const std::string& ups) { return std::string(kDriverName) + "-" + ups; }

std::string UpsConfSection(const std::string& ups,
                           const std::vector<std::pair<std::string, std::string>>& parameters)
{
    std::string section = "[" + ups + "]\n\tdriver = " + kDriverName + "\n";
    for (const auto& [key, value] : parameters) {
        section += "\t" + key + " = " + Word(value) + "\n";
    }
    return section;
}

}  // namespace nut
