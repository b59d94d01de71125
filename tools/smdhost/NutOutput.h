#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/nut/Mapping.h"
#include "tools/nut/Server.h"
#include "tools/smdhost/BenchConfig.h"
#include "tools/smdhost/EventLog.h"
#include "tools/smdhost/EventOutput.h"

// The devices as Network UPS Tools sees them: each block a device publishes
// becomes its UPS's variables and status words, a completed poll cycle makes
// its data usable and the stale mark makes it unusable, on the UPS's driver
// socket. A block from the cache is shown but stays stale until a live cycle
// completes: a monitor must not take a stored block for the UPS now.
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

private:
    const Device* Find(unsigned int data_id, std::size_t& index) const;

    std::unique_ptr<nut::Server> server_;
    std::vector<Device> devices_;
};

// The ups.conf sections of the configured devices, for upsd. Throws
// std::runtime_error naming a device whose name NUT cannot take.
std::string UpsConf(const BenchConfig& config);

// Serves the configured devices on their sockets in config.nut_dir (nothing
// when it is empty), the folder under `rules`, and adds the output to `log`
// as a direct one.
// Throws std::runtime_error when a name, the folder or a socket is refused.
void ServeNut(const BenchConfig& config, const safe_file::FolderRules& rules, EventLog& log);
