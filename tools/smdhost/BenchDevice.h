#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "framework/SMDController.h"
#include "framework/SMDSPDevice.h"
#include "tools/smdhost/BenchConfig.h"
#include "tools/smdhost/EventLog.h"
#include "tools/common/SerialPort.h"

class SMDSPDeviceProvider;

// One configured device on the bench host: the driver that the module made,
// its serial line, its history and cache files, and the host's bookkeeping of
// its poll cycles. It is the driver's controller, so whatever the driver hands
// the host arrives here. Made with std::make_shared; used from one thread.
class BenchDevice : public SMDController, public std::enable_shared_from_this<BenchDevice> {
public:
    // Failed cycles in a row after which the device's data is stale.
    static constexpr unsigned int kStaleAfter = 3;

    BenchDevice(DeviceConfig config, const std::string& state_dir, EventLog& log);
    ~BenchDevice() override;

    // Makes the driver and hands it its settings (Init, InitSetting). Answers
    // false, with the error shown, when the module throws.
    bool Start(const SMDSPDeviceProvider& provider);

    // Hands the block kept by an earlier run to the driver, which publishes it
    // again. A reload is no cycle and adds nothing to the history.
    void ReloadCache();

    // One poll cycle: RefreshStatus, then every chunk the line brings to
    // process() until the driver ends the exchange or the answer timeout
    // passes. Answers true when the cycle published a block.
    bool RunCycle();

    // Cycles every poll interval until `cycles` have run (0: no limit) or a
    // stop is requested; the cycle under way is always finished.
    void Run(unsigned int cycles);

    unsigned int Completed() const { return completed_; }
    unsigned int Failed() const { return failed_; }
    bool Stale() const { return stale_; }
    const EventLog::Device& Identity() const { return identity_; }

    // What the driver hands the host.
    int WriteSerial(SMDVDevice&, const unsigned char* data, unsigned int len) override;
    void ExchangeStarted(SMDVDevice&) override;
    bool Publish(SMDVDevice&, int type, const unsigned char* data, unsigned int len,
                 bool delayed) override;
    bool StoreHistory(SMDVDevice&, const unsigned char* data, unsigned int len) override;
    bool CheckBool(SMDVDevice&, const BoolAlarmCheck& check) override;

private:
    bool OpenPort();
    bool Exchange();
    bool CycleDone();
    bool CycleFailed(const std::string& reason, const std::string& detail);
    void WriteCache(const unsigned char* data, unsigned int len);

    DeviceConfig config_;
    EventLog& log_;
    EventLog::Device identity_;
    std::string history_path_;
    std::string cache_path_;
    std::shared_ptr<SMDSPDevice> driver_;
    SerialPort port_;
    int history_fd_ = -1;
    std::map<std::string, bool> alarms_;  // the last state of each signal key

    unsigned int cycle_ = 0;
    unsigned int completed_ = 0;
    unsigned int failed_ = 0;
    unsigned int failed_in_a_row_ = 0;
    bool stale_ = false;

    // The cycle under way.
    bool reloading_ = false;
    bool published_ = false;
    bool write_failed_ = false;
    std::string last_command_;
    std::size_t answer_bytes_ = 0;  // received since the last command
    std::chrono::steady_clock::time_point answer_deadline_{};
};
