#include "tools/smdhost/driver/DriverSetup.h"

#include <cstdlib>
#include <stdexcept>

#include "tools/smdhost/InstalledModule.h"
#include "tools/smdhost/driver/Privileges.h"
#include "tools/smdhost/driver/SettingsFile.h"

namespace driver_mode {

namespace {

// Debian's: what upsd and the drivers become, and the group of /run/nut.
constexpr const char* kNutUser = "nut";
constexpr const char* kNutGroup = "nut";
constexpr const char* kNutStateFolder = "/run/nut";
constexpr const char* kStateFolders = "/var/lib/smdhost";

std::string Environment(const char* name, const std::string& otherwise)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : otherwise;
}

std::string Module(const HostOptions& options, const nut::DriverConfig& driver)
{
    if (!options.module.empty()) {
        return options.module;
    }
    if (!driver.module.empty()) {
        return driver.module;
    }
    const std::string installed = installed_module::Find();
    if (!installed.empty()) {
        return installed;
    }
    std::string looked;
    for (const std::string& candidate : installed_module::Candidates()) {
        looked += (looked.empty() ? "" : ", ") + candidate;
    }
    throw std::runtime_error("[" + driver.ups + "]: no module: give module = PATH in ups.conf, "
                             "or install the module (looked for " + looked + ")");
}

DeviceConfig Device(const nut::DriverConfig& driver)
{
    DeviceConfig device;
    device.name = driver.ups;
    device.data_id = driver.data_id;
    device.port = driver.port;
    device.poll_interval = driver.poll_interval;
    device.answer_timeout = driver.answer_timeout;
    device.history_max_bytes = driver.history_max_bytes.value_or(device.history_max_bytes);
    device.cache_interval = driver.cache_interval.value_or(device.cache_interval);
    nut::DeviceSettings nut = nut::DefaultSettings();
    if (!driver.settings.empty()) {
        SettingsFile file = ReadSettingsFile(driver.settings, "[" + driver.ups + "]");
        device.settings = std::move(file.module);
        nut = std::move(file.nut);
    }
    device.nut = nut::WithDriverConfig(nut, driver);
    return device;
}

// -u over ups.conf's user; nut, as Debian's drivers, for root.
std::string UserToBe(const HostOptions& options, const nut::DriverConfig& driver)
{
    const std::string given = !options.user.empty() ? options.user : driver.user;
    if (!IsRoot()) {
        return "";
    }
    return given.empty() ? kNutUser : given;
}

}  // namespace

std::string NutStateFolder() { return Environment("NUT_STATEPATH", kNutStateFolder); }

std::string PidFolder() { return Environment("NUT_ALTPIDPATH", NutStateFolder()); }

std::string DefaultStateFolder(const std::string& ups) { return std::string(kStateFolders) + "/" + ups; }

Setup ReadSetup(const HostOptions& options)
{
    Setup setup;
    setup.driver = nut::ReadDriverConfig(nut::ReadUpsConf(nut::UpsConfPath()), options.ups,
                                         options.extra);
    const nut::DriverConfig& driver = setup.driver;
    setup.config.module = Module(options, driver);
    setup.config.state_dir = !options.state_dir.empty() ? options.state_dir
                             : !driver.state_dir.empty() ? driver.state_dir
                                                         : DefaultStateFolder(driver.ups);
    setup.nut_folder = NutStateFolder();
    setup.config.nut_dir = setup.nut_folder;
    setup.config.devices.push_back(Device(driver));
    setup.identity = nut::IdentityOf(driver);
    setup.user = UserToBe(options, driver);
    const std::string given = !options.user.empty() ? options.user : driver.user;
    setup.account.user = given.empty() ? kNutUser : given;
    setup.account.group = driver.group.empty() ? kNutGroup : driver.group;
    setup.pid_folder = PidFolder();
    return setup;
}

}  // namespace driver_mode
