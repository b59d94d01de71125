#pragma once

#include <cstddef>
#include <string>

// Bytes as readable text for a person at the line: printable ASCII as it is,
// "\r" and "\n" by name, "\\" doubled and every other byte as "\xNN".
std::string EscapeBytes(const void* data, std::size_t len);

inline std::string EscapeBytes(const std::string& bytes)
{
    return EscapeBytes(bytes.data(), bytes.size());
}
