#include "tools/common/JsonKeys.h"

#include <algorithm>
#include <cctype>
#include <memory>

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

Json::Value Parse(const std::string& name, const std::string& text)
{
    Json::CharReaderBuilder builder;
    builder["rejectDupKeys"] = true;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
        throw std::runtime_error(name + ": " + errors);
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
