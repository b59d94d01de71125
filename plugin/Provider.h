#pragma once

#include <memory>
#include <vector>

#include "framework/HostApi.h"
#include "framework/SMDSPDevice.h"

// Root of every provider; the host receives providers as shared_ptr<Provider>
// and finds out what they make by converting them.
class SMD_HOST_API Provider {
public:
    Provider() = default;
    virtual ~Provider() {}
};

// Abstract maker of serial-port devices. The caller owns what create() returns.
class SMD_HOST_API SMDSPDeviceProvider : public Provider {
public:
    SMDSPDeviceProvider() = default;
    ~SMDSPDeviceProvider() override {}
    virtual SMDSPDevice* create() const = 0;
};

// The one entry point a driver module exports, looked up by this plain name.
using GetProvidersFn = std::vector<std::shared_ptr<Provider>> (*)();
constexpr const char* kGetProvidersSymbol = "get_providers";
