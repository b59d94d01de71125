#include "tools/smdhost/BenchConfig.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
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

using json_keys::Key;

// Times of the configuration are seconds up to a day.
constexpr double kMostSeconds = 86400.0;
// One block, the least a history can hold; and a terabyte.
constexpr long long kLeastHistory = 76;
constexpr long long kMostHistory = 1LL << 40;
// What the module reads as text: an object or a list there makes jsoncpp throw.
const char* const kTextKeys[] = {"SignalName", "NMAlarmID", "ID", "SignalNumber"};

// The seconds a time takes: "from 0 to 86400", or "above 0 to 86400" when
// 0 is too few.
std::string SecondsRange(double least)
{
    return std::string(least == 0.0 ? "from 0" : "above 0") + " to " +
           std::to_string(static_cast<long>(kMostSeconds));
}

// A default of DeviceConfig, as the manual page shows it: "2", "0.5".
std::string SecondsOf(std::chrono::milliseconds time)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%g", static_cast<double>(time.count()) / 1000.0);
    return text;
}

std::string HistoryRange()
{
    return "0 (no limit) or from " + std::to_string(kLeastHistory) + " (one block) to " +
           std::to_string(kMostHistory);
}

const std::vector<Key>& TopKeys()
{
    static const std::vector<Key> keys = {
        {"module", "a text", "", "",
         "The driver module's file (the package's is /usr/lib/smd/modules/quillmarups.so); "
         "--module overrides it, and one of them is needed."},
        {"state_dir", "a text", "\"" + BenchConfig().state_dir + "\"", "",
         "The folder of the devices' history and cache files (see FILES), made (mode 0755) "
         "when missing; --state-dir overrides it."},
        {"nut_dir", "a text", "", "",
         "Serve every device to Network UPS Tools' upsd from this folder, as --nut (which "
         "overrides it) does."},
        {"devices", "a list of objects", "", "one device or more",
         "The devices to run, each an object with the keys of a device.", true},
    };
    return keys;
}

const std::vector<Key>& DeviceKeys()
{
    static const std::vector<Key> keys = {
        {"name", "a text", "ups-<data_id>", "",
         "The device's name in the output and as a NUT UPS."},
        {"data_id", "a whole number", "", "from 0 to " + std::to_string(UINT32_MAX),
         "The device's data identifier, one per device: its blocks carry it and its files are "
         "named by it.",
         true},
        {"port", "a text", "", "",
         "The serial device, such as /dev/ttyUSB0; --port replaces the first device's.", true},
        {"poll_interval", "a number of seconds", SecondsOf(DeviceConfig().poll_interval),
         SecondsRange(0.0),
         "From the start of one poll cycle to the start of the next; 0: the next at once."},
        {"answer_timeout", "a number of seconds", SecondsOf(DeviceConfig().answer_timeout),
         SecondsRange(1e-3),
         "How long the line may stay quiet while the host waits for an answer, before its "
         "first byte or after its last; an answer still coming after three times this fails "
         "too."},
        {"settings", "an object", "{}", "",
         "The device's settings, handed to the module's Init and InitSetting: the keys of a "
         "device's settings."},
        {"history_max_bytes", "a whole number", std::to_string(DeviceConfig().history_max_bytes),
         HistoryRange(),
         "The history's size limit in bytes, in whole blocks: past it the history is kept as "
         "ID.history.1 and a new one started."},
        {"cache_interval", "a number of seconds", SecondsOf(DeviceConfig().cache_interval),
         SecondsRange(0.0),
         "0 rewrites the cache with every block; more rewrites it at once for a flag that "
         "changed, at most this often for values alone, and at the end of a run."},
        {"nut", "an object", "{}", "",
         "How Network UPS Tools shows the device: the keys of a device's nut."},
    };
    return keys;
}

const std::vector<Key>& SettingsKeys()
{
    static const std::vector<Key> keys = {
        {"appSetting", "an object", "", "", "The device mode: the key b_mode."},
        {"thresholdSetting", "an object", "", "",
         "Read in mode 3 only: an object per signal key (sok, sbp, suf, sbl, sbm) with the "
         "keys of a signal."},
    };
    return keys;
}

const std::vector<Key>& AppKeys()
{
    static const std::vector<Key> keys = {
        {"b_mode", "a whole number or a text", "1", "",
         "The device mode, the leading whole number of a text (3, \"3\" and \"3x\" give 3)."},
    };
    return keys;
}

const std::vector<Key>& SignalKeys()
{
    static const std::vector<Key> keys = {
        {"SignalName", "a text or a number", "", "", "The signal's name, as the module prints it."},
        {"NMAlarmID", "a text or a number", "", "",
         "The alarm identity's first part; the module keeps it, its alarms carry their own."},
        {"ID", "a text or a number", "", "", "The alarm identity's second part."},
        {"SignalNumber", "a text or a number", "", "", "The alarm identity's third part."},
        {"Level", "a whole number", "", "from " + std::to_string(INT32_MIN) + " to " +
                                             std::to_string(INT32_MAX),
         "The alarm level, the host's; the module prints it."},
        {"Value", "a number", "", "", "The threshold, the host's; the module prints it."},
    };
    return keys;
}

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
    const std::string expected = "a number of seconds " + SecondsRange(least);
    if (!value->isNumeric() || value->isBool()) {
        WrongKind(*value, where, key, expected);
    }
    const double seconds = value->asDouble();
    if (seconds < least || seconds > kMostSeconds) {
        Fail(*value, where, "\"" + std::string(key) + "\" is " + expected + ", not " +
                                json_keys::Shown(*value));
    }
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0 + 0.5));
}

// The keys of a device's settings, and the kinds the host reads quietly.
void CheckSettings(const Json::Value& settings, const std::string& where)
{
    json_keys::CheckKeys(settings, SettingsKeys(), where + ", settings");
    if (const Json::Value* app = Member(settings, "appSetting")) {
        if (!app->isObject()) {
            WrongKind(*app, where + ", settings", "appSetting", "an object such as {\"b_mode\": 3}");
        }
        json_keys::CheckKeys(*app, AppKeys(), where + ", settings.appSetting");
    }
    const Json::Value* signals = Member(settings, "thresholdSetting");
    if (signals == nullptr || !signals->isObject()) {
        return;  // the module's to refuse
    }
    json_keys::CheckKeys(*signals, SignalNames(), where + ", settings.thresholdSetting");
    for (auto signal = signals->begin(); signal != signals->end(); ++signal) {
        const std::string at = where + ", settings.thresholdSetting." + signal.name();
        json_keys::CheckKeys(*signal, SignalKeys(), at);
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
    json_keys::CheckKeys(entry, DeviceKeys(), where);
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
            Fail(*limit, where, "\"history_max_bytes\" is " + HistoryRange() + ", not " +
                                    std::to_string(bytes));
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

const std::vector<json_keys::KeyTable>& ConfigurationKeys()
{
    static const std::vector<json_keys::KeyTable> tables = {
        {"the top level", TopKeys()},
        {"a device", DeviceKeys()},
        {"a device's settings", SettingsKeys()},
        {"settings.appSetting", AppKeys()},
        {"a signal of settings.thresholdSetting", SignalKeys()},
        {"a device's nut", nut::SettingsKeys()},
    };
    return tables;
}

BenchConfig ParseBenchConfig(const Json::Value& root)
{
    if (!root.isObject()) {
        Fail(root, "configuration", "an object is expected, not " + json_keys::KindOf(root));
    }
    json_keys::CheckKeys(root, TopKeys(), "configuration");
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
