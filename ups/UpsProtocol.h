#pragma once

#include <cstddef>

#include "ups/QuillmarUPS_Data.h"

// The UPS's ASCII protocol at 2400 bit/s. The host sends a command; the UPS
// answers with CR LF terminated lines, a tag and its value on each:
//
//   host: RS\r                 host: RD\r
//   UPS:  SOK1\r\n             UPS:  DVIA230.5\r\n
//         SBP0\r\n                   DVIB229.8\r\n
//         SUF0\r\n                   ...   (fifteen lines)
//         SBL0\r\n                   DVBL20.0\r\n
//         SBM0\r\n
//         (two more lines, not read)
//
// Each tag is searched for over the whole answer, so line order is free.
namespace ups_protocol {

constexpr int kBaudRate = 2400;
constexpr const char* kDeviceType = "quillmarups";
constexpr unsigned int kCommandLength = 3;
constexpr const unsigned char kStatusCommand[] = "RS\r";
constexpr const unsigned char kDataCommand[] = "RD\r";
constexpr unsigned int kStatusLines = 7;
constexpr unsigned int kDataLines = 15;
// No protocol line comes near this; a longer run is line noise, and the
// pattern matcher's recursion grows with it.
constexpr std::size_t kMaxLineLength = 128;

enum class Step : int { Idle = 0, AwaitStatus = 2, AwaitData = 3 };

struct Field {
    const char* tag;
    const char* pattern;
    std::size_t offset;  // within QuillmarUPS_Data_t
};

// A status tag carries one digit, 0 or 1, directly followed by CR LF. The
// digit is written (0|1), which fits exactly where [01] fits: building a
// bracket class fills a 256-entry table through the locale, which cost more
// than all the rest of a poll cycle together.
constexpr Field kStatusFields[] = {
    {"SOK", "SOK(0|1)\r\n", offsetof(QuillmarUPS_Data_t, sok)},
    {"SBP", "SBP(0|1)\r\n", offsetof(QuillmarUPS_Data_t, sbp)},
    {"SUF", "SUF(0|1)\r\n", offsetof(QuillmarUPS_Data_t, suf)},
    {"SBL", "SBL(0|1)\r\n", offsetof(QuillmarUPS_Data_t, sbl)},
    {"SBM", "SBM(0|1)\r\n", offsetof(QuillmarUPS_Data_t, sbm)},
};

// A data tag carries a number up to the end of its line. Searched in this
// order; note that DVBN comes before DTMB here but after it in the record.
constexpr Field kDataFields[] = {
    {"DVIA", "DVIA(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dvia)},
    {"DVIB", "DVIB(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dvib)},
    {"DVIC", "DVIC(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dvic)},
    {"DVOA", "DVOA(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dvoa)},
    {"DVOB", "DVOB(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dvob)},
    {"DVOC", "DVOC(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dvoc)},
    {"DLOA", "DLOA(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dloa)},
    {"DLOB", "DLOB(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dlob)},
    {"DLOC", "DLOC(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dloc)},
    {"DTMP", "DTMP(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dtmp)},
    {"DHZF", "DHZF(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dhzf)},
    {"DVBT", "DVBT(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dvbt)},
    {"DVBN", "DVBN(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dvbn)},
    {"DTMB", "DTMB(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dtmb)},
    {"DVBL", "DVBL(.*?)\r\n", offsetof(QuillmarUPS_Data_t, dvbl)},
};

static_assert(sizeof(kStatusFields) / sizeof(kStatusFields[0]) == 5, "five status flags");
static_assert(sizeof(kDataFields) / sizeof(kDataFields[0]) == 15, "fifteen measurements");

// The boolean alarm of each status flag, in the order the host receives them.
struct Alarm {
    const char* signal_key;
    const char* alarm_id;
    const char* first_text;
    const char* second_text;
    std::size_t offset;  // the status flag within QuillmarUPS_Data_t
};

constexpr Alarm kAlarms[] = {
    {"sok", "08049", "UPS异常", "UPS异常", offsetof(QuillmarUPS_Data_t, sok)},
    {"sbp", "08020", "旁路供电", "旁路供电", offsetof(QuillmarUPS_Data_t, sbp)},
    {"suf", "08001", "市电掉电", "市电掉电", offsetof(QuillmarUPS_Data_t, suf)},
    {"sbl", "08003", "电压低压", "电压低压", offsetof(QuillmarUPS_Data_t, sbl)},
    {"sbm", "08037", "电池供电告警", "电池放电", offsetof(QuillmarUPS_Data_t, sbm)},
};

}  // namespace ups_protocol
