#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "framework/SMDController.h"
#include "framework/SMDVDevice.h"

// A controller that records every call a device makes back on the host, in
// order, with the bytes that pass.
class RecordingController : public SMDController {
public:
    using Bytes = std::vector<std::uint8_t>;

    struct Publication {
        int data_type;
        Bytes block;
        bool delayed;
    };

    std::vector<std::string> calls;  // "write", "start", "end", "publish", "bool", ...
    std::vector<std::string> writes;
    std::vector<Publication> published;
    std::vector<Bytes> history;
    std::vector<BoolAlarmCheck> alarms;
    std::vector<bool> alarm_flag_at_alarm;  // the device's alarm flag when each arrived
    std::vector<std::string> analog_reports;
    std::vector<std::string> threshold_checks;
    std::vector<std::size_t> rule_batches;

    std::map<std::string, bool> analog_answers;  // what CheckAnalogReport answers per name
    bool rules_answer = false;

    int WriteSerial(SMDVDevice&, const unsigned char* data, unsigned int len) override
    {
        calls.push_back("write");
        writes.emplace_back(reinterpret_cast<const char*>(data), len);
        return static_cast<int>(len);
    }
    void ExchangeStarted(SMDVDevice&) override { calls.push_back("start"); }
    void ExchangeEnded(SMDVDevice&) override { calls.push_back("end"); }
    bool Publish(SMDVDevice&, int type, const unsigned char* data, unsigned int len,
                 bool delayed) override
    {
        calls.push_back("publish");
        published.push_back({type, Bytes(data, data + len), delayed});
        return true;
    }
    bool StoreHistory(SMDVDevice&, const unsigned char* data, unsigned int len) override
    {
        calls.push_back("history");
        history.emplace_back(data, data + len);
        return true;
    }
    bool CheckBool(SMDVDevice& device, const BoolAlarmCheck& check) override
    {
        calls.push_back("bool");
        alarms.push_back(check);
        alarm_flag_at_alarm.push_back(device.AlarmFlag());
        return true;
    }
    bool CheckAnalogReport(SMDVDevice&, const std::string& name, float) override
    {
        calls.push_back("analog " + name);
        analog_reports.push_back(name);
        return analog_answers[name];
    }
    void CheckThreshold(SMDVDevice&, const std::string& name, const std::string&, float,
                        int) override
    {
        calls.push_back("threshold " + name);
        threshold_checks.push_back(name);
    }
    bool CheckRules(SMDVDevice&, const std::vector<rule_value>& rules) override
    {
        calls.push_back("rules");
        rule_batches.push_back(rules.size());
        return rules_answer;
    }
    void SettingsRead(SMDVDevice&, const Json::Value&) override { calls.push_back("settings"); }

    void Clear() { *this = RecordingController(); }
};
