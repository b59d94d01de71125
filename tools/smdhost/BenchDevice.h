#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "framework/SMDController.h"
#include "framework/SMDSPDevice.h"
#include "tools/common/SafeFile.h"
#include "tools/smdhost/AnswerPace.h"
#include "tools/smdhost/BenchConfig.h"
#include "tools/smdhost/CacheWriter.h"
#include "tools/smdhost/EventLog.h"
#include "tools/smdhost/FailureReport.h"
#include "tools/smdhost/LineTrace.h"
#include "tools/smdhost/PortSession.h"
#include "tools/smdhost/StateFiles.h"

class SMDSPDeviceProvider;

// One configured device on the bench host and the runner of its poll cycles:
// the driver that the module made, its line (PortSession), its history and
// cache files (StateFiles, CacheWriter), and the host's bookkeeping of its
// cycles. It is the driver's controller, so whatever the driver hands the host
// arrives here and is told to the log as it happens. Made with
// std::make_shared; used from one thread.
class BenchDevice : public SMDController, public std::enable_shared_from_this<BenchDevice> {
public:
    BenchDevice(DeviceConfig config, const safe_file::Folder& state, EventLog& log);
    ~BenchDevice() override;

    // Makes the driver and hands it its settings (Init, InitSetting). Answers
    // false, with the error shown, when the module throws.
    bool Start(const SMDSPDeviceProvider& provider);

    enum class Files { Open, Refused, Held };
    // Takes the device's state files for this host, opens the history and
    // reads the cache. Refused, with the error shown, when one of them is
    // something other than a regular file of the user's own; Held when
    // another host runs the device on them.
    Files OpenFiles();

    // Hands the block kept by an earlier run to the driver, which publishes it
    // again. A reload is no cycle and adds nothing to the history. A cache
    // that cannot be read or fails the host's check is kept aside instead.
    void ReloadCache();

    // Takes the serial line for this host alone. False, with the error shown,
    // when another program holds it or the path is no terminal; a line that
    // is missing now is looked for again each cycle.
    bool TakePort();

    enum class Outcome { Completed, Failed, Interrupted };
    // One poll cycle: RefreshStatus, then what the line brings to process()
    // until the driver ends the exchange, an answer is overdue (the line quiet
    // for the answer timeout, or busy three times as long: AnswerPace) or a
    // stop is requested.
    Outcome RunCycle();

    // Cycles every poll interval until `cycles` have run (0: no limit) or a
    // stop is requested, which also ends the cycle under way.
    void Run(unsigned int cycles);

    events::Summary Totals() const;
    bool StorageFailed() const;
    const EventLog::Device& Identity() const { return identity_; }

    // What the driver hands the host.
    int WriteSerial(SMDVDevice&, const unsigned char* data, unsigned int len) override;
    void ExchangeStarted(SMDVDevice&) override;
    bool Publish(SMDVDevice&, int type, const unsigned char* data, unsigned int len,
                 bool delayed) override;
    bool StoreHistory(SMDVDevice&, const unsigned char* data, unsigned int len) override;
    bool CheckBool(SMDVDevice&, const BoolAlarmCheck& check) override;

private:
    // Tells a warning (about the cycle `cycle`, 0: none) or an error about the device.
    void Warning(const std::string& detail, unsigned int cycle = 0);
    void Error(const std::string& detail);
    // Renames a cache that fails the host's check and says why.
    void SetCacheAside(const std::string& faults);
    void RunCycles(unsigned int cycles);
    bool OpenPort();
    Outcome Exchange();
    // Hands a read's bytes to the driver, up to each line end when they
    // gathered during a pause; false once the driver ends the exchange.
    bool Feed(unsigned char* bytes, std::size_t count, bool gathered);
    Outcome CycleFailed(const std::string& reason, const std::string& detail);
    // Why the answer is overdue: the line quiet, or `busy` with bytes coming.
    std::string TimeoutDetail(bool busy) const;
    std::string RefusedDetail() const;

    DeviceConfig config_;
    EventLog& log_;
    EventLog::Device identity_;
    StateFiles files_;
    FailureReport failures_;
    LineTrace trace_;
    StorageReport history_report_;
    CacheWriter cache_;
    std::shared_ptr<SMDSPDevice> driver_;
    PortSession port_;
    AnswerPace pace_;
    std::map<std::string, bool> alarms_;  // the last state of each signal key

    unsigned int cycle_ = 0;
    unsigned int completed_ = 0;
    bool interrupted_ = false;

    // The cycle under way.
    bool reloading_ = false;
    std::string stored_at_;  // the time the cached block was stored, while it is reloaded
    bool published_ = false;
    bool write_failed_ = false;
    std::string last_command_;
    std::string fed_;            // the answer's first bytes, as fed to process()
    std::string answered_;       // the same of the answer to the command before
    std::size_t fed_total_ = 0;  // bytes fed since the last command
    bool feeding_ = false;       // inside the driver's process()
    bool still_arriving_ = false;  // the last answer was given up while its bytes came
};
