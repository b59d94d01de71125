#pragma once

#include <cstring>

#include <json/value.h>

// Reading a JSON object without changing it: the stand-in host and the tools
// (tools/common/JsonKeys.h) share this, header only, so that the host library
// takes nothing of the tools.
namespace json_member {

// The member `key` of `object`, or null when it has none or is no object.
// Unlike operator[], never adds the member, and never throws on a value that
// is no object.
inline const Json::Value* Member(const Json::Value& object, const char* key)
{
    return object.isObject() ? object.find(key, key + std::strlen(key)) : nullptr;
}

}  // namespace json_member
