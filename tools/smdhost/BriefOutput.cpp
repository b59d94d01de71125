#include "tools/smdhost/BriefOutput.h"

#include "tools/common/Plural.h"
#include "tools/smdhost/OutputLine.h"
#include "tools/smdhost/TextOutput.h"
#include "ups/UpsProtocol.h"

namespace {

using namespace events;

std::string BlockLine(const Block& e)
{
    const std::string line = e.source == Source::Cache ? "cache (stored at " + e.stored_at + ")"
                                                       : "#" + std::to_string(e.cycle);
    return line + " " + (e.decoded ? BriefOutput::Fields(*e.decoded) : e.Hex());
}

// The line of an event, where it differs from the text output's.
std::string Brief(const Event& event)
{
    return std::visit(
        Overloaded{
            [](const Block& e) { return BlockLine(e); },
            [](const Stale& e) {
                return "data stale: " + Counted(e.failed_in_a_row, "cycle") + " failed in a row";
            },
            [](const CycleFailed& e) {
                return "#" + std::to_string(e.cycle) + " failed (" + e.reason + "): " + e.detail;
            },
            [](const Repeated&) { return std::string(); },
            [&event](const Failing& e) {
                // Every failed cycle has its line here.
                return e.now == Failing::Now::Ongoing ? std::string() : TextOutput::Text(event);
            },
            [&event](const auto&) { return TextOutput::Text(event); },
        },
        event.fact);
}

}  // namespace

std::string BriefOutput::Fields(const data_block::Decoded& block)
{
    std::string line;
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        line += std::string(ups_protocol::kStatusFields[i].tag) + std::to_string(block.flags[i]) +
                " ";
    }
    for (std::size_t i = 0; i < data_block::kValues; ++i) {
        line += std::string(data_block::ValueFields()[i]->tag) + "=" +
                data_block::ValueText(block.values[i]) + (i + 1 == data_block::kValues ? "" : " ");
    }
    return line;
}

void BriefOutput::Take(const events::Event& event)
{
    const std::string text = Brief(event);
    if (!text.empty()) {
        WriteOutputLine(fd_, TextOutput::Line(event, text));
    }
}
