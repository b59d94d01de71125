#pragma once

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

// What the programs under test wrote, read back: their files and JSON lines.

inline std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// A JSON text; a text that is none fails the test that reads it.
inline Json::Value ParseJson(const std::string& text)
{
    Json::CharReaderBuilder builder;
    Json::Value value;
    std::string errors;
    std::istringstream stream(text);
    EXPECT_TRUE(Json::parseFromStream(builder, stream, &value, &errors)) << text;
    return value;
}
