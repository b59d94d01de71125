#pragma once

#include <ctime>
#include <string>

// The host's check of a cached block before it reaches the module. The module
// republishes a cached block as it is, data identifier and all, and goes on
// publishing that identifier: a block copied from another device, or bytes
// that are no block, must be stopped here.
namespace cache_check {

// What is wrong with `block` as the last block of the device `data_id`, with
// the clock at `now`: each fault, joined by "; " (a wrong size, another data
// identifier, a flag other than 0 or 1, a time stamp that is no real time or
// lies more than a day ahead of the clock). "" when the block may be used.
std::string Faults(const std::string& block, unsigned int data_id, std::time_t now);

}  // namespace cache_check
