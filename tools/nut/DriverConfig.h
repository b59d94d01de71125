#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/nut/Mapping.h"
#include "tools/nut/UpsConf.h"

// What the driver of one UPS is told by NUT's ups.conf, the way NUT's own
// drivers read it: its section, the global lines that section leaves to them
// (pollinterval, user, group), and `-x KEY=VALUE` of the command line over
// both. A parameter this driver does not take is refused, naming the nearest
// one it takes, as NUT's drivers refuse theirs.
namespace nut {

struct DriverConfig {
    std::string ups;   // the section's name: the UPS's name for upsd
    std::string port;  // the serial port
    std::string module;  // the module file; "" when not given
    unsigned int data_id = 0;
    std::chrono::milliseconds poll_interval{2000};
    std::chrono::milliseconds answer_timeout{3000};
    std::string settings;     // the JSON file of the device's settings; "" when not given
    std::string state_dir;    // the folder of its history and cache; "" when not given
    // history_max_bytes and cache_interval as the JSON configuration has them; unset when not given.
    std::optional<std::uint64_t> history_max_bytes;
    std::optional<std::chrono::milliseconds> cache_interval;
    std::string description;  // desc: device.description
    std::string user;         // user: the driver's user in NUT; "" when not given
    std::string group;        // group: the socket's group; "" when not given
    bool nolock = false;      // nolock: the port is not locked
    Variables defaults;       // default.VAR: where the driver gives no value
    Variables overrides;      // override.VAR: always, over the driver's value
    // Every parameter given, each key once with the value that holds (-x over
    // the section over the global lines), in the order first given:
    // driver.parameter.* and driver.flag.* show them.
    std::vector<Parameter> given;
};

// Reads section `ups` of `file` with the `-x` arguments `extra` over it.
// Relative paths (module, settings) are taken from the folder of the file,
// those of -x from the current folder. Throws std::runtime_error naming the
// line or the -x argument at fault.
DriverConfig ReadDriverConfig(const UpsConfFile& file, const std::string& ups,
                              const std::vector<std::string>& extra);

// The device's "nut" settings with ups.conf's default.VAR and override.VAR
// over those of the same name. Throws std::runtime_error when the battery
// voltages the charge is estimated from cannot be used.
DeviceSettings WithDriverConfig(DeviceSettings settings, const DriverConfig& config);

// What NUT shows of the driver whatever its blocks say.
Identity IdentityOf(const DriverConfig& config);

// The keys of a section this driver takes, besides default.VAR and override.VAR.
const std::vector<std::string>& DriverKeys();

}  // namespace nut
