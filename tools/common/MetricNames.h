#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The names under which a UPS's values and alarm flags go to a time-series
// database: OpenMetrics metric families ("ups_dvia", "ups_alarm_sok") with
// their help and labels, and the InfluxDB line protocol's measurement and
// field keys ("ups", "dvia", "sok"). The history tool's exports take them from
// here, and so would a live endpoint: a series keeps its name whichever wrote
// it. The values carry no unit: the record holds them as the UPS sends them.
namespace metric_names {

// The line protocol's measurement.
constexpr const char* kMeasurement = "ups";
// The label (OpenMetrics) and tag (line protocol) of the device's data identifier.
constexpr const char* kDataIdLabel = "data_id";
// The OpenMetrics label with the record's own tag of the value or flag ("DVIA").
constexpr const char* kTagLabel = "tag";

// The line protocol's field key of a value, by its place in
// data_block::ValueFields() (record order): "dvia".
const std::string& ValueKey(std::size_t value);
// The field key of an alarm flag, by its place in ups_protocol::kStatusFields: "sok".
const std::string& FlagKey(std::size_t flag);

// The metric family of a value: "ups_dvia".
std::string ValueFamily(std::size_t value);
// The metric family of an alarm flag: "ups_alarm_sok".
std::string FlagFamily(std::size_t flag);

// The family's help: "DVIA as the UPS sends it".
std::string ValueHelp(std::size_t value);
// "1 while the alarm 08049 UPS异常 (UPS fault, key sok) is on, else 0".
std::string FlagHelp(std::size_t flag);

// One device's series of a family, without its sample:
// `ups_dvia{data_id="42",tag="DVIA"}`.
std::string Series(const std::string& family, std::uint32_t data_id, const char* tag);

}  // namespace metric_names
