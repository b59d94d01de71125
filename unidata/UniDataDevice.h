#pragma once

#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <json/value.h>

#include "framework/SMDVDevice.h"
#include "framework/ttime.h"
#include "unidata/LeadingInteger.h"
#include "unidata/UniData.h"

// The layer between a host device class and a concrete driver: one packed
// data block around the driver's record T, published to the host as data of
// type DataType at the end of every round.
template <typename T, typename Base, int DataType>
class UniDataDevice : public Base {
public:
    static constexpr unsigned int kBlockSize = sizeof(UniData<T>);

    UniDataDevice()
    {
        std::memset(&uni_data_, 0, sizeof(uni_data_));
        b_mode_ = 1;
    }

    // Both overloads stay reachable on a driver.
    using Base::LoadFromCache;

    // Takes back a stored block of exactly kBlockSize bytes and republishes it.
    int LoadFromCache(const unsigned char* data, int len) override
    {
        if (len != static_cast<int>(kBlockSize) || data == nullptr) {
            return 0;
        }
        std::memcpy(&uni_data_, data, kBlockSize);
        this->data_valid_ = true;
        this->RoundDone();
        return 1;
    }

    // Ends a round: stamp, publish, end the exchange, run the checks, store.
    void RoundDone() override
    {
        if (!this->data_valid_) {
            this->data_valid_ = true;
        }
        this->last_update_ = boost::posix_time::second_clock::local_time();
        uni_data_.time_stamp = get_ttime(this->last_update_);
        const auto* block = reinterpret_cast<const unsigned char*>(&uni_data_);
        this->SMDVDevice::SendSP(DataType, block, kBlockSize, false);
        this->Reset();
        this->check_index_ = 1;
        this->alarm_flag_ = false;
        RunCheckThreshold();
        for (std::string name : this->ao_names_) {
            const auto value = this->ao_values_.find(name);
            if (value == this->ao_values_.end()) {
                continue;
            }
            this->alarm_flag_ = this->CheckAOReport(name, value->second) || this->alarm_flag_;
            this->CheckThreshold(name, "", value->second, 1);
        }
        std::cout << "rvSize is " << static_cast<int>(this->rule_values_.size()) << std::endl;
        this->alarm_flag_ = this->DoBatchCheckThreshold(this->rule_values_) || this->alarm_flag_;
        this->SaveDeviceHistory(block, kBlockSize);
        this->rule_values_.clear();
    }

    ~UniDataDevice() override {}

    // Stamps the data identifier, reads the mode and, in mode 3, the alarm
    // identity and name of each signal, then hands over to the host.
    bool InitSetting(const Json::Value& settings) override
    {
        uni_data_.data_id = this->data_id_;
        const Json::Value& app = settings["appSetting"];
        if (!app.isNull() && app.isObject()) {
            const Json::Value& mode = app["b_mode"];
            if (!mode.isNull()) {
                b_mode_ = LeadingInteger(mode.asString());
                std::cout << "InitSetting " << this->data_id_ << " b_mode_:" << b_mode_
                          << std::endl;
            }
        }
        if (b_mode_ == 3) {
            ReadThresholdSetting(settings);
        }
        return this->SMDVDevice::InitSetting(settings);
    }

    // The driver's own alarm checks, run once per round.
    virtual void RunCheckThreshold() {}

protected:
    UniData<T> uni_data_;
    int b_mode_ = 1;
    std::map<std::string, std::string> alarm_ids_;
    std::map<std::string, std::string> signal_names_;

private:
    void ReadThresholdSetting(const Json::Value& settings)
    {
        std::cout << "here 1" << std::endl;
        const Json::Value& signals = settings["thresholdSetting"];
        if (signals.isNull()) {
            return;
        }
        std::cout << "here 2" << std::endl;
        for (auto member = signals.begin(); member != signals.end(); ++member) {
            const std::string key = member.name();
            std::cout << "here " << key << std::endl;
            const Json::Value& signal = signals[key];
            if (!signal.isObject()) {
                continue;
            }
            const Json::Value& name = signal["SignalName"];
            if (!name.isNull()) {
                signal_names_[key] = name.asString();
            }
            const std::string identity = AlarmIdentity(signal);
            std::cout << "mobile:" << key << ":" << identity
                      << " level:" << this->threshold_levels_[key]
                      << " value:" << this->threshold_values_[key] << std::endl;
            alarm_ids_[key] = identity;
        }
    }

    // "NMAlarmID;ID;SignalNumber;", a missing part left empty and reported.
    std::string AlarmIdentity(const Json::Value& signal) const
    {
        static constexpr const char* kParts[] = {"NMAlarmID", "ID", "SignalNumber"};
        std::string identity;
        for (const char* part : kParts) {
            const Json::Value& value = signal[part];
            if (!value.isNull()) {
                identity += value.asString();
            } else {
                std::cout << this->data_id_ << " " << part << " is missing" << std::endl;
            }
            identity += ";";
        }
        return identity;
    }
};
