#pragma once

#include <cstdio>

#include "tools/smdhist/BlockTable.h"
#include "tools/smdhist/sinks/Sink.h"

// The blocks one per line, as they come: the table, CSV or JSON.
class TableSink : public Sink {
public:
    TableSink(std::FILE* out, BlockTable::Format format, bool name_files)
        : table_(out, format, name_files)
    {
    }

    void Take(const Entry& entry) override { table_.Add(entry); }

    int Flush() override
    {
        table_.Flush();
        return exit_status::kSuccess;
    }

private:
    BlockTable table_;
};
