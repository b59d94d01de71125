#pragma once

#include <string>
#include <vector>

// The variable names Network UPS Tools knows, so that a misspelt name in the
// settings ("input.frequncy") is refused with the name meant rather than
// served where no client looks. NUT lists its names in its developer guide and,
// for upsd's descriptions, in the file cmdvartab (/usr/share/nut/cmdvartab on
// Debian, with nut-server). That file lacks the three-phase names
// (input.L1-N.voltage, output.L2.power.percent, ...) and a few others this
// driver serves, so the names are a built-in list with the file's over it.
// Names outside NUT's list start with "experimental.", as NUT asks.
namespace nut {

class VariableNames {
public:
    // The built-in list and the VARDESC names of `cmdvartab`, the text of
    // NUT's file of variable descriptions ("" when there is none).
    explicit VariableNames(const std::string& cmdvartab = "");

    // The list with the installed cmdvartab ($NUT_DATAPATH/cmdvartab, else
    // /usr/share/nut/cmdvartab), read once, when it is there.
    static const VariableNames& Installed();

    bool Knows(const std::string& name) const;

    // Why `name` is no variable NUT knows, with the nearest known name when
    // one is near; "" when it is one.
    std::string Problem(const std::string& name) const;

private:
    std::vector<std::string> names_;  // sorted, each once
};

}  // namespace nut
