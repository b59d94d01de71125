#pragma once

#include <map>
#include <string>

// What one UPS shows Network UPS Tools' upsd: its variables and whether its
// data may be used, and the driver socket's lines that tell a change of them.
namespace nut {

// Variable name to value, in name order.
using Variables = std::map<std::string, std::string>;

class UpsState {
public:
    // The variables the UPS has from the start; its data is stale until a
    // live cycle completes.
    explicit UpsState(Variables fixed) : variables_(std::move(fixed)) {}

    // Makes the variables `next`: answers the SETINFO lines of those that are
    // new or changed and the DELINFO lines of those that are gone ("" when
    // nothing changed).
    std::string Change(const Variables& next);

    // The data may be used again: answers "DATAOK".
    std::string Ok();
    // The data may not be used: answers "DATASTALE", or "" when it was stale.
    std::string Stale();

    // Everything, as the answer to DUMPALL: DATASTALE first when stale, each
    // variable, DATAOK when not stale, then DUMPDONE.
    std::string Dump() const;

    const Variables& Values() const { return variables_; }
    bool IsStale() const { return stale_; }

private:
    Variables variables_;
    bool stale_ = true;
};

// "SETINFO name \"value\"\n".
std::string SetInfo(const std::string& name, const std::string& value);

}  // namespace nut
