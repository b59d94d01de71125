#include "tools/common/Escape.h"

#include <cstdio>

std::string EscapeBytes(const void* data, std::size_t len)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string text;
    text.reserve(len);
    for (std::size_t i = 0; i < len; ++i) {
        const unsigned char byte = bytes[i];
        if (byte == '\r') {
            text += "\\r";
        } else if (byte == '\n') {
            text += "\\n";
        } else if (byte == '\\') {
            text += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02x", byte);
            text += escaped;
        } else {
            text += static_cast<char>(byte);
        }
    }
    return text;
}
