#pragma once

#include <string>
#include <vector>

#include <json/value.h>

#include "framework/HostApi.h"
#include "framework/HostTypes.h"

class SMDVDevice;

// One boolean alarm check as a device hands it to the host.
struct BoolAlarmCheck {
    int kind;
    std::string signal_key;
    std::string alarm_id;
    std::string first_text;
    std::string second_text;
    bool state;
    unsigned short index;
};

// The host's controller: where the host device classes deliver what a driver
// hands them. Every operation has a quiet default, so a controller overrides
// only what it cares about.
class SMD_HOST_API SMDController {
public:
    virtual ~SMDController() = default;

    // Bytes that SMDSPDevice::SendData writes to the device's serial line.
    // Answers the number of bytes written, or -1.
    virtual int WriteSerial(SMDVDevice&, const unsigned char*, unsigned int len)
    {
        return static_cast<int>(len);
    }

    // A poll exchange starts (SMDSPDevice::RefreshStatus) or ends (Reset).
    virtual void ExchangeStarted(SMDVDevice&) {}
    virtual void ExchangeEnded(SMDVDevice&) {}

    // A data block published with SMDVDevice::SendSP.
    virtual bool Publish(SMDVDevice&, int, const unsigned char*, unsigned int, bool) { return true; }

    // A data block stored with SMDVDevice::SaveDeviceHistory.
    virtual bool StoreHistory(SMDVDevice&, const unsigned char*, unsigned int) { return true; }

    // The alarm and threshold checks of a round.
    virtual bool CheckBool(SMDVDevice&, const BoolAlarmCheck&) { return false; }
    virtual bool CheckAnalogReport(SMDVDevice&, const std::string&, float) { return false; }
    virtual void CheckThreshold(SMDVDevice&, const std::string&, const std::string&, float, int) {}
    virtual bool CheckRules(SMDVDevice&, const std::vector<rule_value>&) { return false; }

    // The settings object handed to SMDVDevice::InitSetting.
    virtual void SettingsRead(SMDVDevice&, const Json::Value&) {}
};
