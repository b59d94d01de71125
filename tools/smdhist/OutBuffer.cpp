#include "tools/smdhist/OutBuffer.h"

#include <charconv>

#include "tools/common/DataBlock.h"

void OutBuffer::Unsigned(std::uint64_t number)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof(digits), number).ptr;
    text_.append(digits, end);
}

void OutBuffer::Signed(std::int64_t number)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof(digits), number).ptr;
    text_.append(digits, end);
}

void OutBuffer::Float(float value)
{
    char digits[32];
    text_.append(digits, data_block::ValueChars(value, digits));
}

void OutBuffer::Iso(const ttime& stamp, std::optional<long> utc_offset)
{
    char text[40];
    text_.append(text, data_block::IsoChars(stamp, utc_offset, text));
}

void OutBuffer::Right(std::string_view text, std::size_t width)
{
    if (text.size() < width) {
        text_.append(width - text.size(), ' ');
    }
    text_.append(text.data(), text.size());
}

void OutBuffer::Flush()
{
    if (!text_.empty()) {
        std::fwrite(text_.data(), 1, text_.size(), out_);
        text_.clear();
    }
}
