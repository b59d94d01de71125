#pragma once

#include <string>

// Small record types of the host that devices carry but a driver never reads.
// Their content is our guess: the module depends only on their size and, for
// rule_value, on where its strings lie (the module's inline
// rule_values_.clear() destroys them). The controller's own declarations
// replace these; abi/check-host-headers.sh compares every member.

// Serial parity for SMDSPDevice::SendParityData. Guessed: its values; its size is an int's.
enum EnumParity { PARITY_NONE = 0, PARITY_ODD = 1, PARITY_EVEN = 2, PARITY_MARK = 3, PARITY_SPACE = 4 };

// One pending rule check, queued by the host and evaluated in a batch at the
// end of a round. Guessed: four strings among plain members, in this order.
struct rule_value {
    std::string signal_key;
    std::string alarm_id;
    std::string rule;
    std::string text;
    int level = 0;
    float value = 0.0f;
    bool state = false;
};
