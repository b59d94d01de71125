#pragma once

#include <string>

#include <json/value.h>

#include "tools/nut/Mapping.h"

// A UPS's settings in a file of their own, for the NUT driver of one UPS
// (ups.conf's `settings = FILE`): the module's settings, as a device's
// "settings" of the bench host's configuration, and how NUT shows the UPS,
// as its "nut":
//
//   {"appSetting": {"b_mode": 3},
//    "thresholdSetting": {"sbm": {"Level": 2, "Value": 1}},
//    "nut": {"model": "Rack 7", "names": {"DLOA": "output.L1.power.percent"}}}
//
// Every member is checked as the configuration's are: a key nobody reads is
// refused with the nearest known key.
namespace driver_mode {

struct SettingsFile {
    Json::Value module{Json::objectValue};  // handed to Init and InitSetting
    nut::DeviceSettings nut = nut::DefaultSettings();
};

// The settings of `root`, for the UPS `where` ("[ups-a]"). Throws
// json_keys::Mistake naming the key at fault after `where`.
SettingsFile ParseSettingsFile(const Json::Value& root, const std::string& where);

// Reads the file `path`. Throws std::runtime_error naming the file, and the
// line and key at fault.
SettingsFile ReadSettingsFile(const std::string& path, const std::string& where);

}  // namespace driver_mode
