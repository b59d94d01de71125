#include "tools/smdhist/BlockTable.h"

#include <charconv>
#include <cstdlib>

namespace {

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

}  // namespace

BlockTable::BlockTable(std::FILE* out, Format format, bool name_files)
    : out_(out), format_(format), name_files_(name_files)
{
    Json::StreamWriterBuilder json;
    json["indentation"] = "";
    json["emitUTF8"] = true;
    // Enough for any float's shortest decimal, and no digits beyond it.
    json["precision"] = 15;
    json_.reset(json.newStreamWriter());
}

void BlockTable::Header()
{
    if (format_ == Format::Json) {
        return;
    }
    const bool csv = format_ == Format::Csv;
    std::fprintf(out_, csv ? "time_stamp,data_id" : "%6s  %-25s %8s ", "#", "time stamp",
                 "data id");
    for (const auto& field : ups_protocol::kStatusFields) {
        std::fprintf(out_, csv ? ",%s" : " %3s", field.tag);
    }
    std::fputs(csv ? "" : " ", out_);
    for (const auto* field : data_block::ValueFields()) {
        std::fprintf(out_, csv ? ",%s" : " %7s", field->tag);
    }
    std::fputs(csv ? ",damage\n" : "  damage\n", out_);
}

void BlockTable::Add(const Entry& entry)
{
    if (!started_) {
        Header();
        started_ = true;
    }
    switch (format_) {
    case Format::Text: TextRow(entry); break;
    case Format::Csv: CsvRow(entry); break;
    case Format::Json: JsonRow(entry); break;
    }
}

void BlockTable::TextRow(const Entry& entry)
{
    if (name_files_ && entry.file != file_) {
        std::fprintf(out_, "== %s\n", entry.file->c_str());
        file_ = entry.file;
    }
    const data_block::Decoded& block = entry.block;
    std::fprintf(out_, "%6llu  %-25s %8u ", static_cast<unsigned long long>(entry.number),
                 data_block::IsoTime(block.time_stamp).c_str(), block.data_id);
    for (const std::uint8_t flag : block.flags) {
        std::fprintf(out_, " %3u", flag);
    }
    std::fputc(' ', out_);
    char cell[32];
    for (const float value : block.values) {
        // As %g would, without printf's cost on a history of millions of rows.
        const auto end =
            std::to_chars(cell, cell + sizeof(cell), value, std::chars_format::general, 6).ptr;
        std::fprintf(out_, " %7.*s", static_cast<int>(end - cell), cell);
    }
    std::fprintf(out_, "%s%s\n", entry.Sound() ? "" : "  ! ", entry.damage.c_str());
}

void BlockTable::CsvRow(const Entry& entry)
{
    const data_block::Decoded& block = entry.block;
    std::string row = data_block::IsoTime(block.time_stamp) + "," + std::to_string(block.data_id);
    for (const std::uint8_t flag : block.flags) {
        row += "," + std::to_string(flag);
    }
    for (const float value : block.values) {
        row += "," + data_block::ValueText(value);
    }
    row += "," + CsvField(entry.damage) + "\n";
    std::fputs(row.c_str(), out_);
}

void BlockTable::JsonRow(const Entry& entry)
{
    line_.str("");
    json_->write(ToJson(entry), &line_);
    line_ << '\n';
    std::fputs(line_.str().c_str(), out_);
}

Json::Value BlockTable::ToJson(const Entry& entry)
{
    Json::Value json = data_block::ToJson(entry.block);
    for (std::size_t i = 0; i < data_block::kValues; ++i) {
        const std::string text = data_block::ValueText(entry.block.values[i]);
        json["values"][data_block::ValueFields()[i]->tag] = std::strtod(text.c_str(), nullptr);
    }
    if (!entry.Sound()) {
        json["damage"] = entry.damage;
    }
    return json;
}
