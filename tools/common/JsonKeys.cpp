#include "tools/common/JsonKeys.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <regex>

#include <json/reader.h>

namespace json_keys {

namespace {

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// Edits from one text to the other: insert, delete, replace, or swap two
// neighbours (the usual typing slips).
std::size_t Distance(const std::string& a, const std::string& b)
{
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (std::size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

std::string Joined(const std::vector<std::string>& keys)
{
    std::string text;
    for (const std::string& key : keys) {
        text += (text.empty() ? "" : ", ") + key;
    }
    return text;
}

// The byte offset of a 1-based line and column, or npos.
std::size_t OffsetOf(const std::string& text, std::size_t line, std::size_t column)
{
    std::size_t start = 0;
    for (std::size_t at = 1; at < line; ++at) {
        start = text.find('\n', start);
        if (start == std::string::npos) {
            return start;
        }
        ++start;
    }
    return column == 0 || start + column - 1 > text.size() ? std::string::npos
                                                             : start + column - 1;
}

// The last character before `offset` that is no blank.
char Before(const std::string& text, std::size_t offset)
{
    while (offset > 0 && std::isspace(static_cast<unsigned char>(text[offset - 1]))) {
        --offset;
    }
    return offset > 0 ? text[offset - 1] : '\0';
}

// What follows `offset` on its line, shortened, for a message.
std::string Excerpt(const std::string& text, std::size_t offset)
{
    constexpr std::size_t kShown = 24;
    const std::size_t end = std::min(text.find('\n', offset), text.size());
    std::string shown = text.substr(offset, std::min(end - offset, kShown));
    while (!shown.empty() && std::isspace(static_cast<unsigned char>(shown.back()))) {
        shown.pop_back();
    }
    return end - offset > kShown ? shown + "..." : shown;
}

// jsoncpp's reason in a few plain words, knowing where it stopped.
std::string Reason(const std::string& said, const std::string& text, std::size_t offset)
{
    const char at = offset < text.size() ? text[offset] : '\0';
    const char before = offset == std::string::npos ? '\0' : Before(text, offset);
    const std::string here = offset < text.size() ? " before " + Excerpt(text, offset) : " at the end";
    if (before == ',' && (at == '}' || at == ']')) {
        return std::string("a comma before '") + at + "'; JSON allows no trailing comma";
    }
    if (said.rfind("Missing ',' or '}'", 0) == 0) {
        return "a ',' or '}' is missing" + here;
    }
    if (said.rfind("Missing ',' or ']'", 0) == 0) {
        return "a ',' or ']' is missing" + here;
    }
    if (said.rfind("Missing '}' or object member name", 0) == 0) {
        return "a member name in double quotes or '}' is expected" + here;
    }
    if (said.rfind("Missing ':'", 0) == 0) {
        return "a ':' is missing after the member name" + here;
    }
    if (said.rfind("Syntax error: value, object or array expected", 0) == 0) {
        return "a value is expected (text in double quotes, a number, true, false, null, a "
               "list or an object)" + here;
    }
    if (said.rfind("Duplicate key: ", 0) == 0) {
        return "the key " + said.substr(15) + " is given twice";
    }
    if (said.rfind("Extra non-whitespace", 0) == 0) {
        return "more after the end of the JSON text" + here;
    }
    // "'1e400' is not a number.": a number, but past a double's range.
    if (said.size() > 2 && said[0] == '\'' &&
        said.rfind("' is not a number.") != std::string::npos) {
        const std::string number = said.substr(1, said.rfind('\'') - 1);
        return number + " is out of range: a number is at most about 1.8e308 either side of 0";
    }
    return said;
}

// Where a comment ("//" or "/*") starts outside the texts of `text`, or
// npos: jsoncpp skips some comments even when told to allow none.
std::size_t FirstComment(const std::string& text)
{
    bool in_text = false;
    for (std::size_t at = 0; at + 1 < text.size(); ++at) {
        const char c = text[at];
        if (in_text && c == '\\') {
            ++at;
        } else if (c == '"') {
            in_text = !in_text;
        } else if (!in_text && c == '/' && (text[at + 1] == '/' || text[at + 1] == '*')) {
            return at;
        }
    }
    return std::string::npos;
}

// Where a byte that JSON text never holds is: a control character other than
// the blanks, anywhere, or a byte past ASCII outside a text (a binary file,
// or a text in another encoding); npos when there is none.
std::size_t FirstForeignByte(const std::string& text)
{
    bool in_text = false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f ||
            (c >= 0x80 && !in_text)) {
            return at;
        }
        if (in_text && c == '\\') {
            ++at;
        } else if (c == '"') {
            in_text = !in_text;
        }
    }
    return std::string::npos;
}

// Where the lists and objects of `text` first nest deeper than kMostNesting,
// or npos.
std::size_t TooDeep(const std::string& text)
{
    bool in_text = false;
    std::size_t depth = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (in_text && c == '\\') {
            ++at;
        } else if (c == '"') {
            in_text = !in_text;
        } else if (!in_text && (c == '[' || c == '{') && ++depth > kMostNesting) {
            return at;
        } else if (!in_text && (c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return std::string::npos;
}

// "NAME:LINE:COLUMN" of a byte offset.
std::string Place(const std::string& name, const std::string& text, std::size_t offset)
{
    const auto start = text.begin();
    const std::size_t line_start = text.rfind('\n', offset == 0 ? 0 : offset - 1);
    const std::size_t column = line_start == std::string::npos || offset == 0
                                   ? offset + 1
                                   : offset - line_start;
    return name + ":" + std::to_string(std::count(start, start + offset, '\n') + 1) + ":" +
           std::to_string(column);
}

// "NAME:LINE:COLUMN: reason" from jsoncpp's first error ("* Line 7, Column
// 7\n  Missing ',' or '}' in object declaration\n...").
std::string SyntaxError(const std::string& name, const std::string& text,
                        const std::string& errors)
{
    static const std::regex kFirst(R"(\* Line (\d+), Column (\d+)\n  ([^\n]*))");
    std::smatch found;
    if (!std::regex_search(errors, found, kFirst)) {
        return name + ": " + errors;
    }
    const std::size_t line = std::stoul(found[1]);
    const std::size_t column = std::stoul(found[2]);
    return name + ":" + found[1].str() + ":" + found[2].str() + ": " +
           Reason(found[3], text, OffsetOf(text, line, column));
}

}  // namespace

void Fail(const Json::Value& at, const std::string& where, const std::string& what)
{
    throw Mistake(where + ": " + what, at.getOffsetStart());
}

std::string Nearest(const std::string& key, const std::vector<std::string>& known)
{
    const std::string wanted = Lower(key);
    std::string best;
    std::size_t best_distance = 0;
    for (const std::string& candidate : known) {
        const std::size_t distance = Distance(wanted, Lower(candidate));
        if (best.empty() || distance < best_distance) {
            best = candidate;
            best_distance = distance;
        }
    }
    const std::size_t near_enough = std::max<std::size_t>(2, wanted.size() / 3);
    return best_distance <= near_enough ? best : "";
}

void CheckKeys(const Json::Value& object, const std::vector<std::string>& known,
               const std::string& where)
{
    for (auto member = object.begin(); member != object.end(); ++member) {
        const std::string key = member.name();
        if (std::find(known.begin(), known.end(), key) != known.end()) {
            continue;
        }
        const std::string nearest = Nearest(key, known);
        Fail(*member, where,
             "unknown key \"" + key + "\"" +
                 (nearest.empty() ? " (known: " + Joined(known) + ")"
                                  : "; did you mean \"" + nearest + "\"?"));
    }
}

std::vector<std::string> Names(const std::vector<Key>& keys)
{
    std::vector<std::string> names;
    for (const Key& key : keys) {
        names.push_back(key.name);
    }
    return names;
}

void CheckKeys(const Json::Value& object, const std::vector<Key>& known, const std::string& where)
{
    CheckKeys(object, Names(known), where);
}

std::string KindOf(const Json::Value& value)
{
    switch (value.type()) {
    case Json::nullValue: return "null";
    case Json::intValue:
    case Json::uintValue: return "a whole number";
    case Json::realValue: return "a number";
    case Json::stringValue: return "a text";
    case Json::booleanValue: return "true or false";
    case Json::arrayValue: return "a list";
    case Json::objectValue: return "an object";
    }
    return "a value";
}

void WrongKind(const Json::Value& value, const std::string& where, const std::string& key,
               const std::string& expected)
{
    Fail(value, where, "\"" + key + "\" is " + expected + ", not " + KindOf(value));
}

std::string Text(const Json::Value& object, const char* key, const std::string& where)
{
    const Json::Value* value = Member(object, key);
    if (value == nullptr) {
        return "";
    }
    if (!value->isString()) {
        WrongKind(*value, where, key, "a text");
    }
    return value->asString();
}

std::string Shown(const Json::Value& value)
{
    if (value.isBool() || !value.isNumeric()) {
        return KindOf(value);
    }
    if (value.isInt64()) {
        return std::to_string(value.asInt64());
    }
    if (value.isUInt64()) {
        return std::to_string(value.asUInt64());
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%g", value.asDouble());
    return text;
}

long long WholeNumber(const Json::Value& value, const std::string& where,
                      const std::string& key, long long low, long long high)
{
    if (!value.isBool() && value.isInt64() && value.asInt64() >= low &&
        value.asInt64() <= high) {
        return value.asInt64();
    }
    Fail(value, where, "\"" + key + "\" is a whole number from " + std::to_string(low) + " to " +
                           std::to_string(high) + ", not " + Shown(value));
}

Json::Value Parse(const std::string& name, const std::string& text)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    const std::size_t foreign = FirstForeignByte(text);
    const std::size_t comment = FirstComment(text);
    if (comment < foreign) {
        throw std::runtime_error(Place(name, text, comment) + ": a comment; JSON has none");
    }
    if (foreign != std::string::npos) {
        char byte[8];
        std::snprintf(byte, sizeof(byte), "0x%02x", static_cast<unsigned char>(text[foreign]));
        throw std::runtime_error(Place(name, text, foreign) + ": not JSON text: the byte " +
                                 byte + " is none of it (a binary file, or the wrong file?)");
    }
    const std::size_t deep = TooDeep(text);
    if (deep != std::string::npos) {
        throw std::runtime_error(Place(name, text, deep) + ": lists and objects nested more than " +
                                 std::to_string(kMostNesting) + " deep");
    }
    Json::Value root;
    std::string errors;
    try {
        if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
            throw std::runtime_error(SyntaxError(name, text, errors));
        }
    } catch (const Json::Exception& error) {
        throw std::runtime_error(name + ": not read: " + error.what());
    }
    return root;
}

std::string LineOf(const std::string& name, const std::string& text, std::ptrdiff_t offset)
{
    if (offset <= 0 || static_cast<std::size_t>(offset) > text.size()) {
        return name;
    }
    const auto end = text.begin() + offset;
    return name + ":" + std::to_string(std::count(text.begin(), end, '\n') + 1);
}

}  // namespace json_keys
