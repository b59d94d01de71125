#include "tools/smdhost/NutOutput.h"

#include <cstdio>
#include <set>
#include <stdexcept>

namespace {

// The cycle failure of a line that is gone (missing, or failing its reads
// and writes): events::CycleFailed::reason.
constexpr const char* kPortGone = "port";

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

std::string SecondsText(std::chrono::milliseconds time)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%g", static_cast<double>(time.count()) / 1000.0);
    return text;
}

// The sockets upsd's user cannot reach are refused with the fix.
void CheckReach(const std::vector<std::string>& sockets, const nut::Account& account)
{
    for (const std::string& socket : sockets) {
        const std::string problem = nut::ReachProblem(socket, account);
        if (!problem.empty()) {
            throw std::runtime_error(problem);
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
    const auto* failed = std::get_if<events::CycleFailed>(&event.fact);
    const bool stale = std::holds_alternative<events::Stale>(event.fact) ||
                       (failed != nullptr && failed->reason == kPortGone);
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

void NutOutput::Stop() { server_->Stop(); }

std::string UpsConf(const BenchConfig& config)
{
    CheckNames(config);
    std::string text = "# ups.conf for upsd: smdhost serves each UPS on the socket smdhost-<name>\n"
                       "# in upsd's state folder (NUT_STATEPATH, or STATEPATH in upsd.conf)\n";
    for (const DeviceConfig& device : config.devices) {
        text += nut::UpsConfSection(
            device.name, {{"port", device.port},
                          {"desc", "data id " + std::to_string(device.data_id) + " on " + device.port},
                          {"data_id", std::to_string(device.data_id)},
                          {"pollinterval", SecondsText(device.poll_interval)},
                          {"answer_timeout", SecondsText(device.answer_timeout)}});
    }
    return text;
}

nut::Identity IdentityOf(const DeviceConfig& device)
{
    return {device.data_id, device.port, static_cast<double>(device.poll_interval.count()) / 1000.0};
}

OpenedNut OpenNut(const BenchConfig& config, const std::vector<nut::Identity>& identities,
                  const std::string& folder, const safe_file::FolderRules& rules,
                  const nut::Account& account, EventLog& log)
{
    CheckNames(config);
    std::vector<nut::Server::Ups> upses;
    OpenedNut opened;
    for (std::size_t i = 0; i < config.devices.size(); ++i) {
        const DeviceConfig& device = config.devices[i];
        const nut::Variables fixed = nut::FixedVariables(device.nut, identities[i]);
        upses.push_back(
            {device.name, fixed, nut::StaleAfter(device.poll_interval, device.answer_timeout)});
        opened.devices.push_back({device.data_id, device.nut, fixed});
    }
    const safe_file::FolderRules nut_rules = nut::FolderRulesFor(rules, account);
    opened.server = std::make_unique<nut::Server>(std::move(upses), nut::UserId(account.user));
    const nut::Server::Opened made = opened.server->Open(folder, nut_rules);
    if (!made.ok) {
        throw std::runtime_error(made.error);
    }
    for (const auto& [index, warning] : made.warnings) {
        log.Tell({config.devices[index].name, config.devices[index].data_id},
                 events::Message{events::Message::Level::Warning, warning});
    }
    CheckReach(made.sockets, account);
    opened.sockets = made.sockets;
    return opened;
}

std::shared_ptr<NutOutput> StartNut(OpenedNut opened, const BenchConfig& config, EventLog& log)
{
    std::vector<EventLog::Device> devices;
    for (const DeviceConfig& device : config.devices) {
        devices.push_back({device.name, device.data_id});
    }
    opened.server->WatchUpsd([&log, devices, sockets = opened.sockets](const nut::Server::Upsd& upsd) {
        log.Tell(devices[upsd.ups], events::Upsd{upsd.connected, upsd.process, sockets[upsd.ups]});
    });
    opened.server->Start();
    auto output = std::make_shared<NutOutput>(std::move(opened.server), std::move(opened.devices));
    log.AddDirectOutput(output);
    return output;
}

std::shared_ptr<NutOutput> ServeNut(const BenchConfig& config, const safe_file::FolderRules& rules,
                                    const nut::Account& account, EventLog& log)
{
    if (config.nut_dir.empty()) {
        return nullptr;
    }
    std::vector<nut::Identity> identities;
    for (const DeviceConfig& device : config.devices) {
        identities.push_back(IdentityOf(device));
    }
    return StartNut(OpenNut(config, identities, config.nut_dir, rules, account, log), config, log);
}
