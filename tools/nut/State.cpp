#include "tools/nut/State.h"

#include "tools/nut/Words.h"

namespace nut {

std::string SetInfo(const std::string& name, const std::string& value)
{
    return "SETINFO " + name + " " + Quoted(value) + "\n";
}

std::string UpsState::Change(const Variables& next)
{
    std::string lines;
    for (const auto& [name, value] : next) {
        const auto known = variables_.find(name);
        if (known == variables_.end() || known->second != value) {
            lines += SetInfo(name, value);
        }
    }
    for (const auto& [name, value] : variables_) {
        if (next.count(name) == 0) {
            lines += "DELINFO " + name + "\n";
        }
    }
    variables_ = next;
    return lines;
}

std::string UpsState::Ok()
{
    stale_ = false;
    return "DATAOK\n";
}

std::string UpsState::Stale()
{
    if (stale_) {
        return "";
    }
    stale_ = true;
    return "DATASTALE\n";
}

std::string UpsState::Dump() const
{
    std::string lines = stale_ ? "DATASTALE\n" : "";
    for (const auto& [name, value] : variables_) {
        lines += SetInfo(name, value);
    }
    return lines + (stale_ ? "" : "DATAOK\n") + "DUMPDONE\n";
}

}  // namespace nut
