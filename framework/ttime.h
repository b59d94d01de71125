#pragma once

#include <cstdint>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "framework/HostApi.h"

// The host's 7-byte time stamp, as stored inside data blocks. The module
// copies it whole; the order and names of its fields are our guess (the
// controller's own declaration replaces it), and they decide how a stored
// block's last seven bytes read.
#pragma pack(push, 1)
struct ttime {
    std::uint16_t year;  // little-endian on every target the host runs on
    std::uint8_t month;
    std::uint8_t day;
    std::uint8_t hour;
    std::uint8_t minute;
    std::uint8_t second;
};
#pragma pack(pop)

static_assert(sizeof(ttime) == 7, "ttime is 7 packed bytes");

SMD_HOST_API ttime get_ttime(boost::posix_time::ptime time);
