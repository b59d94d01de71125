#include "tools/smdhost/driver/SettingsFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tools/common/JsonKeys.h"
#include "tools/smdhost/BenchConfig.h"

namespace driver_mode {

namespace {

constexpr const char* kNut = "nut";

}  // namespace

SettingsFile ParseSettingsFile(const Json::Value& root, const std::string& where)
{
    if (!root.isObject()) {
        json_keys::Fail(root, where, "the settings are an object, not " + json_keys::KindOf(root));
    }
    SettingsFile settings;
    settings.module = root;
    settings.module.removeMember(kNut);
    CheckDeviceSettings(settings.module, where);
    if (const Json::Value* nut = root.find(kNut, kNut + std::strlen(kNut))) {
        settings.nut = nut::ReadSettings(*nut, where);
    }
    return settings;
}

SettingsFile ReadSettingsFile(const std::string& path, const std::string& where)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read the settings " + path + ": " + std::strerror(errno));
    }
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    return json_keys::ParseWith(path, text,
                                [&where](const Json::Value& root) { return ParseSettingsFile(root, where); });
}

}  // namespace driver_mode
