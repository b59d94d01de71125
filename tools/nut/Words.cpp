#include "tools/nut/Words.h"

namespace nut {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool IsControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

bool NeedsEscape(char c) { return c == '\\' || c == '"' || c == '#'; }

}  // namespace

std::optional<std::vector<std::string>> SplitWords(std::string_view line)
{
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\') {
            if (++i == line.size()) {
                return std::nullopt;
            }
            word += line[i];
            in_word = true;
        } else if (c == '"') {
            quoted = !quoted;
            in_word = true;  // "" is an empty word
        } else if (quoted) {
            word += c;
        } else if (c == '#') {
            break;
        } else if (IsBlank(c)) {
            if (in_word) {
                words.push_back(std::move(word));
                word.clear();
                in_word = false;
            }
        } else {
            word += c;
            in_word = true;
        }
    }
    if (quoted) {
        return std::nullopt;
    }
    if (in_word) {
        words.push_back(std::move(word));
    }
    return words;
}

std::string Quoted(std::string_view value)
{
    std::string text = "\"";
    for (const char c : value) {
        if (NeedsEscape(c)) {
            text += '\\';
        }
        text += IsControl(c) ? ' ' : c;
    }
    return text + "\"";
}

std::string Word(std::string_view value)
{
    if (value.empty()) {
        return Quoted(value);
    }
    for (const char c : value) {
        if (NeedsEscape(c) || IsBlank(c) || IsControl(c) || c == '=' || c == '[' || c == ']') {
            return Quoted(value);
        }
    }
    return std::string(value);
}

}  // namespace nut
