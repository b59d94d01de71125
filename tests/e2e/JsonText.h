#pragma once

#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

// One JSON text a program wrote (an event line), parsed; a text that is no
// JSON fails the test that reads it.
inline Json::Value ParseJson(const std::string& text)
{
    Json::CharReaderBuilder builder;
    Json::Value value;
    std::string errors;
    std::istringstream stream(text);
    EXPECT_TRUE(Json::parseFromStream(builder, stream, &value, &errors)) << text;
    return value;
}
