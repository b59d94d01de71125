#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

#include "tools/common/JsonKeys.h"
#include "tools/nut/Mapping.h"

// The bench host's configuration file:
//
//   {"module": "build/dev/quillmarups.so",
//    "state_dir": "smdhost-state",
//    "devices": [
//      {"name": "ups-1", "data_id": 1001, "port": "/dev/ttyUSB0",
//       "poll_interval": 2.0, "answer_timeout": 3.0,
//       "settings": {"appSetting": {"b_mode": 3},
//                    "thresholdSetting": {"sbm": {"Level": 2, "Value": 1}}}}]}
//
// Times are in seconds. Only "data_id" and "port" are required of a device.
// Relative paths (module, state_dir, port) are taken from the file's folder.
// A key nobody reads is refused as the typo it is, with the nearest known key.
struct DeviceConfig {
    std::string name;  // for the output; "ups-" and the data identifier if not given
    unsigned int data_id = 0;
    std::string port;
    Json::Value settings{Json::objectValue};  // handed to Init and InitSetting
    std::chrono::milliseconds poll_interval{2000};  // 0: the next cycle at once
    std::chrono::milliseconds answer_timeout{3000};
    nut::DeviceSettings nut = nut::DefaultSettings();  // how NUT shows it ("nut")
    std::uint64_t history_max_bytes = 0;          // rotated past this; 0: no limit
    std::chrono::milliseconds cache_interval{60000};  // see CacheWrites; 0: every block
};

struct BenchConfig {
    std::string module;
    std::string state_dir = "smdhost-state";
    std::string nut_dir;  // where NUT's upsd finds the devices' sockets; "": not served
    std::vector<DeviceConfig> devices;
};

// Every key of the configuration, the object it belongs to, its kind, default
// and range: the tables the reader checks keys against, which the manual page
// lists.
const std::vector<json_keys::KeyTable>& ConfigurationKeys();

// Reads the configuration; throws std::runtime_error naming the file, the
// line and the key at fault.
BenchConfig LoadBenchConfig(const std::string& path);
// Throws json_keys::Mistake (a std::runtime_error) naming the key at fault.
BenchConfig ParseBenchConfig(const Json::Value& root);

// Checks a device's "settings" as the host reads them: their keys
// (appSetting, thresholdSetting and the signals' keys) and the kinds the
// module would read quietly wrong. Throws json_keys::Mistake after `where`.
void CheckDeviceSettings(const Json::Value& settings, const std::string& where);

// One device with default settings on `port`: what the host runs when it is
// given a port and no configuration file.
DeviceConfig DefaultDevice(const std::string& port);

// Where in settings the module could not read them (an object or a list where
// it reads a text), found by the host's own look at them: "" when it cannot
// tell.
std::string SettingAtFault(const Json::Value& settings);
