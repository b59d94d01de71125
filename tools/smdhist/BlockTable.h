#pragma once

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include <json/writer.h>

#include "tools/smdhist/HistoryReader.h"

// The blocks one per line: an aligned table for reading, CSV for
// spreadsheets, or one JSON object per line for scripts. A damaged block is
// shown with its damage, never left out.
class BlockTable {
public:
    enum class Format { Text, Csv, Json };

    // With `name_files`, the text table heads each file's blocks with its name.
    BlockTable(std::FILE* out, Format format, bool name_files);

    void Add(const Entry& entry);

    // The JSON object of a block: the bench host's block names, the values as
    // their shortest exact decimals, and "damage" when there is any.
    static Json::Value ToJson(const Entry& entry);

private:
    void Header();
    void TextRow(const Entry& entry);
    void CsvRow(const Entry& entry);
    void JsonRow(const Entry& entry);

    std::FILE* out_;
    Format format_;
    bool name_files_;
    bool started_ = false;
    const std::string* file_ = nullptr;
    std::unique_ptr<Json::StreamWriter> json_;
    std::ostringstream line_;
};
