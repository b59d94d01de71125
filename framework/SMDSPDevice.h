#pragma once

#include <boost/thread/mutex.hpp>
#include <boost/thread/shared_mutex.hpp>

#include "framework/HostApi.h"
#include "framework/SMDVDevice.h"

// The host's serial-port device: the host owns the port and reads it, and
// hands the received bytes to process(). Guessed: what the byte before
// rx_buf_ and the plain members after baud_rate_ are, and the names of the
// two mutexes (their types and places are known: the inline destructor
// destroys them).
class SMD_HOST_API SMDSPDevice : public SMDVDevice {
public:
    static constexpr unsigned int kRxBufferSize = 4096;

    SMDSPDevice();
    ~SMDSPDevice() {}

    void Reset() override;
    bool Init(std::weak_ptr<SMDController> controller, unsigned int data_id,
              const Json::Value& config) override;

    virtual int RefreshStatus();
    virtual int process(unsigned char* data, unsigned int len);
    virtual bool IsProcessing();
    virtual bool IsStalled();
    virtual int SendData(const unsigned char* data, unsigned int len);
    virtual int SendParityData(const unsigned char* data, unsigned int len, EnumParity parity);
    virtual bool OpenPort();
    virtual void ClosePort();

    // Host-side access, used by the host's own loop and by test hosts.
    int Step() const;
    unsigned int RxLength() const;
    int BaudRate() const;

protected:
    int step_;
    bool processing_;
    unsigned char rx_buf_[kRxBufferSize];
    unsigned int rx_len_;
    boost::mutex rx_mutex_;
    boost::shared_mutex port_mutex_;
    int baud_rate_;
    int port_fd_;
    unsigned int polls_;
};
