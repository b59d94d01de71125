#pragma once

#include <map>
#include <string>

#include <json/value.h>

// The host's own reading of a device's "thresholdSetting": each member that
// is an object may give its alarm level ("Level", an integer) and threshold
// ("Value", a number). Anything else is skipped; this never throws.
void ReadThresholdSettings(const Json::Value& settings, std::map<std::string, int>& levels,
                           std::map<std::string, float>& values);
