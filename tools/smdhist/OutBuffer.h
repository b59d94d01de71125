#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "framework/ttime.h"

// Text for an output stream built in large pieces, numbers written with
// to_chars: a history of a million blocks is millions of cells, and a printf
// per cell would cost more than everything else.
class OutBuffer {
public:
    explicit OutBuffer(std::FILE* out) : out_(out) { text_.reserve(kFlushAt * 2); }
    ~OutBuffer() { Flush(); }
    OutBuffer(const OutBuffer&) = delete;
    OutBuffer& operator=(const OutBuffer&) = delete;

    OutBuffer& operator<<(std::string_view text)
    {
        text_.append(text.data(), text.size());
        return *this;
    }
    OutBuffer& operator<<(char c)
    {
        text_.push_back(c);
        return *this;
    }

    void Unsigned(std::uint64_t number);
    void Signed(std::int64_t number);
    // The shortest text that reads back to the same float; "nan", "inf", "-inf".
    void Float(float value);
    // ISO 8601 with the offset given, as data_block::IsoTime writes it.
    void Iso(const ttime& stamp, std::optional<long> utc_offset);
    // `text` right-aligned in `width` columns.
    void Right(std::string_view text, std::size_t width);

    // Hands the text to the stream once enough has gathered.
    void Row()
    {
        if (text_.size() >= kFlushAt) {
            Flush();
        }
    }
    void Flush();

private:
    static constexpr std::size_t kFlushAt = 64 * 1024;

    std::FILE* out_;
    std::string text_;
};
