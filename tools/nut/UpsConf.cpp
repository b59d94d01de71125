#include "tools/nut/UpsConf.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "tools/common/JsonKeys.h"
#include "tools/common/SafeFile.h"

namespace nut {

namespace {

constexpr std::size_t kLargestFile = 1024 * 1024;

struct Word {
    std::string text;
    bool bare = true;  // not quoted: only a bare = parts a key from its value
};

struct Line {
    std::size_t number = 0;
    std::vector<Word> words;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

bool IsControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\t') || byte == 0x7f;
}

std::string Hex(char c)
{
    char text[8];
    std::snprintf(text, sizeof(text), "0x%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    return text;
}

// Splits the text into its lines of words, a line joined to the next by a
// backslash at its end counted from where it starts.
class Lexer {
public:
    Lexer(const std::string& path, const std::string& text) : path_(path), text_(text) {}

    std::vector<Line> Lines()
    {
        for (std::size_t i = 0; i < text_.size(); ++i) {
            Take(i);
        }
        if (quoted_) {
            Fail(quote_line_, "the quote opened here is not closed");
        }
        EndLine();
        return lines_;
    }

private:
    [[noreturn]] void Fail(std::size_t line, const std::string& why) const
    {
        throw std::runtime_error(path_ + ":" + std::to_string(line) + ": " + why);
    }

    void Add(char c)
    {
        if (IsControl(c)) {
            Fail(number_, "a control character (" + Hex(c) + ") where a word is read");
        }
        word_.text += c;
        in_word_ = true;
    }

    void EndWord()
    {
        if (in_word_) {
            line_.words.push_back(word_);
        }
        word_ = Word{};
        in_word_ = false;
    }

    void EndLine()
    {
        EndWord();
        if (!line_.words.empty()) {
            lines_.push_back(line_);
        }
        line_ = Line{number_ + 1, {}};
    }

    // The character at `i`; a backslash takes the one after it too.
    void Take(std::size_t& i)
    {
        const char c = text_[i];
        if (c == '\n') {
            if (quoted_) {
                Fail(quote_line_, "the quote opened here is not closed on its line");
            }
            EndLine();
            ++number_;
            comment_ = false;
        } else if (comment_) {
            return;
        } else if (c == '\\') {
            Escaped(i);
        } else if (quoted_) {
            Quoted(c);
        } else {
            Bare(c);
        }
    }

    void Escaped(std::size_t& i)
    {
        if (++i == text_.size()) {
            Fail(number_, "the file ends in a backslash");
        }
        if (text_[i] == '\n') {
            ++number_;  // the next line goes on this one
            return;
        }
        Add(text_[i]);
    }

    void Quoted(char c)
    {
        if (c == '"') {
            quoted_ = false;
            in_word_ = true;  // "" is an empty word
            EndWord();
            return;
        }
        Add(c);
    }

    void Bare(char c)
    {
        if (c == '"' && !in_word_) {
            quoted_ = true;
            quote_line_ = number_;
            word_.bare = false;
        } else if (c == '#') {
            EndWord();
            comment_ = true;
        } else if (IsBlank(c)) {
            EndWord();
        } else if (c == '=') {
            EndWord();
            line_.words.push_back(Word{"=", true});
        } else {
            Add(c);
        }
    }

    const std::string& path_;
    const std::string& text_;
    std::vector<Line> lines_;
    Line line_{1, {}};
    Word word_;
    std::size_t number_ = 1;
    std::size_t quote_line_ = 0;
    bool in_word_ = false;
    bool quoted_ = false;
    bool comment_ = false;
};

bool IsEquals(const Word& word) { return word.bare && word.text == "="; }

// A line of words as a parameter, or with the problem that makes it none.
Parameter ParameterOf(const std::vector<Word>& words, const std::string& where)
{
    Parameter parameter;
    parameter.where = where;
    parameter.key = words.front().text;
    if (IsEquals(words.front())) {
        parameter.problem = "a line starts with = where a key is read";
    } else if (words.size() == 1) {
        return parameter;  // a flag
    } else if (!IsEquals(words[1])) {
        parameter.problem = "\"" + parameter.key + "\" is followed by \"" + words[1].text +
                            "\" where = is read (KEY = VALUE, or a flag alone)";
    } else if (words.size() == 2) {
        parameter.problem = parameter.key + " = has no value (an empty one is written \"\")";
    } else if (words.size() > 3) {
        parameter.problem = parameter.key + " has more than one word after =; quote a value "
                                            "with blanks: " + parameter.key + " = \"a b\"";
    } else {
        parameter.value = words[2].text;
    }
    return parameter;
}

bool IsSectionLine(const Line& line)
{
    const Word& first = line.words.front();
    return first.bare && !first.text.empty() && first.text.front() == '[';
}

std::string SectionName(const std::string& path, const Line& line)
{
    const std::string& text = line.words.front().text;
    if (line.words.size() != 1 || text.size() < 3 || text.back() != ']') {
        throw std::runtime_error(path + ":" + std::to_string(line.number) +
                                 ": a section starts with its UPS name in brackets, one word "
                                 "without blanks or =, such as [ups-room-a]");
    }
    return text.substr(1, text.size() - 2);
}

}  // namespace

UpsConfFile ParseUpsConf(const std::string& path, const std::string& text)
{
    UpsConfFile file;
    file.path = path;
    for (const Line& line : Lexer(path, text).Lines()) {
        const std::string where = path + ":" + std::to_string(line.number);
        if (IsSectionLine(line)) {
            file.sections.push_back({SectionName(path, line), where, {}});
            continue;
        }
        auto& parameters = file.sections.empty() ? file.globals : file.sections.back().parameters;
        parameters.push_back(ParameterOf(line.words, where));
    }
    return file;
}

std::string UpsConfPath()
{
    const char* folder = std::getenv("NUT_CONFPATH");
    return std::string(folder != nullptr && *folder != '\0' ? folder : kNutConfigFolder) +
           "/ups.conf";
}

UpsConfFile ReadUpsConf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        throw std::runtime_error("cannot read " + path + ": it is " + safe_file::KindOf(st) +
                                 ", not a regular file");
    }
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    std::string text(kLargestFile + 1, '\0');
    file.read(&text[0], static_cast<std::streamsize>(text.size()));
    if (!file && !file.eof()) {
        throw std::runtime_error("cannot read " + path +
                                 (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kLargestFile) {
        throw std::runtime_error(path + " is larger than 1 MiB: no ups.conf is");
    }
    return ParseUpsConf(path, text);
}

const UpsSection& FindSection(const UpsConfFile& file, const std::string& name)
{
    const UpsSection* found = nullptr;
    std::vector<std::string> names;
    for (const UpsSection& section : file.sections) {
        names.push_back(section.name);
        if (section.name != name) {
            continue;
        }
        if (found != nullptr) {
            throw std::runtime_error(section.where + ": [" + name + "] again (first at " +
                                     found->where + "); one section per UPS");
        }
        found = &section;
    }
    if (found != nullptr) {
        return *found;
    }
    const std::string nearest = json_keys::Nearest(name, names);
    throw std::runtime_error(file.path + " has no section [" + name + "]" +
                             (nearest.empty() ? "" : "; did you mean [" + nearest + "]?"));
}

Parameter CommandLineParameter(const std::string& argument)
{
    Parameter parameter;
    parameter.where = "-x " + argument;
    const std::size_t equals = argument.find('=');
    parameter.key = argument.substr(0, equals);
    if (equals != std::string::npos) {
        parameter.value = argument.substr(equals + 1);
    }
    if (parameter.key.empty()) {
        parameter.problem = "-x takes KEY=VALUE or a flag, such as -x pollinterval=5";
    }
    return parameter;
}

}  // namespace nut
