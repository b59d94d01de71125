#pragma once

#include "plugin/Provider.h"

// Makes QuillmarUPS drivers; keeps nothing, so devices outlive it freely.
class QuillmarUPSProvider : public SMDSPDeviceProvider {
public:
    QuillmarUPSProvider() = default;
    ~QuillmarUPSProvider() override {}
    SMDSPDevice* create() const override;
};
