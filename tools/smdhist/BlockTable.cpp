#include "tools/smdhist/BlockTable.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numeric>

namespace {

void CsvField(OutBuffer& out, const std::string& text)
{
    if (text.find_first_of(",\"\n") == std::string::npos) {
        out << text;
        return;
    }
    out << '"';
    for (const char c : text) {
        out << (c == '"' ? std::string_view("\"\"") : std::string_view(&c, 1));
    }
    out << '"';
}

// Positions of `tags` in the order of their names: a JSON object's members
// are written sorted, as the bench host's JSON has them.
template <std::size_t N, typename Tag>
std::array<std::size_t, N> ByName(Tag tag)
{
    std::array<std::size_t, N> order{};
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return std::strcmp(tag(a), tag(b)) < 0; });
    return order;
}

const std::array<std::size_t, data_block::kFlags>& FlagsByName()
{
    static const auto order = ByName<data_block::kFlags>(
        [](std::size_t i) { return ups_protocol::kStatusFields[i].tag; });
    return order;
}

const std::array<std::size_t, data_block::kValues>& ValuesByName()
{
    static const auto order = ByName<data_block::kValues>(
        [](std::size_t i) { return data_block::ValueFields()[i]->tag; });
    return order;
}

// A value as a JSON number: its shortest exact decimal, with ".0" when it is
// whole; null for what is no number, and for an infinity, which JSON has no
// number for, the string "inf" or "-inf" (as the table and CSV show it).
void JsonNumber(OutBuffer& out, float value)
{
    if (std::isnan(value)) {
        out << "null";
        return;
    }
    if (std::isinf(value)) {
        out << (value < 0 ? "\"-inf\"" : "\"inf\"");
        return;
    }
    char text[32];
    char* const end = data_block::ValueChars(value, text);
    out << std::string_view(text, static_cast<std::size_t>(end - text));
    if (std::find_if(text, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
        out << ".0";
    }
}

void JsonString(OutBuffer& out, const std::string& text)
{
    out << '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out << '\\' << c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out << escaped;
        } else {
            out << c;
        }
    }
    out << '"';
}

}  // namespace

BlockTable::BlockTable(std::FILE* out, Format format, bool name_files)
    : out_(out), format_(format), name_files_(name_files)
{
}

void BlockTable::Header()
{
    if (format_ == Format::Json) {
        return;
    }
    if (format_ == Format::Csv) {
        out_ << "time_stamp,data_id";
        for (const auto& field : ups_protocol::kStatusFields) {
            out_ << ',' << field.tag;
        }
        for (const auto* field : data_block::ValueFields()) {
            out_ << ',' << field->tag;
        }
        out_ << ",damage\n";
        return;
    }
    out_.Right("#", 6);
    out_ << "  time stamp                 data id ";
    for (const auto& field : ups_protocol::kStatusFields) {
        out_.Right(field.tag, 4);
    }
    out_ << ' ';
    for (const auto* field : data_block::ValueFields()) {
        out_.Right(field->tag, 8);
    }
    out_ << "  damage\n";
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
    out_.Row();
}

void BlockTable::TextRow(const Entry& entry)
{
    if (name_files_ && entry.file != file_) {
        out_ << "== " << *entry.file << '\n';
        file_ = entry.file;
    }
    const data_block::Decoded& block = entry.block;
    char cell[40];
    out_.Right(std::string_view(cell, std::to_chars(cell, cell + 24, entry.number).ptr - cell), 6);
    out_ << "  ";
    const std::string_view stamp(
        cell, data_block::IsoChars(block.time_stamp, entry.utc_offset, cell) - cell);
    out_ << stamp;
    if (stamp.size() < 25) {
        out_ << std::string(25 - stamp.size(), ' ');
    }
    out_ << ' ';
    out_.Right(std::string_view(cell, std::to_chars(cell, cell + 24, block.data_id).ptr - cell), 8);
    out_ << ' ';
    for (const std::uint8_t flag : block.flags) {
        out_.Right(std::string_view(cell, std::to_chars(cell, cell + 24, flag).ptr - cell), 4);
    }
    out_ << ' ';
    for (const float value : block.values) {
        // As %g shows it: six significant digits.
        const char* end = std::isnan(value)
                              ? data_block::ValueChars(value, cell)
                              : std::to_chars(cell, cell + 32, value, std::chars_format::general, 6).ptr;
        const std::string_view text(cell, static_cast<std::size_t>(end - cell));
        // A value wider than its column (-3.40282e+38) still stands apart.
        if (text.size() >= 8) {
            out_ << ' ';
        }
        out_.Right(text, 8);
    }
    if (!entry.Sound()) {
        out_ << "  ! " << entry.damage;
    }
    out_ << '\n';
}

void BlockTable::CsvRow(const Entry& entry)
{
    const data_block::Decoded& block = entry.block;
    out_.Iso(block.time_stamp, entry.utc_offset);
    out_ << ',';
    out_.Unsigned(block.data_id);
    for (const std::uint8_t flag : block.flags) {
        out_ << ',';
        out_.Unsigned(flag);
    }
    for (const float value : block.values) {
        out_ << ',';
        out_.Float(value);
    }
    out_ << ',';
    CsvField(out_, entry.damage);
    out_ << '\n';
}

void BlockTable::JsonRow(const Entry& entry)
{
    const data_block::Decoded& block = entry.block;
    out_ << '{';
    if (!entry.Sound()) {
        out_ << "\"damage\":";
        JsonString(out_, entry.damage);
        out_ << ',';
    }
    out_ << "\"data_id\":";
    out_.Unsigned(block.data_id);
    out_ << ",\"flags\":{";
    for (const std::size_t i : FlagsByName()) {
        out_ << (i == FlagsByName()[0] ? "\"" : ",\"") << ups_protocol::kStatusFields[i].tag
             << "\":";
        out_.Unsigned(block.flags[i]);
    }
    out_ << "},\"time_stamp\":\"";
    out_.Iso(block.time_stamp, entry.utc_offset);
    out_ << "\",\"values\":{";
    for (const std::size_t i : ValuesByName()) {
        out_ << (i == ValuesByName()[0] ? "\"" : ",\"") << data_block::ValueFields()[i]->tag
             << "\":";
        JsonNumber(out_, block.values[i]);
    }
    out_ << "}}\n";
}
