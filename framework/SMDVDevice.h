#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>
#include <json/value.h>

#include "framework/HostApi.h"
#include "framework/HostTypes.h"
#include "framework/VDeviceInterface.h"

class SMDController;

// The host's virtual device. A module compiles against this declaration and
// the host's binary implements it, so the order of bases, data members and
// virtual operations is part of the binary interface and must not change.
// Known: the members a module uses and the types and order of the host's own
// members that are more than plain values (the inline destructor destroys
// them). Guessed: the names of the host's own members, the plain members
// between them, and the content of BAOSetting and pi_alert_.
class SMD_HOST_API SMDVDevice : public VDeviceInterface,
                                public std::enable_shared_from_this<SMDVDevice> {
public:
    // Band of an analog value (host bookkeeping). Guessed; a module relies
    // only on its having no destructor to run.
    struct BAOSetting {
        float low = 0.0f;
        float high = 0.0f;
        int level = 0;
    };

    // One alert the host keeps for its own reporting. Guessed; a module never
    // sees one (the host's shared pointers release them).
    struct pi_alert_ {
        std::string key;
        std::string text;
        bool raised = false;
    };

    SMDVDevice();

    int DeviceIoControl(int code, const void* in, int in_len, void* out, int out_len,
                        int& out_used) override;

    virtual ~SMDVDevice() {}

    virtual void Reset();
    virtual bool InitV(SMDVDevice* parent, unsigned int data_id, const Json::Value& config);
    virtual bool Init(std::weak_ptr<SMDController> controller, unsigned int data_id,
                      const Json::Value& config);
    virtual bool InitSetting(const Json::Value& settings);
    virtual bool IsSupportDevice(const std::string& device_type) const;
    virtual std::shared_ptr<SMDVDevice> GetChildVDevice(unsigned int) { return {}; }
    virtual std::vector<std::shared_ptr<SMDVDevice>> GetAllChildVDevices() { return {}; }
    virtual bool SendSP(int data_type, const unsigned char* data, unsigned int len, bool delayed);
    virtual bool SendDelayData(int data_type);
    virtual bool SendDoData(int channel, char value);
    virtual int ReadDi(int channel);
    virtual float ReadAi(int channel);
    virtual float Get_SP_Value(unsigned int index, const std::string& key);

    bool CheckThresholdBool(int kind, const std::string& signal_key, const std::string& alarm_id,
                            const std::string& first_text, const std::string& second_text,
                            bool state, unsigned short index);
    bool CheckAOReport(const std::string& name, float value);
    void CheckThreshold(const std::string& name, const std::string& text, const float& value,
                        int kind);
    bool DoBatchCheckThreshold(const std::vector<rule_value>& rules);
    bool SaveDeviceHistory(const unsigned char* data, unsigned int len);

    // Host-side access, used by the host's own loop and by test hosts.
    void SetAnalogValue(const std::string& name, float value);
    void QueueRuleCheck(const rule_value& rule);
    std::size_t PendingRuleChecks() const;
    bool DataValid() const;
    bool AlarmFlag() const;
    unsigned short CheckIndex() const;
    boost::posix_time::ptime LastUpdate() const;
    int ThresholdLevel(const std::string& key) const;
    float ThresholdValue(const std::string& key) const;

protected:
    std::map<std::string, BAOSetting> bao_settings_;
    unsigned short check_index_;
    boost::posix_time::ptime last_update_;
    bool data_valid_;
    std::vector<rule_value> rule_values_;
    std::vector<boost::shared_ptr<pi_alert_>> pi_alerts_;
    boost::mutex alert_mutex_;
    std::map<std::string, bool> bool_states_;
    std::weak_ptr<SMDController> controller_;
    bool alarm_flag_;
    std::map<std::string, float> ao_reported_;
    std::vector<std::string> ao_names_;
    std::map<std::string, float> ao_values_;
    std::vector<std::string> di_names_;
    std::vector<std::string> do_names_;
    std::vector<std::string> sp_names_;
    std::map<std::string, int> threshold_levels_;
    std::map<std::string, float> threshold_values_;
};
