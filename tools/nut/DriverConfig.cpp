#include "tools/nut/DriverConfig.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <set>
#include <stdexcept>

#include "tools/common/JsonKeys.h"

namespace nut {

namespace {

constexpr const char* kDefault = "default.";
constexpr const char* kOverride = "override.";
constexpr double kLongestSeconds = 86400.0;

// The keys that take a value; nolock is a flag (NUT takes a value after it
// too, and passes it over).
const std::vector<std::string> kValueKeys = {
    // NUT's own, for every driver, upsdrvctl and upsd
    "driver", "port", "desc", "sdorder", "maxstartdelay", "user", "group", "synchronous",
    "debug_min", "pollinterval",
    // this driver's
    "module", "data_id", "answer_timeout", "settings", "state_dir", "history_max_bytes",
    "cache_interval"};
const std::vector<std::string> kFlagKeys = {"nolock"};
// What a global line before the first section tells a driver.
const std::vector<std::string> kGlobalKeys = {"pollinterval", "user", "group"};

struct Declined {
    const char* key;
    const char* why;
};

// NUT's keys for what this driver does not do.
const Declined kDeclined[] = {
    {"ignorelb", "this driver takes low battery from the UPS's SBL flag; nut.status \"SBL\" "
                 "gives it other words or none"},
    {"allow_killpower", "this driver has no commands: it cannot power the UPS off"},
    {"sdcommands", "this driver has no commands: it cannot power the UPS off"},
};

bool StartsWith(const std::string& text, const char* start)
{
    return text.rfind(start, 0) == 0;
}

bool Has(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

[[noreturn]] void Refuse(const Parameter& parameter, const std::string& why)
{
    throw std::runtime_error(parameter.where + ": " + why);
}

std::string VariableOf(const std::string& key)
{
    return key.substr(key.find('.') + 1);
}

void CheckVariable(const Parameter& parameter)
{
    const std::string variable = VariableOf(parameter.key);
    if (variable.empty()) {
        Refuse(parameter, parameter.key + " names no variable, such as " + parameter.key +
                              "battery.voltage.high = 54.6");
    }
    const std::string problem = VariableProblem(variable);
    if (!problem.empty()) {
        Refuse(parameter, parameter.key + ": " + problem);
    }
}

void CheckUnknown(const Parameter& parameter)
{
    for (const Declined& declined : kDeclined) {
        if (parameter.key == declined.key) {
            Refuse(parameter, parameter.key + ": " + declined.why);
        }
    }
    const std::string nearest = json_keys::Nearest(parameter.key, DriverKeys());
    Refuse(parameter, "\"" + parameter.key + "\" is no parameter of this driver" +
                          (nearest.empty() ? " (ups.conf(5) and smdhost(1) list them)"
                                           : "; did you mean \"" + nearest + "\"?"));
}

// A parameter of the section or of -x is one this driver takes, in its form.
void Check(const Parameter& parameter)
{
    if (!parameter.problem.empty()) {
        Refuse(parameter, parameter.problem);
    }
    if (StartsWith(parameter.key, kDefault) || StartsWith(parameter.key, kOverride)) {
        CheckVariable(parameter);
    } else if (!Has(kValueKeys, parameter.key) && !Has(kFlagKeys, parameter.key)) {
        CheckUnknown(parameter);
    }
    const bool flag = Has(kFlagKeys, parameter.key);
    if (!flag && !parameter.value) {
        Refuse(parameter, parameter.key + " needs a value: " + parameter.key + " = ...");
    }
}

// `parameter` over one of the same key.
void Put(std::vector<Parameter>& effective, const Parameter& parameter)
{
    for (Parameter& known : effective) {
        if (known.key == parameter.key) {
            known = parameter;
            return;
        }
    }
    effective.push_back(parameter);
}

// Each parameter of `parameters` checked and put over `effective`; a key twice
// among them is refused.
void PutEach(std::vector<Parameter>& effective, const std::vector<Parameter>& parameters)
{
    std::set<std::string> seen;
    for (const Parameter& parameter : parameters) {
        Check(parameter);
        if (!seen.insert(parameter.key).second) {
            Refuse(parameter, parameter.key + " is given twice");
        }
        Put(effective, parameter);
    }
}

std::chrono::milliseconds Seconds(const Parameter& parameter)
{
    const std::string& text = *parameter.value;
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(seconds > 0.0) || seconds > kLongestSeconds) {
        Refuse(parameter, parameter.key + " is a number of seconds above 0 to 86400, not \"" +
                              text + "\"");
    }
    return std::chrono::milliseconds(std::max(1LL, std::llround(seconds * 1000.0)));
}

// cache_interval: 0 (every block) or more seconds, up to a day.
std::chrono::milliseconds SecondsOrNone(const Parameter& parameter)
{
    return *parameter.value == "0" ? std::chrono::milliseconds(0) : Seconds(parameter);
}

// history_max_bytes: 0 (no limit) or one block up to 1 TiB, the JSON configuration's range.
std::uint64_t Bytes(const Parameter& parameter)
{
    constexpr unsigned long long kMost = 1ULL << 40;
    const std::string& text = *parameter.value;
    char* end = nullptr;
    const unsigned long long bytes = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.front())) || *end != '\0' ||
        bytes > kMost || (bytes > 0 && bytes < data_block::kSize)) {
        Refuse(parameter, parameter.key + " is 0 (no limit) or a whole number of bytes from " +
                              std::to_string(data_block::kSize) + " (one block) to " +
                              std::to_string(kMost) + ", not \"" + text + "\"");
    }
    return bytes;
}

