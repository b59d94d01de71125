#pragma once

#include <array>
#include <string>
#include <vector>

#include <json/value.h>

#include "tools/common/DataBlock.h"
#include "tools/nut/State.h"

// How a data block the module published becomes what Network UPS Tools shows
// of the UPS: the status words of ups.status from the five flags, ups.alarm,
// and the fifteen values under NUT's variable names. The defaults stand in
// the tables below; a device's "nut" settings change them.
namespace nut {

// The flags' status words, each flag in the order of ups_protocol::kStatusFields.
using StatusWords = std::array<std::vector<std::string>, data_block::kFlags>;
// The values' variable names in record order (data_block::ValueFields());
// "" leaves a value out.
using ValueNames = std::array<std::string, data_block::kValues>;

struct DeviceSettings {
    StatusWords status;
    ValueNames names;
    std::string mfr;    // device.mfr, when given
    std::string model;  // device.model, when given
};

// What NUT shows when the configuration says nothing.
DeviceSettings DefaultSettings();

// The device's "nut" object of the bench host's configuration over the
// defaults:
//   {"status": {"SBL": "LB", "SOK": ""}, "names": {"DLOA": "output.L1.power.percent"},
//    "mfr": "...", "model": "..."}
// Throws json_keys::Mistake naming the key at fault, after `where`.
DeviceSettings ReadSettings(const Json::Value& nut, const std::string& where);

// What the device shows whatever its blocks say.
struct Identity {
    unsigned int data_id = 0;
    std::string port;
    double poll_seconds = 0;
};
Variables FixedVariables(const DeviceSettings& settings, const Identity& identity);

// The fixed variables with ups.status, ups.alarm (when an alarm word is set)
// and the values of `block`.
Variables BlockVariables(const DeviceSettings& settings, const Variables& fixed,
                         const data_block::Decoded& block);

// ups.status of the flags: OB when a set flag says so, else OL, then the
// other words of the set flags in NUT's usual order.
std::string StatusOf(const StatusWords& status, const data_block::Decoded& block);

// Why `name` cannot be a NUT UPS name, or "".
std::string UpsNameProblem(const std::string& name);

// The driver socket's name for the UPS in the folder upsd looks in.
std::string SocketName(const std::string& ups);

// The ups.conf section that makes upsd look for the UPS's socket.
std::string UpsConfSection(const std::string& ups, const std::string& port);

// The driver's name in ups.conf and in driver.name.
constexpr const char* kDriverName = "smdhost";

}  // namespace nut
