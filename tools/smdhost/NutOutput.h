#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/nut/Account.h"
#include "tools/nut/Mapping.h"
#include "tools/nut/Server.h"
#include "tools/smdhost/BenchConfig.h"
#include "tools/smdhost/EventLog.h"
#include "tools/smdhost/EventOutput.h"

// The devices as Network UPS Tools sees them: each block a device publishes
// becomes its UPS's variables and status words, a completed poll cycle makes
// its data usable, and the stale mark or a port that is gone makes it
// unusable at once, on the UPS's driver socket. A block from the cache is
// shown but stays stale until a live cycle completes: a monitor must not take
// a stored block for the UPS now. Cycles that stop completing make the data
// stale on the server's timer (nut::StaleAfter of the device's times).
class NutOutput : public EventOutput {
public:
    struct Device {
        unsigned int data_id;
        nut::DeviceSettings settings;
        nut::Variables fixed;
    };

    NutOutput(std::unique_ptr<nut::Server> server, std::vector<Device> devices);
    // Safe from the device threads at once, and never waits: the server's
    // own thread writes the sockets.
    void Take(const events::Event& event) override;

    // Stops serving and removes the sockets; before the log finishes, so that
    // the server's thread tells nothing to a log that is gone.
    void Stop();

private:
    const Device* Find(unsigned int data_id, std::size_t& index) const;

    std::unique_ptr<nut::Server> server_;
    std::vector<Device> devices_;
};

// The devices' sockets, made and checked, not yet served.
struct OpenedNut {
    std::unique_ptr<nut::Server> server;
    std::vector<NutOutput::Device> devices;
    std::vector<std::string> sockets;  // by device
};

// The ups.conf sections of the configured devices, for upsd. Throws
// std::runtime_error naming a device whose name NUT cannot take.
std::string UpsConf(const BenchConfig& config);

// What NUT shows of a device of the configuration whatever its blocks say.
nut::Identity IdentityOf(const DeviceConfig& device);

// Makes every device's socket in `folder`, under `rules` made NUT's for
// `account` (a folder the NUT group may write to is accepted, one made gets
// that group), and checks that upsd's user can reach each. `identities` by
// device. Throws std::runtime_error when a name, the folder, a socket or the
// way to it is refused, with the fix.
OpenedNut OpenNut(const BenchConfig& config, const std::vector<nut::Identity>& identities,
                  const std::string& folder, const safe_file::FolderRules& rules,
                  const nut::Account& account, EventLog& log);

// Serves the opened sockets from now on: a direct output of `log`, which
// is also told when upsd connects and goes. Answers the output, to Stop.
std::shared_ptr<NutOutput> StartNut(OpenedNut opened, const BenchConfig& config, EventLog& log);

// --nut: serves the configured devices on their sockets in config.nut_dir
// (nothing, and a null output, when it is empty), OpenNut and StartNut.
std::shared_ptr<NutOutput> ServeNut(const BenchConfig& config, const safe_file::FolderRules& rules,
                                    const nut::Account& account, EventLog& log);
