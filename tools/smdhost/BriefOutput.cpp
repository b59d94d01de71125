#include "tools/smdhost/BriefOutput.h"

#include "tools/common/DataBlock.h"
#include "tools/common/Plural.h"
#include "tools/smdhost/OutputLine.h"
#include "tools/smdhost/TextOutput.h"
#include "ups/UpsProtocol.h"

namespace {

std::string BlockLine(const Json::Value& e)
{
    const Json::Value& block = e["block"];
    const std::string line = e["source"] == "cache"
                                 ? "cache (stored at " + e["stored_at"].asString() + ")"
                                 : "#" + e["cycle"].asString();
    return line + " " +
           (block.isMember("flags") ? BriefOutput::Fields(block) : block["bytes"].asString());
}

}  // namespace

std::string BriefOutput::Fields(const Json::Value& block)
{
    std::string line;
    for (const auto& field : ups_protocol::kStatusFields) {
        line += std::string(field.tag) + block["flags"][field.tag].asString() + " ";
    }
    for (const auto& field : ups_protocol::kDataFields) {
        line += std::string(field.tag) + "=" +
                data_block::ValueText(block["values"][field.tag].asFloat()) +
                (&field == &ups_protocol::kDataFields[data_block::kValues - 1] ? "" : " ");
    }
    return line;
}

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
