#include "tools/smdhost/BenchConfig.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>

#include "tools/common/JsonKeys.h"
#include "ups/UpsProtocol.h"

namespace {

using json_keys::Fail;
using json_keys::Member;
using json_keys::Text;
using json_keys::WrongKind;

const std::vector<std::string> kTopKeys = {"module", "state_dir", "nut_dir", "devices"};
const std::vector<std::string> kDeviceKeys = {
    "name",     "data_id",           "port",           "poll_interval", "answer_timeout",
    "settings", "history_max_bytes", "cache_interval", "nut"};
// One block, the least a history can hold; and a terabyte.
constexpr long long kLeastHistory = 76;
constexpr long long kMostHistory = 1LL << 40;
// The settings as the module and the host read them.
const std::vector<std::string> kSettingsKeys = {"appSetting", "thresholdSetting"};
const std::vector<std::string> kAppKeys = {"b_mode"};
const std::vector<std::string> kSignalKeys = {"SignalName",   "NMAlarmID", "ID",
                                              "SignalNumber", "Level",     "Value"};
// What the module reads as text: an object or a list there makes jsoncpp throw.
const char* const kTextKeys[] = {"SignalName", "NMAlarmID", "ID", "SignalNumber"};

std::vector<std::string> SignalNames()
{
    std::vector<std::string> names;
    for (const auto& alarm : ups_protocol::kAlarms) {
        names.emplace_back(alarm.signal_key);
    }
    return names;
}

std::chrono::milliseconds Seconds(const Json::Value& entry, const char* key,
                                  std::chrono::milliseconds fallback, double least,
                                  const std::string& where)
{
    const Json::Value* value = Member(entry, key);
    if (value == nullptr) {
        return fallback;
    }
    const std::string expected =
        std::string("a number of seconds ") + (least == 0.0 ? "from 0" : "above 0") + " to 86400";
    if (!value->isNumeric() || value->isBool()) {
        WrongKind(*value, where, key, expected);
    }
    const double seconds = value->asDouble();
    if (seconds < least || seconds > 86400.0) {
        Fail(*value, where, "\"" + std::string(key) + "\" is " + expected + ", not " +
                                json_keys::Shown(*value));
    }
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0 + 0.5));
}

// The keys of a device's settings, and the kinds the host reads quietly.
void CheckSettings(const Json::Value& settings, const std::string& where)
{
    json_keys::CheckKeys(settings, kSettingsKeys, where + ", settings");
    if (const Json::Value* app = Member(settings, "appSetting")) {
        if (!app->isObject()) {
            WrongKind(*app, where + ", settings", "appSetting", "an object such as {\"b_mode\": 3}");
        }
        json_keys::CheckKeys(*app, kAppKeys, where + ", settings.appSetting");
    }
    const Json::Value* signals = Member(settings, "thresholdSetting");
    if (signals == nullptr || !signals->isObject()) {
        return;  // the module's to refuse
    }
    json_keys::CheckKeys(*signals, SignalNames(), where + ", settings.thresholdSetting");
    for (auto signal = signals->begin(); signal != signals->end(); ++signal) {
        const std::string at = where + ", settings.thresholdSetting." + signal.name();
        json_keys::CheckKeys(*signal, kSignalKeys, at);
        const Json::Value* level = Member(*signal, "Level");
        if (level != nullptr) {
            json_keys::WholeNumber(*level, at, "Level", INT32_MIN, INT32_MAX);
        }
        const Json::Value* value = Member(*signal, "Value");
        if (value != nullptr && (!value->isNumeric() || value->isBool())) {
            WrongKind(*value, at, "Value", "a number");
        }
    }
}

