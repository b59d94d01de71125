#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include <json/value.h>

#include "tools/common/JsonKeys.h"

#include "tools/common/DataBlock.h"
#include "tools/nut/State.h"
#include "tools/nut/UpsConf.h"

// How a data block the module published becomes what Network UPS Tools shows
// of the UPS: the status words of ups.status from the five flags, ups.alarm,
// the fifteen values under NUT's variable names, and what NUT's drivers tell
// besides (maker and model, the phases, battery.charge and ups.load where
// they can be told). The defaults stand in the tables below; a device's "nut"
// settings change them, and NUT's default.VAR and override.VAR apply as NUT's
// drivers apply them.
namespace nut {

// The flags' status words, each flag in the order of ups_protocol::kStatusFields.
using StatusWords = std::array<std::vector<std::string>, data_block::kFlags>;
// The values' variable names in record order (data_block::ValueFields());
// "" leaves a value out.
using ValueNames = std::array<std::string, data_block::kValues>;

struct DeviceSettings {
    StatusWords status;
    ValueNames names;
    std::string mfr;      // ups.mfr and device.mfr, when given
    std::string model;    // ups.model and device.model, when given
    Variables defaults;   // set where the driver gives no value
    Variables overrides;  // set always, over the driver's value
};

// What NUT shows when the configuration says nothing.
DeviceSettings DefaultSettings();

// The keys of the device's "nut" object, as ReadSettings checks them and the
// bench host's manual page lists them.
const std::vector<json_keys::Key>& SettingsKeys();

// The device's "nut" object of the bench host's configuration over the
// defaults:
//   {"status": {"SBL": "LB", "SOK": ""}, "names": {"DLOA": "output.L1.power.percent"},
//    "mfr": "...", "model": "...",
//    "default": {"battery.voltage.high": 54.6}, "override": {"ups.model": "..."}}
// A variable name NUT does not know is refused with the nearest it knows.
// Throws json_keys::Mistake naming the key at fault, after `where`.
DeviceSettings ReadSettings(const Json::Value& nut, const std::string& where);

// Why `name` cannot be given a default or an override: no name NUT knows
// (with the nearest it knows), or a variable only the host tells; "" when it
// can.
std::string VariableProblem(const std::string& name);

// Why battery.voltage.high and battery.voltage.low (override, else default)
// cannot give battery.charge: not numbers, or high not above low; "" when
// they can or are not given.
std::string EstimateProblem(const DeviceSettings& settings);

// What the device shows whatever its blocks say.
struct Identity {
    unsigned int data_id = 0;
    std::string port;
    double poll_seconds = 0;
    std::string description{};            // device.description, when given
    std::vector<Parameter> parameters{};  // driver.parameter.KEY, driver.flag.KEY
};
// The driver's fixed variables with the defaults where it gives none and the
// overrides over them; ups.mfr and ups.model always ("unknown" when nothing
// tells them), device.mfr and device.model alike.
Variables FixedVariables(const DeviceSettings& settings, const Identity& identity);

// The fixed variables with ups.status, ups.alarm (when an alarm word is set),
// the values of `block` that are numbers (a NaN or an infinity is left out),
// battery.charge and ups.load where they can be told, and the overrides over
// them all.
Variables BlockVariables(const DeviceSettings& settings, const Variables& fixed,
                         const data_block::Decoded& block);

// ups.status of the flags: OB when a set flag says so, else OL, then the
// other words of the set flags in NUT's usual order.
std::string StatusOf(const StatusWords& status, const data_block::Decoded& block);

// Why `name` cannot be a NUT UPS name, or "". A name starting with - would
// read as an option of the programs that take it.
std::string UpsNameProblem(const std::string& name);

// The driver socket's name for the UPS in the folder upsd looks in.
std::string SocketName(const std::string& ups);

// The ups.conf section that makes upsd look for the UPS's socket: driver,
// then each parameter (`key = value`, quoted where NUT needs it).
std::string UpsConfSection(const std::string& ups,
                           const std::vector<std::pair<std::string, std::string>>& parameters);

// The driver's name in ups.conf and in driver.name.
constexpr const char* kDriverName = "smdhost";

}  // namespace nut
