#include "tools/smdhost/BenchConfig.h"

#include <fstream>
#include <set>
#include <stdexcept>

#include <json/reader.h>

namespace {

[[noreturn]] void Fail(const std::string& where, const std::string& what)
{
    throw std::runtime_error(where + ": " + what);
}

std::chrono::milliseconds Seconds(const Json::Value& entry, const char* key,
                                   std::chrono::milliseconds fallback, const std::string& where)
{
    if (!entry.isMember(key)) {
        return fallback;
    }
    const Json::Value& value = entry[key];
    if (!value.isNumeric() || value.asDouble() <= 0.0 || value.asDouble() > 86400.0) {
        Fail(where, std::string("\"") + key + "\" is a number of seconds above 0");
    }
    return std::chrono::milliseconds(static_cast<long long>(value.asDouble() * 1000.0 + 0.5));
}

DeviceConfig ReadDevice(const Json::Value& entry, Json::ArrayIndex number)
{
    const std::string where = "device " + std::to_string(number + 1);
    if (!entry.isObject()) {
        Fail(where, "a device is an object");
    }
    DeviceConfig device;
    if (!entry["data_id"].isUInt()) {
        Fail(where, "\"data_id\" is an unsigned integer");
    }
    device.data_id = entry["data_id"].asUInt();
    if (!entry["port"].isString() || entry["port"].asString().empty()) {
        Fail(where, "\"port\" names the serial device");
    }
    device.port = entry["port"].asString();
    device.name = entry.get("name", "ups-" + std::to_string(device.data_id)).asString();
    if (entry.isMember("settings")) {
        device.settings = entry["settings"];
    }
    device.poll_interval = Seconds(entry, "poll_interval", device.poll_interval, where);
    device.answer_timeout = Seconds(entry, "answer_timeout", device.answer_timeout, where);
    return device;
}

}  // namespace

BenchConfig ParseBenchConfig(const Json::Value& root)
{
    if (!root.isObject()) {
        Fail("configuration", "an object is expected");
    }
    BenchConfig config;
    config.module = root.get("module", "").asString();
    config.state_dir = root.get("state_dir", config.state_dir).asString();
    const Json::Value& devices = root["devices"];
    if (!devices.isArray() || devices.empty()) {
        Fail("configuration", "\"devices\" is a list of one device or more");
    }
    std::set<unsigned int> ids;
    for (Json::ArrayIndex i = 0; i < devices.size(); ++i) {
        config.devices.push_back(ReadDevice(devices[i], i));
        if (!ids.insert(config.devices.back().data_id).second) {
            Fail("device " + std::to_string(i + 1), "data_id " +
                                                        std::to_string(config.devices.back().data_id) +
                                                        " is used twice");
        }
    }
    return config;
}

BenchConfig LoadBenchConfig(const std::string& path)
{
    std::ifstream file(path);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    Json::CharReaderBuilder builder;
    Json::Value root;
    std::string errors;
    if (!Json::parseFromStream(builder, file, &root, &errors)) {
        throw std::runtime_error(path + ": " + errors);
    }
    try {
        return ParseBenchConfig(root);
    } catch (const std::runtime_error& error) {
        throw std::runtime_error(path + ": " + error.what());
    }
}

DeviceConfig DefaultDevice(const std::string& port)
{
    DeviceConfig device;
    device.data_id = 1;
    device.name = "ups-1";
    device.port = port;
    return device;
}
