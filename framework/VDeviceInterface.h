#pragma once

#include <stdexcept>
#include <string>

#include "framework/HostApi.h"

// Root of every device the host drives. The defaults are inline, so they are
// compiled into each module as well as into the host.
class SMD_HOST_API VDeviceInterface {
public:
    virtual float Get_Value(unsigned int, const std::string&) const
    {
        throw std::out_of_range("数据未就绪");
    }

    virtual int LoadFromCache(const std::string& bytes)
    {
        return LoadFromCache(reinterpret_cast<const unsigned char*>(bytes.data()),
                             static_cast<int>(bytes.size()));
    }

    virtual int LoadFromCache(const unsigned char* data, int len) = 0;

    virtual unsigned int DataId() const { return data_id_; }

    virtual const std::string& DeviceType() const { return device_type_; }

    virtual int DeviceIoControl(int, const void*, int, void*, int, int&) { return -2; }

    virtual void RoundDone() {}

    virtual bool UseControllerDb() { return use_controller_db_; }

protected:
    VDeviceInterface() = default;
    VDeviceInterface(const VDeviceInterface&) = delete;
    VDeviceInterface& operator=(const VDeviceInterface&) = delete;

    // Not virtual: a device is destroyed through SMDVDevice or below, never
    // through this interface, and being protected keeps that from compiling.
    ~VDeviceInterface() = default;

    unsigned int data_id_ = 0;
    std::string device_type_;
    bool use_controller_db_ = false;
};