unsigned int DataId(const Parameter& parameter)
{
    const std::string& text = *parameter.value;
    char* end = nullptr;
    const unsigned long long id = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.front())) || *end != '\0' ||
        id > 4294967295ULL) {
        Refuse(parameter, "data_id is a whole number from 0 to 4294967295, not \"" + text + "\"");
    }
    return static_cast<unsigned int>(id);
}

std::string Name(const Parameter& parameter)
{
    if (parameter.value->empty()) {
        Refuse(parameter, parameter.key + " is empty: give a name or leave the line out");
    }
    return *parameter.value;
}

// A relative path in ups.conf is taken from its folder; one of -x from the
// current folder.
std::string Path(const Parameter& parameter, const std::string& file)
{
    const std::string& path = *parameter.value;
    if (path.empty()) {
        Refuse(parameter, parameter.key + " is empty: give a file");
    }
    const std::size_t slash = file.rfind('/');
    if (path.front() == '/' || slash == std::string::npos || StartsWith(parameter.where, "-x ")) {
        return path;
    }
    return file.substr(0, slash + 1) + path;
}

void Apply(DriverConfig& config, const Parameter& parameter, const std::string& file)
{
    const std::string& key = parameter.key;
    if (key == "driver" && *parameter.value != kDriverName) {
        Refuse(parameter, "[" + config.ups + "] is for the driver " + *parameter.value +
                              ", not for " + kDriverName);
    }
    if (key == "port") {
        config.port = *parameter.value;
    } else if (key == "desc") {
        config.description = *parameter.value;
    } else if (key == "module" || key == "settings") {
        (key == "module" ? config.module : config.settings) = Path(parameter, file);
    } else if (key == "state_dir") {
        config.state_dir = Path(parameter, file);
    } else if (key == "data_id") {
        config.data_id = DataId(parameter);
    } else if (key == "history_max_bytes") {
        config.history_max_bytes = Bytes(parameter);
    } else if (key == "cache_interval") {
        config.cache_interval = SecondsOrNone(parameter);
    } else if (key == "pollinterval" || key == "answer_timeout") {
        (key == "pollinterval" ? config.poll_interval : config.answer_timeout) = Seconds(parameter);
    } else if (key == "user" || key == "group") {
        (key == "user" ? config.user : config.group) = Name(parameter);
    } else if (key == "nolock") {
        config.nolock = true;
    } else if (StartsWith(key, kDefault) || StartsWith(key, kOverride)) {
        (StartsWith(key, kDefault) ? config.defaults : config.overrides)[VariableOf(key)] =
            *parameter.value;
    }
}

bool Given(const std::vector<Parameter>& effective, const std::string& key)
{
    return std::any_of(effective.begin(), effective.end(),
                       [&](const Parameter& parameter) { return parameter.key == key; });
}

// What a section must say: upsd finds the socket by the driver's name, and
// the port and the data identifier have no default.
void Require(const std::vector<Parameter>& effective, const UpsSection& section)
{
    const struct {
        const char* key;
        const char* example;
    } kRequired[] = {{"driver", "driver = smdhost"},
                     {"port", "port = /dev/ttyUSB0"},
                     {"data_id", "data_id = 1001"}};
    for (const auto& required : kRequired) {
        if (!Given(effective, required.key)) {
            throw std::runtime_error(section.where + ": [" + section.name + "] has no " +
                                     required.key + ": give " + required.example);
        }
    }
}

}  // namespace

const std::vector<std::string>& DriverKeys()
{
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> all = kValueKeys;
        all.insert(all.end(), kFlagKeys.begin(), kFlagKeys.end());
        return all;
    }();
    return keys;
}

DriverConfig ReadDriverConfig(const UpsConfFile& file, const std::string& ups,
                              const std::vector<std::string>& extra)
{
    const std::string problem = UpsNameProblem(ups);
    if (!problem.empty()) {
        throw std::runtime_error("the UPS name \"" + ups + "\": " + problem);
    }
    const UpsSection& section = FindSection(file, ups);
    std::vector<Parameter> effective;
    for (const Parameter& global : file.globals) {
        if (Has(kGlobalKeys, global.key)) {
            Check(global);
            Put(effective, global);
        }
    }
    PutEach(effective, section.parameters);
    std::vector<Parameter> command_line;
    for (const std::string& argument : extra) {
        command_line.push_back(CommandLineParameter(argument));
    }
    PutEach(effective, command_line);
    Require(effective, section);
    DriverConfig config;
    config.ups = ups;
    for (const Parameter& parameter : effective) {
        Apply(config, parameter, file.path);
    }
    config.given = effective;
    return config;
}

DeviceSettings WithDriverConfig(DeviceSettings settings, const DriverConfig& config)
{
    for (const auto& [name, value] : config.defaults) {
        settings.defaults[name] = value;
    }
    for (const auto& [name, value] : config.overrides) {
        settings.overrides[name] = value;
    }
    const std::string problem = EstimateProblem(settings);
    if (!problem.empty()) {
        throw std::runtime_error("[" + config.ups + "]: " + problem);
    }
    return settings;
}

Identity IdentityOf(const DriverConfig& config)
{
    Identity identity;
    identity.data_id = config.data_id;
    identity.port = config.port;
    identity.poll_seconds = static_cast<double>(config.poll_interval.count()) / 1000.0;
    identity.description = config.description;
    identity.parameters = config.given;
    return identity;
}

}  // namespace nut
