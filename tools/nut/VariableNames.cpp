#include "tools/nut/VariableNames.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tools/common/JsonKeys.h"
#include "tools/nut/Words.h"

namespace nut {

namespace {

// The largest cmdvartab read; NUT's own is about 15 kB.
constexpr std::size_t kLargestTable = 1024 * 1024;
constexpr const char* kDataFolder = "/usr/share/nut";
constexpr const char* kExperimental = "experimental.";

// A group of NUT's names: the prefix before each of the blank-separated ends.
struct Group {
    const char* prefix;
    const char* ends;
};

// NUT's standard names of one unit, from its list of names.
const Group kSingleNames[] = {
    {"device.", "model mfr serial type description contact location part macaddr uptime"},
    {"ups.", "status alarm time date model mfr mfr.date serial vendorid productid firmware "
             "firmware.aux temperature load load.high load.energysave id delay.start delay.reboot "
             "delay.shutdown timer.start timer.reboot timer.shutdown test.interval test.result "
             "test.date display.language contacts efficiency power power.nominal realpower "
             "realpower.nominal beeper.status type watchdog.status start.auto start.battery "
             "start.reboot shutdown"},
    {"input.", "voltage.extended transfer.delay transfer.reason transfer.low transfer.high "
               "transfer.low.min transfer.low.max transfer.high.min transfer.high.max sensitivity "
               "quality frequency.status frequency.low frequency.high frequency.extended "
               "transfer.boost.low transfer.boost.high transfer.trim.low transfer.trim.high "
               "source source.preferred"},
    {"battery.", "charge charge.approx charge.low charge.restart charge.warning voltage "
                 "voltage.nominal voltage.low voltage.high capacity current current.total "
                 "temperature runtime runtime.low runtime.restart alarm.threshold date mfr.date "
                 "packs packs.bad type protection energysave energysave.load energysave.delay "
                 "energysave.realpower charger.status"},
    {"ambient.", "present temperature temperature.alarm temperature.status temperature.high "
                 "temperature.high.warning temperature.high.critical temperature.low "
                 "temperature.low.warning temperature.low.critical temperature.maximum "
                 "temperature.minimum humidity humidity.alarm humidity.status humidity.high "
                 "humidity.high.warning humidity.high.critical humidity.low humidity.low.warning "
                 "humidity.low.critical humidity.maximum humidity.minimum"},
    {"driver.", "name version version.internal version.data"},
    {"server.", "info version"},
};

// The domains of power NUT names, and what it measures there: each
// measurement stands after the domain alone, and the phase measurements after
// the domain and a phase (input.L1-N.voltage, output.L2.power.percent).
const char* const kDomains = "input input.bypass input.servicebypass output output.bypass "
                             "output.inverter output.servicebypass";
const char* const kWholeMeasures = "phases frequency frequency.nominal";
const char* const kVoltagePhases = "L1-L2 L2-L3 L3-L1 L1-N L2-N L3-N";
const char* const kVoltageMeasures =
    "voltage voltage.nominal voltage.maximum voltage.minimum voltage.status voltage.low.warning "
    "voltage.low.critical voltage.high.warning voltage.high.critical";
const char* const kCurrentPhases = "L1 L2 L3 N";
const char* const kCurrentMeasures =
    "current current.nominal current.maximum current.minimum current.status "
    "current.low.warning current.low.critical current.high.warning current.high.critical "
    "current.peak";
const char* const kPowerPhases = "L1 L2 L3";
const char* const kPowerMeasures =
    "alarm power power.nominal power.maximum power.minimum power.percent power.maximum.percent "
    "power.minimum.percent realpower realpower.nominal powerfactor crestfactor load";

std::vector<std::string> Split(const char* text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

void AddEach(std::vector<std::string>& names, const std::string& prefix, const char* ends)
{
    for (const std::string& end : Split(ends)) {
        names.push_back(prefix + end);
    }
}

// Each domain's measurements, whole and by phase.
void AddPowerNames(std::vector<std::string>& names)
{
    for (const std::string& domain : Split(kDomains)) {
        for (const char* measures : {kWholeMeasures, kVoltageMeasures, kCurrentMeasures, kPowerMeasures}) {
            AddEach(names, domain + ".", measures);
        }
        for (const std::string& phase : Split(kVoltagePhases)) {
            AddEach(names, domain + "." + phase + ".", kVoltageMeasures);
        }
        for (const std::string& phase : Split(kCurrentPhases)) {
            AddEach(names, domain + "." + phase + ".", kCurrentMeasures);
        }
        for (const std::string& phase : Split(kPowerPhases)) {
            AddEach(names, domain + "." + phase + ".", kPowerMeasures);
        }
    }
}

// The names of the VARDESC lines of a cmdvartab.
void AddTableNames(std::vector<std::string>& names, const std::string& cmdvartab)
{
    std::istringstream in(cmdvartab);
    for (std::string line; std::getline(in, line);) {
        const auto words = SplitWords(line);
        if (words && words->size() >= 2 && words->front() == "VARDESC") {
            names.push_back((*words)[1]);
        }
    }
}

// The installed cmdvartab, "" when there is none (or it is no regular file,
// which could hold the reading up).
std::string InstalledTable()
{
    const char* folder = std::getenv("NUT_DATAPATH");
    const std::string path =
        std::string(folder != nullptr && *folder != '\0' ? folder : kDataFolder) + "/cmdvartab";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return "";
    }
    std::ifstream file(path);
    std::string text;
    text.resize(kLargestTable);
    file.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    return text;
}

}  // namespace

VariableNames::VariableNames(const std::string& cmdvartab)
{
    for (const Group& group : kSingleNames) {
        AddEach(names_, group.prefix, group.ends);
    }
    AddPowerNames(names_);
    AddTableNames(names_, cmdvartab);
    std::sort(names_.begin(), names_.end());
    names_.erase(std::unique(names_.begin(), names_.end()), names_.end());
}

const VariableNames& VariableNames::Installed()
{
    static const VariableNames installed(InstalledTable());
    return installed;
}

bool VariableNames::Knows(const std::string& name) const
{
    return (name.size() > std::char_traits<char>::length(kExperimental) &&
            name.compare(0, std::char_traits<char>::length(kExperimental), kExperimental) == 0) ||
           std::binary_search(names_.begin(), names_.end(), name);
}

std::string VariableNames::Problem(const std::string& name) const
{
    if (Knows(name)) {
        return "";
    }
    const std::string nearest = json_keys::Nearest(name, names_);
    return "\"" + name + "\" is no variable NUT knows; " +
           (nearest.empty() ? std::string("a name outside NUT's list starts with experimental.")
                            : "did you mean \"" + nearest + "\"?");
}

}  // namespace nut