DeviceConfig ReadDevice(const Json::Value& entry, Json::ArrayIndex number)
{
    const std::string where = "device " + std::to_string(number + 1);
    if (!entry.isObject()) {
        Fail(entry, where, "a device is an object, not " + json_keys::KindOf(entry));
    }
    json_keys::CheckKeys(entry, kDeviceKeys, where);
    DeviceConfig device;
    const Json::Value* data_id = Member(entry, "data_id");
    if (data_id == nullptr) {
        Fail(entry, where, "\"data_id\", a whole number from 0 to 4294967295, is required");
    }
    device.data_id = static_cast<unsigned int>(
        json_keys::WholeNumber(*data_id, where, "data_id", 0, UINT32_MAX));
    device.port = Text(entry, "port", where);
    if (device.port.empty()) {
        Fail(entry, where, "\"port\" names the serial device (required)");
    }
    device.name = Text(entry, "name", where);
    if (device.name.empty()) {
        device.name = "ups-" + std::to_string(device.data_id);
    }
    if (const Json::Value* settings = Member(entry, "settings")) {
        if (!settings->isObject()) {
            WrongKind(*settings, where, "settings", "an object");
        }
        CheckSettings(*settings, where);
        device.settings = *settings;
    }
    device.poll_interval = Seconds(entry, "poll_interval", device.poll_interval, 0.0, where);
    device.answer_timeout = Seconds(entry, "answer_timeout", device.answer_timeout, 1e-3, where);
    device.cache_interval = Seconds(entry, "cache_interval", device.cache_interval, 0.0, where);
    if (const Json::Value* limit = Member(entry, "history_max_bytes")) {
        const long long bytes =
            json_keys::WholeNumber(*limit, where, "history_max_bytes", 0, kMostHistory);
        if (bytes > 0 && bytes < kLeastHistory) {
            Fail(*limit, where, "\"history_max_bytes\" is 0 (no limit) or from 76 (one block) to " +
                                    std::to_string(kMostHistory) + ", not " + std::to_string(bytes));
        }
        device.history_max_bytes = static_cast<std::uint64_t>(bytes);
    }
    if (const Json::Value* nut = Member(entry, "nut")) {
        device.nut = nut::ReadSettings(*nut, where);
    }
    return device;
}

// A relative path in the file at `config` is taken from the file's folder.
std::string FromFolderOf(const std::string& config, const std::string& path)
{
    const std::size_t slash = config.rfind('/');
    if (path.empty() || path.front() == '/' || slash == std::string::npos) {
        return path;
    }
    return config.substr(0, slash + 1) + path;
}

}  // namespace

BenchConfig ParseBenchConfig(const Json::Value& root)
{
    if (!root.isObject()) {
        Fail(root, "configuration", "an object is expected, not " + json_keys::KindOf(root));
    }
    json_keys::CheckKeys(root, kTopKeys, "configuration");
    BenchConfig config;
    config.module = Text(root, "module", "configuration");
    if (Member(root, "state_dir") != nullptr) {
        config.state_dir = Text(root, "state_dir", "configuration");
    }
    config.nut_dir = Text(root, "nut_dir", "configuration");
    const Json::Value* devices = Member(root, "devices");
    if (devices == nullptr || !devices->isArray() || devices->empty()) {
        Fail(devices ? *devices : root, "configuration",
             "\"devices\" is a list of one device or more");
    }
    std::set<unsigned int> ids;
    for (Json::ArrayIndex i = 0; i < devices->size(); ++i) {
        config.devices.push_back(ReadDevice((*devices)[i], i));
        if (!ids.insert(config.devices.back().data_id).second) {
            Fail((*devices)[i], "device " + std::to_string(i + 1),
                 "data_id " + std::to_string(config.devices.back().data_id) + " is used twice");
        }
    }
    return config;
}

BenchConfig LoadBenchConfig(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    }
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    BenchConfig config = json_keys::ParseWith(path, text, ParseBenchConfig);
    config.module = FromFolderOf(path, config.module);
    config.state_dir = FromFolderOf(path, config.state_dir);
    config.nut_dir = FromFolderOf(path, config.nut_dir);
    for (DeviceConfig& device : config.devices) {
        device.port = FromFolderOf(path, device.port);
    }
    return config;
}

void CheckDeviceSettings(const Json::Value& settings, const std::string& where)
{
    CheckSettings(settings, where);
}

DeviceConfig DefaultDevice(const std::string& port)
{
    DeviceConfig device;
    device.data_id = 1;
    device.name = "ups-1";
    device.port = port;
    return device;
}

std::string SettingAtFault(const Json::Value& settings)
{
    const auto shape = [](const Json::Value& value) { return value.isArray() || value.isObject(); };
    const Json::Value* app = Member(settings, "appSetting");
    if (app != nullptr && Member(*app, "b_mode") != nullptr && shape(*Member(*app, "b_mode"))) {
        return "settings.appSetting.b_mode is " + json_keys::KindOf(*Member(*app, "b_mode")) +
               ", where a text or number is read";
    }
    const Json::Value* signals = Member(settings, "thresholdSetting");
    if (signals != nullptr && signals->isArray()) {
        return "settings.thresholdSetting is a list, where an object of signals is read";
    }
    if (signals == nullptr || !signals->isObject()) {
        return "";
    }
    for (auto signal = signals->begin(); signal != signals->end(); ++signal) {
        for (const char* key : kTextKeys) {
            const Json::Value* value = Member(*signal, key);
            if (value != nullptr && shape(*value)) {
                return "settings.thresholdSetting." + signal.name() + "." + key + " is " +
                       json_keys::KindOf(*value) + ", where a text or number is read";
            }
        }
    }
    return "";
}
