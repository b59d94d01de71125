#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include <json/value.h>

#include "framework/ttime.h"
#include "ups/QuillmarUPS_Data.h"
#include "ups/UpsProtocol.h"

// A data block as the module publishes and stores it, read back through the
// module's own record layout, for the tools that show blocks: the bench
// host's events and the history tool. A change of the record changes what
// these read, never a second copy of it.
namespace data_block {

constexpr std::size_t kSize = sizeof(QuillmarUPS_Block_t);
constexpr std::size_t kFlags = std::size(ups_protocol::kStatusFields);
constexpr std::size_t kValues = std::size(ups_protocol::kDataFields);

struct Decoded {
    std::uint32_t data_id = 0;
    ttime time_stamp{};
    std::array<std::uint8_t, kFlags> flags{};  // in the order of kStatusFields
    std::array<float, kValues> values{};       // in record order, see ValueFields()
};

// The data fields in the order the record holds them (which is not the order
// of the data answer: DTMB comes before DVBN in the record).
const std::array<const ups_protocol::Field*, kValues>& ValueFields();

// Reads a block of exactly kSize bytes; false for any other length.
bool Decode(const unsigned char* data, std::size_t len, Decoded& block);

// True when the stamp names a real second of a year from 1970 to 9999.
bool IsPossible(const ttime& stamp);

// Reads the zone (TZ) again after it was changed: the offsets are kept per hour.
void ZoneChanged();

// The moment a possible stamp names in the local zone; nothing for an
// impossible one.
std::optional<std::time_t> Moment(const ttime& stamp);

// The local zone's offset from UTC in seconds at a possible stamp; nothing
// for an impossible one or where the zone cannot place it.
std::optional<long> UtcOffset(const ttime& stamp);

// The stamp as ISO 8601 with the local zone's UTC offset at that time
// ("2026-12-08T16:55:58+01:00"): the module stamps blocks with the local
// time. An impossible stamp is shown as stored, without an offset.
std::string IsoTime(const ttime& stamp);
// The same into `text` (room for 40 characters); answers its end.
char* IsoChars(const ttime& stamp, char* text);
// The same with the offset given, where the reader placed the stamp itself
// (in the hour a zone repeats, the offset tells the two apart); without one
// the stamp is shown as stored.
std::string IsoTime(const ttime& stamp, std::optional<long> utc_offset);
char* IsoChars(const ttime& stamp, std::optional<long> utc_offset, char* text);

// A value as the shortest text that reads back to the same float ("229.8",
// not "229.800003"); "nan", "inf" and "-inf" for what is no number.
std::string ValueText(float value);
// The same into `text` (room for 32 characters); answers its end.
char* ValueChars(float value, char* text);

// {"data_id", "time_stamp", "flags": {tag: 0/1}, "values": {tag: number}}: the
// names of the bench host's block events and of the history tool's JSON. JSON
// has no number for what is none: NaN is null and an infinity the string
// "inf" or "-inf", as the history tool's JSON writes them.
Json::Value ToJson(const Decoded& block);

}  // namespace data_block
