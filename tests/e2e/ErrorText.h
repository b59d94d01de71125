#pragma once

#include <stdexcept>
#include <string>

// The message a file reader refuses a text with, or "no error".
template <typename Reader>
std::string ErrorText(Reader read, const std::string& text)
{
    try {
        read(text);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}
