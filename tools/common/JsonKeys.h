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

// A key of a hand-written file as its reader knows it: the reader checks
// keys against its table, and the manual page lists the same table, so that
// neither can name a key the other does not.
struct Key {
    std::string name;
    std::string kind;      // "a text", "a number of seconds", "an object"
    std::string fallback;  // what it is when not given, as JSON where that is a value; "" none
    std::string range;     // the values taken, as the messages say them; "" for any
    std::string help;      // what it does, in sentences
    bool required = false;
};

// The keys of one object of a file, and where that object is.
struct KeyTable {
    std::string object;  // where the object is: "the top level", "a device"
    std::vector<Key> keys;
};

// The names of `keys`, in their order.
std::vector<std::string> Names(const std::vector<Key>& keys);

// CheckKeys against the names of a table.
void CheckKeys(const Json::Value& object, const std::vector<Key>& known,
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

// Lists and objects nested deeper than this are refused before jsoncpp reads
// them: no hand-written file comes near, and jsoncpp's own limit ends its
// reading without a place.
constexpr std::size_t kMostNesting = 64;

// Parses `text`, read from the file `name`, as strict JSON (no comments, no
// trailing commas, no key twice, nesting at most kMostNesting deep); a text
// that is no JSON (other bytes, a number past a double's range) or a syntax
// error throws std::runtime_error "name:line:column: reason".
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
