#include "tools/smdhost/HostManual.h"

#include <string>

#include "tools/smdhost/BenchConfig.h"

namespace {

using command_line::Section;

// "a number of seconds, from 0 to 86400; default 2. From the start of ..."
std::string Meaning(const json_keys::Key& key)
{
    const std::string fallback = key.required         ? "required"
                                 : key.fallback.empty() ? "no default"
                                                        : "default " + key.fallback;
    return key.kind + (key.range.empty() ? "" : ", " + key.range) + "; " + fallback + ". " +
           key.help;
}

Section Configuration()
{
    return {"CONFIGURATION",
            "--config FILE names a JSON file of the devices to run: strict JSON (no comments, "
            "no trailing commas, no key given twice). Relative paths in it (module, state_dir, "
            "nut_dir, port) are taken from the file's folder. A key not listed here is refused "
            "with its line and the nearest known key, and a value of another kind or out of "
            "range with what is taken. An example to start from: " +
                std::string(command_line::kDocuments) + "/examples/smdhost.json.",
            {},
            "",
            false};
}

// The keys of one object of the configuration.
Section Keys(const json_keys::KeyTable& table)
{
    Section section{"Keys of " + table.object, "", {}, "", true};
    for (const json_keys::Key& key : table.keys) {
        section.entries.emplace_back(key.name, Meaning(key));
    }
    return section;
}

Section Files()
{
    return {"FILES",
            "STATE is --state-dir, else state_dir of the configuration; ID is a device's "
            "data_id. The state files are opened without following a link and must be regular "
            "files of the user's own.",
            {
                {"STATE/ID.history",
                 "The blocks the device stored, one of 76 bytes for each completed cycle, "
                 "appended; smdhist reads it."},
                {"STATE/ID.history.1", "The history before its last rotation (history_max_bytes)."},
                {"STATE/ID.cache",
                 "The last block published, handed to the module at start (not with "
                 "--no-cache)."},
                {"STATE/ID.cache.rejected-TIME",
                 "A cache that failed the host's check at start, kept aside, never deleted."},
                {"STATE/ID.history.rejected-TIME",
                 "A history whose last block was another data_id's, kept aside at start."},
                {"STATE/.ID.cache.tmp-*",
                 "A cache being written; one left by a crash is never used again."},
                {"/etc/smdhost/smdhost.json",
                 "The configuration the systemd unit (smdhost.service) and the init script "
                 "run; make it from the example."},
                {"/var/lib/smdhost", "The systemd unit's state folder."},
                {std::string(command_line::kDocuments) + "/examples/smdhost.json",
                 "An example configuration: a device on /dev/ttyUSB0 with the installed module."},
            },
            "",
            false};
}

Section Examples()
{
    return {"EXAMPLES",
            "",
            {},
            "Try a port, then poll the UPS on it with default settings (data_id 1):\n"
            "  smdhost --probe /dev/ttyUSB0 --module /usr/lib/smd/modules/quillmarups.so\n"
            "  smdhost --port /dev/ttyUSB0 --module /usr/lib/smd/modules/quillmarups.so\n"
            "A configuration's devices, a line a cycle, the bytes on the lines to a file:\n"
            "  smdhost --config site.json --brief --trace=lines.txt\n"
            "Ten cycles of each device as JSON events, for a script:\n"
            "  smdhost --config site.json --json --cycles 10\n"
            "The devices run by systemd, from the example configuration:\n"
            "  mkdir -p /etc/smdhost\n"
            "  cp " +
                std::string(command_line::kDocuments) +
                "/examples/smdhost.json /etc/smdhost/\n"
                "  editor /etc/smdhost/smdhost.json    # each device's port, data_id, name\n"
                "  systemctl enable --now smdhost\n",
            false};
}

}  // namespace

std::vector<Section> HostManualSections()
{
    std::vector<Section> sections{Configuration()};
    for (const json_keys::KeyTable& table : ConfigurationKeys()) {
        sections.push_back(Keys(table));
    }
    sections.push_back(Files());
    sections.push_back(Examples());
    return sections;
}
