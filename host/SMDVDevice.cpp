#include "framework/SMDVDevice.h"

#include "framework/SMDController.h"
#include "host/ThresholdSettings.h"

SMDVDevice::SMDVDevice() : check_index_(0), data_valid_(false), alarm_flag_(false) {}

int SMDVDevice::DeviceIoControl(int, const void*, int, void*, int, int& out_used)
{
    out_used = 0;
    return -1;
}

void SMDVDevice::Reset() {}

bool SMDVDevice::InitV(SMDVDevice*, unsigned int data_id, const Json::Value&)
{
    data_id_ = data_id;
    return true;
}

bool SMDVDevice::Init(std::weak_ptr<SMDController> controller, unsigned int data_id,
                      const Json::Value& config)
{
    controller_ = std::move(controller);
    data_id_ = data_id;
    ReadThresholdSettings(config, threshold_levels_, threshold_values_);
    return true;
}

bool SMDVDevice::InitSetting(const Json::Value& settings)
{
    ReadThresholdSettings(settings, threshold_levels_, threshold_values_);
    if (auto controller = controller_.lock()) {
        controller->SettingsRead(*this, settings);
    }
    return true;
}

bool SMDVDevice::IsSupportDevice(const std::string& device_type) const
{
    return device_type == device_type_;
}

bool SMDVDevice::SendSP(int data_type, const unsigned char* data, unsigned int len, bool delayed)
{
    auto controller = controller_.lock();
    return controller && controller->Publish(*this, data_type, data, len, delayed);
}

bool SMDVDevice::SendDelayData(int) { return false; }

bool SMDVDevice::SendDoData(int, char) { return false; }

int SMDVDevice::ReadDi(int) { return 0; }

float SMDVDevice::ReadAi(int) { return 0.0f; }

float SMDVDevice::Get_SP_Value(unsigned int, const std::string& key)
{
    const auto value = ao_values_.find(key);
    return value == ao_values_.end() ? 0.0f : value->second;
}

bool SMDVDevice::CheckThresholdBool(int kind, const std::string& signal_key,
                                    const std::string& alarm_id, const std::string& first_text,
                                    const std::string& second_text, bool state,
                                    unsigned short index)
{
    bool_states_[signal_key] = state;
    auto controller = controller_.lock();
    return controller &&
           controller->CheckBool(*this, BoolAlarmCheck{kind, signal_key, alarm_id, first_text,
                                                       second_text, state, index});
}

bool SMDVDevice::CheckAOReport(const std::string& name, float value)
{
    ao_reported_[name] = value;
    auto controller = controller_.lock();
    return controller && controller->CheckAnalogReport(*this, name, value);
}

void SMDVDevice::CheckThreshold(const std::string& name, const std::string& text,
                                const float& value, int kind)
{
    if (auto controller = controller_.lock()) {
        controller->CheckThreshold(*this, name, text, value, kind);
    }
}

bool SMDVDevice::DoBatchCheckThreshold(const std::vector<rule_value>& rules)
{
    auto controller = controller_.lock();
    return controller && controller->CheckRules(*this, rules);
}

bool SMDVDevice::SaveDeviceHistory(const unsigned char* data, unsigned int len)
{
    auto controller = controller_.lock();
    return controller && controller->StoreHistory(*this, data, len);
}

void SMDVDevice::SetAnalogValue(const std::string& name, float value)
{
    if (ao_values_.find(name) == ao_values_.end()) {
        ao_names_.push_back(name);
    }
    ao_values_[name] = value;
}

void SMDVDevice::QueueRuleCheck(const rule_value& rule) { rule_values_.push_back(rule); }

std::size_t SMDVDevice::PendingRuleChecks() const { return rule_values_.size(); }

bool SMDVDevice::DataValid() const { return data_valid_; }

bool SMDVDevice::AlarmFlag() const { return alarm_flag_; }

unsigned short SMDVDevice::CheckIndex() const { return check_index_; }

boost::posix_time::ptime SMDVDevice::LastUpdate() const { return last_update_; }

int SMDVDevice::ThresholdLevel(const std::string& key) const
{
    const auto level = threshold_levels_.find(key);
    return level == threshold_levels_.end() ? 0 : level->second;
}

float SMDVDevice::ThresholdValue(const std::string& key) const
{
    const auto value = threshold_values_.find(key);
    return value == threshold_values_.end() ? 0.0f : value->second;
}
