#pragma once

#include <cstdio>
#include <string>

#include "tools/smdhist/BlockStream.h"
#include "tools/smdhist/OutBuffer.h"

// The blocks one per line: an aligned table for reading, CSV for
// spreadsheets, or one JSON object per line for scripts. A damaged block is
// shown with its damage, never left out.
class BlockTable {
public:
    enum class Format { Text, Csv, Json };

    // With `name_files`, the text table heads each file's blocks with its name.
    BlockTable(std::FILE* out, Format format, bool name_files);

    void Add(const Entry& entry);
    // Hands what was written to the stream (a follower shows each block as it comes).
    void Flush() { out_.Flush(); }

private:
    void Header();
    void TextRow(const Entry& entry);
    void CsvRow(const Entry& entry);
    void JsonRow(const Entry& entry);

    OutBuffer out_;
    Format format_;
    bool name_files_;
    bool started_ = false;
    const std::string* file_ = nullptr;
};
