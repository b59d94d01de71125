#pragma once

#include <cstdint>

#include "framework/ttime.h"

// The data block a device publishes, stores and takes back from the host's
// cache: the exact image of these packed bytes, in the target's byte order.
#pragma pack(push, 1)
template <typename T>
struct UniData {
    std::uint32_t data_id;
    T data;
    ttime time_stamp;
};
#pragma pack(pop)
