#include "tools/smdhost/NutOutput.h"

#include <set>
#include <stdexcept>

namespace {

// Every device's name must be one NUT takes, once.
void CheckNames(const BenchConfig& config)
{
    std::set<std::string> names;
    for (std::size_t i = 0; i < config.devices.size(); ++i) {
        const std::string& name = config.devices[i].name;
        const std::string where = "device " + std::to_string(i + 1) + " (data id " +
                                  std::to_string(config.devices[i].data_id) + ")";
        const std::string problem = nut::UpsNameProblem(name);
        if (!problem.empty()) {
            throw std::runtime_error(where + ": the name \"" + name +
                                     "\" cannot be a NUT UPS name: " + problem);
        }
        if (!names.insert(name).second) {
            throw std::runtime_error(where + ": the name \"" + name +
                                     "\" is another device's; each NUT UPS needs its own");
        }
    }
}

}  // namespace

NutOutput::NutOutput(std::unique_ptr<nut::Server> server, std::vector<Device> devices)
    : server_(std::move(server)), devices_(std::move(devices))
{
}

const NutOutput::Device* NutOutput::Find(unsigned int data_id, std::size_t& index) const
{
    for (index = 0; index < devices_.size(); ++index) {
        if (devices_[index].data_id == data_id) {
            return &devices_[index];
        }
    }
    return nullptr;
}

void NutOutput::Take(const events::Event& event)
{
    const auto* block = std::get_if<events::Block>(&event.fact);
    const bool stale = std::holds_alternative<events::Stale>(event.fact);
    if ((block == nullptr && !stale) || !event.device) {
        return;
    }
    std::size_t index = 0;
    const Device* device = Find(event.device->data_id, index);
    if (device == nullptr) {
        return;
    }
    if (stale) {
        server_->MarkStale(index);
        return;
    }
    if (block->decoded) {
        server_->Publish(index, nut::BlockVariables(device->settings, device->fixed, *block->decoded),
                         block->source == events::Source::Poll);
    }
}

std::string UpsConf(const BenchConfig& config)
{
    CheckNames(config);
    std::string text = "# ups.conf for upsd: smdhost serves each UPS on the socket smdhost-<name>\n"
                       "# in upsd's state folder (NUT_STATEPATH, or STATEPATH in upsd.conf)\n";
    for (const DeviceConfig& device : config.devices) {
        text += nut::UpsConfSection(device.name, device.port);
    }
    return text;
}

void ServeNut(const BenchConfig& config, const safe_file::FolderRules& rules, EventLog& log)
{
    if (config.nut_dir.empty()) {
        return;
    }
    CheckNames(config);
    std::vector<nut::Server::Ups> upses;
    std::vector<NutOutput::Device> devices;
    for (const DeviceConfig& device : config.devices) {
        const nut::Identity identity{device.data_id, device.port,
                                     device.poll_interval.count() / 1000.0};
        const nut::Variables fixed = nut::FixedVariables(device.nut, identity);
        upses.push_back({device.name, fixed});
        devices.push_back({device.data_id, device.nut, fixed});
    }
    auto server = std::make_unique<nut::Server>(std::move(upses));
    const nut::Server::Opened opened = server->Open(config.nut_dir, rules);
    if (!opened.ok) {
        throw std::runtime_error(opened.error);
    }
    for (const auto& [index, warning] : opened.warnings) {
        log.Tell({config.devices[index].name, config.devices[index].data_id},
                 events::Message{events::Message::Level::Warning, warning});
    }
    server->Start();
    log.AddDirectOutput(std::make_shared<NutOutput>(std::move(server), std::move(devices)));
}
