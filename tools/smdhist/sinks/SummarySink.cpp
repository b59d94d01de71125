#include "tools/smdhist/sinks/SummarySink.h"

#include <json/writer.h>

SummarySink::SummarySink(std::FILE* out, bool json, std::optional<std::int64_t> gap_threshold)
    : out_(out), json_(json), summary_(gap_threshold)
{
}

void SummarySink::Take(const Entry& entry)
{
    took_ = true;
    summary_.Add(entry);
}

int SummarySink::Finish()
{
    summary_.Finish();
    if (!took_) {
        return exit_status::kSuccess;
    }
    if (!json_) {
        std::fputs(summary_.Text().c_str(), out_);
        return exit_status::kSuccess;
    }
    Json::StreamWriterBuilder writer;
    writer["emitUTF8"] = true;
    writer["precision"] = 15;
    std::fprintf(out_, "%s\n", Json::writeString(writer, summary_.ToJson()).c_str());
    return exit_status::kSuccess;
}
