#pragma once

#include <cstddef>
#include <cstdint>

#include "unidata/UniData.h"

// One poll cycle of the UPS: five status flags, then fifteen measurements as
// little-endian floats at odd offsets. Access fields by value or memcpy only:
// a float reference into this record is unaligned.
#pragma pack(push, 1)
struct QuillmarUPS_Data_t {
    std::uint8_t sok;
    std::uint8_t sbp;
    std::uint8_t suf;
    std::uint8_t sbl;
    std::uint8_t sbm;
    float dvia;
    float dvib;
    float dvic;
    float dvoa;
    float dvob;
    float dvoc;
    float dloa;
    float dlob;
    float dloc;
    float dtmp;
    float dhzf;
    float dvbt;
    float dtmb;
    float dvbn;
    float dvbl;
};
#pragma pack(pop)

static_assert(sizeof(QuillmarUPS_Data_t) == 65, "the UPS record is 65 packed bytes");
static_assert(offsetof(QuillmarUPS_Data_t, sbm) == 4, "status flags fill bytes 0 to 4");
static_assert(offsetof(QuillmarUPS_Data_t, dvia) == 5, "floats start at byte 5");
static_assert(offsetof(QuillmarUPS_Data_t, dvib) == 9, "dvib at 9");
static_assert(offsetof(QuillmarUPS_Data_t, dvic) == 13, "dvic at 13");
static_assert(offsetof(QuillmarUPS_Data_t, dvoa) == 17, "dvoa at 17");
static_assert(offsetof(QuillmarUPS_Data_t, dvob) == 21, "dvob at 21");
static_assert(offsetof(QuillmarUPS_Data_t, dvoc) == 25, "dvoc at 25");
static_assert(offsetof(QuillmarUPS_Data_t, dloa) == 29, "dloa at 29");
static_assert(offsetof(QuillmarUPS_Data_t, dlob) == 33, "dlob at 33");
static_assert(offsetof(QuillmarUPS_Data_t, dloc) == 37, "dloc at 37");
static_assert(offsetof(QuillmarUPS_Data_t, dtmp) == 41, "dtmp at 41");
static_assert(offsetof(QuillmarUPS_Data_t, dhzf) == 45, "dhzf at 45");
static_assert(offsetof(QuillmarUPS_Data_t, dvbt) == 49, "dvbt at 49");
static_assert(offsetof(QuillmarUPS_Data_t, dtmb) == 53, "dtmb at 53");
static_assert(offsetof(QuillmarUPS_Data_t, dvbn) == 57, "dvbn at 57");
static_assert(offsetof(QuillmarUPS_Data_t, dvbl) == 61, "dvbl at 61");

using QuillmarUPS_Block_t = UniData<QuillmarUPS_Data_t>;
static_assert(sizeof(QuillmarUPS_Block_t) == 76, "the data block is 4 + 65 + 7 bytes");
static_assert(offsetof(QuillmarUPS_Block_t, data) == 4, "the record starts at block byte 4");
static_assert(offsetof(QuillmarUPS_Block_t, time_stamp) == 69, "the time stamp fills 69 to 75");
