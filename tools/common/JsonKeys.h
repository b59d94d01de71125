#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include <json/value.h>

#include "host/JsonMember.h"

// Checks of hand-written JSON files (the bench host's configuration, the
// simulator's scenarios): a key nobody reads is a typo, and a value of the
// wrong kind is named with the kind that was expected.
namespace json_keys {

// A mistake at a value of a JSON text; the offset lets the file's reader
// say on which line it is.
class Mistake : public std::runtime_error {
public:
    Mistake(const std::string& what, std::ptrdiff_t offset)
        : std::runtime_error(what), offset_(offset)
    {
    }
    std::ptrdiff_t Offset() const { return offset_; }

private:
    std::ptrdiff_t offset_;
};

[[noreturn]] void Fail(const Json::Value& at, const std::string& where, const std::string& what);

// The known key nearest to `key` by edits (case aside), or "" when none is
// near enough to be what was meant.
std::string Nearest(const std::string& key, const std::vector<std::string>& known);

// Throws a Mistake for the first member of `object` that is not in `known`:
//   device 1: unknown key "poll_intervall"; did you mean "poll_interval"?
void CheckKeys(const Json::Value& object, const std::vector<std::string>& known,
               const std::string& where);

using json_member::Member;

// The text of `key` in `object`, "" when it has none; throws a Mistake when
// the value is no text: `where`: "key" is a text, not a number
std::string Text(const Json::Value& object, const char* key, const std::string& where);

// "a text", "a number", "a list", ... for messages.
std::string KindOf(const Json::Value& value);

// `where` + ": \"key\" is " + expected + ", not " + the kind found.
[[noreturn]] void WrongKind(const Json::Value& value, const std::string& where,
                            const std::string& key, const std::string& expected);

// A number as the file has it, or the kind of a value that is no number:
// "-5", "2.5", "a text".
std::string Shown(const Json::Value& value);

// The value of `key` when it is a whole number from `low` to `high`; throws a
// Mistake that states the range otherwise:
//   device 1: "data_id" is a whole number from 0 to 4294967295, not -5
long long WholeNumber(const Json::Value& value, const std::string& where,
                      const std::string& key, long long low, long long high);

// Parses `text`, read from the file `name`, as strict JSON (no comments, no
// trailing commas, no key twice); a syntax error throws std::runtime_error
// "name:line:column: reason".
Json::Value Parse(const std::string& name, const std::string& text);

// "name:line" of a byte offset into `text`; the name alone without one.
std::string LineOf(const std::string& name, const std::string& text, std::ptrdiff_t offset);

// Parses `text` and hands the value to `read`; a Mistake it throws becomes a
// std::runtime_error that starts with "name:line: ".
template <typename Read>
auto ParseWith(const std::string& name, const std::string& text, Read read)
    -> decltype(read(Json::Value()))
{
    const Json::Value root = Parse(name, text);
    try {
        return read(root);
    } catch (const Mistake& mistake) {
        throw std::runtime_error(LineOf(name, text, mistake.Offset()) + ": " + mistake.what());
    }
}

}  // namespace json_keys
