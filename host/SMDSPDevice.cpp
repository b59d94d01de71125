#include "framework/SMDSPDevice.h"

#include "framework/SMDController.h"

SMDSPDevice::SMDSPDevice()
    : step_(0),
      processing_(false),
      rx_buf_{},
      rx_len_(0),
      baud_rate_(9600),
      port_fd_(-1),
      polls_(0)
{
}

// Ends the exchange; the step is the driver's and is left alone.
void SMDSPDevice::Reset()
{
    processing_ = false;
    rx_len_ = 0;
    if (auto controller = controller_.lock()) {
        controller->ExchangeEnded(*this);
    }
}

bool SMDSPDevice::Init(std::weak_ptr<SMDController> controller, unsigned int data_id,
                       const Json::Value& config)
{
    return SMDVDevice::Init(std::move(controller), data_id, config);
}

// Starts an exchange with an empty receive buffer; the step is the driver's.
int SMDSPDevice::RefreshStatus()
{
    rx_len_ = 0;
    processing_ = true;
    ++polls_;
    if (auto controller = controller_.lock()) {
        controller->ExchangeStarted(*this);
    }
    return 1;
}

int SMDSPDevice::process(unsigned char*, unsigned int) { return 0; }

bool SMDSPDevice::IsProcessing() { return processing_; }

bool SMDSPDevice::IsStalled() { return false; }

int SMDSPDevice::SendData(const unsigned char* data, unsigned int len)
{
    auto controller = controller_.lock();
    return controller ? controller->WriteSerial(*this, data, len) : -1;
}

int SMDSPDevice::SendParityData(const unsigned char* data, unsigned int len, EnumParity)
{
    return SendData(data, len);
}

bool SMDSPDevice::OpenPort() { return true; }

void SMDSPDevice::ClosePort() {}

int SMDSPDevice::Step() const { return step_; }

unsigned int SMDSPDevice::RxLength() const { return rx_len_; }

int SMDSPDevice::BaudRate() const { return baud_rate_; }
