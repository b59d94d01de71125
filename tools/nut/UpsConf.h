#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Network UPS Tools' ups.conf as its drivers read it: global lines first,
// then one section per UPS, `[name]`, of `key = value` lines and flags (a key
// alone). Words are parted by blanks; "double quotes" keep blanks inside one
// word; a backslash takes the next character as it is, and at the end of a
// line joins the next line to it; an unquoted # starts a comment; = is a word
// of its own, so `key=value` reads as `key = value`.
namespace nut {

// One parameter: `key = value`, or a flag without a value.
struct Parameter {
    std::string key;
    std::optional<std::string> value;  // nothing for a flag
    std::string where;                 // "ups.conf:12", or "-x key=value"
    std::string problem;               // why the line is no parameter; "" when it is one
};

struct UpsSection {
    std::string name;
    std::string where;  // the line of [name]
    std::vector<Parameter> parameters;
};

struct UpsConfFile {
    std::string path;
    std::vector<Parameter> globals;  // before the first section
    std::vector<UpsSection> sections;
};

// Reads the words of `text`, the contents of the file `path`. A line that is
// no parameter is kept with its problem: it matters only in the section that
// reads it. Throws std::runtime_error "path:line: reason" for what makes the
// file unreadable as a whole: a quote left open, a control character, a
// section name that is no single word in brackets.
UpsConfFile ParseUpsConf(const std::string& path, const std::string& text);

// The file NUT's programs read: $NUT_CONFPATH/ups.conf, else ups.conf in
// NUT's configuration folder (/etc/nut on Debian).
std::string UpsConfPath();

// Reads and parses the file (at most 1 MiB). Throws std::runtime_error
// naming the file when it cannot be read.
UpsConfFile ReadUpsConf(const std::string& path);

// The section `name`; throws std::runtime_error naming the file, and the
// nearest section name when one is near.
const UpsSection& FindSection(const UpsConfFile& file, const std::string& name);

// `-x KEY=VALUE` (or `-x FLAG`) of the command line as a parameter.
Parameter CommandLineParameter(const std::string& argument);

// NUT's configuration folder when NUT_CONFPATH is not set.
constexpr const char* kNutConfigFolder = "/etc/nut";

}  // namespace nut
