#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

#include "tools/smdhist/Summary.h"
#include "tools/smdhist/sinks/Sink.h"

// The summary of the chosen blocks, as text or JSON, written once they are all read.
class SummarySink : public Sink {
public:
    SummarySink(std::FILE* out, bool json, std::optional<std::int64_t> gap_threshold);

    void Take(const Entry& entry) override;
    void Skipped(std::uint64_t bytes) override { summary_.Skipped(bytes); }
    // Nothing when no block was chosen: the reading says why.
    int Finish() override;

private:
    std::FILE* out_;
    bool json_;
    Summary summary_;
    bool took_ = false;
};
