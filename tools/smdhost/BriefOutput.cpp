#include "tools/smdhost/BriefOutput.h"

#include "tools/common/DataBlock.h"
#include "tools/common/Plural.h"
#include "tools/smdhost/OutputLine.h"
#include "tools/smdhost/TextOutput.h"
#include "ups/UpsProtocol.h"

namespace {

// "#3 SOK0 SBP0 SUF1 SBL0 SBM1 DVIA=0 ... DVBL=20", the values in the order of
// the data answer.
std::string BlockLine(const Json::Value& e)
{
    const Json::Value& block = e["block"];
    std::string line = e["source"] == "cache"
                           ? "cache (stored at " + e["stored_at"].asString() + ")"
                           : "#" + e["cycle"].asString();
    if (!block.isMember("flags")) {
        return line + " " + block["bytes"].asString();
    }
    for (const auto& field : ups_protocol::kStatusFields) {
        line += std::string(" ") + field.tag + block["flags"][field.tag].asString();
    }
    for (const auto& field : ups_protocol::kDataFields) {
        line += std::string(" ") + field.tag + "=" +
                data_block::ValueText(block["values"][field.tag].asFloat());
    }
    return line;
}

}  // namespace

void BriefOutput::Take(const Event& event)
{
    const std::string kind = event.json["event"].asString();
    if (kind == "still_failing") {
        return;  // every failed cycle has its line here
    }
    std::string text;
    if (kind == "block") {
        text = BlockLine(event.json);
    } else if (kind == "stale") {
        text = "data stale: " + Counted(event.json["failed_cycles"].asUInt(), "cycle") +
               " failed in a row";
    } else if (kind == "cycle_failed") {
        text = "#" + event.json["cycle"].asString() + " failed (" +
               event.json["reason"].asString() + "): " + event.json["detail"].asString();
    } else {
        text = TextOutput::Text(event);
    }
    if (!text.empty()) {
        WriteOutputLine(fd_, TextOutput::Line(event.json, text));
    }
}
