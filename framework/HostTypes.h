#pragma once

#include <string>

// Small record types of the host that devices carry but a driver never reads.

// Serial parity for SMDSPDevice::SendParityData.
enum EnumParity { PARITY_NONE = 0, PARITY_ODD = 1, PARITY_EVEN = 2, PARITY_MARK = 3, PARITY_SPACE = 4 };

// One pending rule check, queued by the host and evaluated in a batch at the
// end of a round.
struct rule_value {
    std::string signal_key;
    std::string alarm_id;
    std::string rule;
    std::string text;
    int level = 0;
    float value = 0.0f;
    bool state = false;
};
