#include "tools/common/CommandLine.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>

#include "QuillVersion.h"

#include "tools/common/Diagnostics.h"
#include "tools/common/ExitStatus.h"
#include "tools/common/JsonKeys.h"


namespace command_line {
namespace {

constexpr std::size_t kWidth = 80;
constexpr std::size_t kHelpColumn = 28;  // where the help of an option starts

const Option kStandard[] = {
    {kHelp, "help", 'h', Arg::None, nullptr, "Show this text and end."},
    {kVersion, "version", 'V', Arg::None, nullptr, "Show the version and end."},
    {kManualPage, "manual-page", 0, Arg::None, nullptr,
     "Write this program's manual page (roff) and end."},
    {kBashCompletion, "bash-completion", 0, Arg::None, nullptr,
     "Write a bash completion script for this program and end."},
};

// "  -c, --config FILE", "      --fast", "  -t, --trace[=FILE]"
std::string Head(const Option& option)
{
    std::string head = option.letter != 0 ? std::string("  -") + option.letter + ", " : "      ";
    head += std::string("--") + option.name;
    if (option.arg == Arg::Required) {
        head += std::string(" ") + option.value;
    } else if (option.arg == Arg::Optional) {
        head += std::string("[=") + option.value + "]";
    }
    return head;
}

// `text` as lines of at most kWidth columns, each after `indent` columns of
// room (the first after `first` characters already written).
std::string Wrap(const std::string& text, std::size_t indent, std::size_t first)
{
    std::string out;
    std::size_t column = first;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string word = text.substr(start, end - start);
        if (column > indent && column + 1 + word.size() > kWidth) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
        } else if (column > indent) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        start = end + 1;
    }
    return out;
}

std::string OptionRows(const std::vector<Option>& options)
{
    std::string rows;
    for (const Option& option : options) {
        std::string head = Head(option);
        if (head.size() + 1 >= kHelpColumn) {
            head += "\n" + std::string(kHelpColumn, ' ');
        } else {
            head.resize(kHelpColumn, ' ');
        }
        rows += head + Wrap(option.help, kHelpColumn, kHelpColumn) + "\n";
    }
    return rows;
}

std::string Statuses(const std::vector<ExitStatus>& statuses)
{
    std::string text;
    for (const ExitStatus& status : statuses) {
        text += (text.empty() ? "exit status: " : "; ") + std::string(status.code) + " " +
                status.meaning;
    }
    return text.empty() ? text : Wrap(text, 0, 0) + "\n";
}

// getopt_long's tables: the short letters ("c:t::h") and the long options.
std::string ShortLetters(const std::vector<Option>& options)
{
    std::string letters = ":";  // a missing value is told apart from an unknown option
    for (const Option& option : options) {
        if (option.letter == 0) {
            continue;
        }
        letters += option.letter;
        letters += option.arg == Arg::Required ? ":" : option.arg == Arg::Optional ? "::" : "";
    }
    return letters;
}

std::vector<struct option> LongOptions(const std::vector<Option>& options)
{
    std::vector<struct option> table;
    for (const Option& option : options) {
        const int has_arg = option.arg == Arg::Required   ? required_argument
                            : option.arg == Arg::Optional ? optional_argument
                                                          : no_argument;
        table.push_back({option.name, has_arg, nullptr, option.id});
    }
    table.push_back({nullptr, 0, nullptr, 0});
    return table;
}

// The option getopt stopped at, as the user wrote it.
std::string Written(char** argv, int index)
{
    return index > 0 ? argv[index - 1] : "";
}

// "unknown option --cycle; did you mean --cycles?"
std::string Unknown(const std::vector<Option>& options, const std::string& written)
{
    std::string text = "unknown option " + written;
    if (written.rfind("--", 0) != 0) {
        return text;
    }
    std::vector<std::string> names;
    for (const Option& option : options) {
        names.push_back(option.name);
    }
    const std::string name = written.substr(2, written.find('=') - 2);
    const std::string nearest = json_keys::Nearest(name, names);
    return nearest.empty() ? text : text + "; did you mean --" + nearest + "?";
}

// The long name of the option `id`.
const char* NameOf(const std::vector<Option>& options, int id)
{
    for (const Option& option : options) {
        if (option.id == id) {
            return option.name;
        }
    }
    return "";
}

// True when `word`, given where an option needs its value, is one of the
// program's options: "-s", "--state-dir", "--state-dir=x". "-2h" is no option.
bool IsOption(const std::vector<Option>& options, const std::string& word)
{
    if (word.size() < 2 || word[0] != '-') {
        return false;
    }
    const bool long_name = word[1] == '-';
    const std::string name = long_name ? word.substr(2, word.find('=') - 2) : "";
    for (const Option& option : options) {
        if (long_name ? name == option.name : option.letter != 0 && word[1] == option.letter) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<Option> AllOptions(const Program& program)
{
    std::vector<Option> options = program.options;
    options.insert(options.end(), std::begin(kStandard), std::end(kStandard));
    return options;
}

std::string Help(const Program& program)
{
    return "usage: " + program.name + " " + program.synopsis + "\n" + Wrap(program.summary, 0, 0) +
           "\n\n" +
           OptionRows(AllOptions(program)) + program.more + Statuses(program.exit_statuses);
}

const char* Version() { return QUILL_VERSION; }

void Refuse(const Program& program, const std::string& complaint)
{
    diagnostics::Error(complaint + " (" + program.name + " --help lists the options)");
    std::exit(exit_status::kUsage);
}

std::vector<std::string> Parse(int argc, char** argv, const Program& program,
                               const std::function<void(int id, const char* value)>& take,
                               const std::function<std::string()>& version_more)
{
    bool version = false;
    diagnostics::SetProgram(program.name);
    const std::vector<Option> options = AllOptions(program);
    const std::string letters = ShortLetters(options);
    const std::vector<struct option> table = LongOptions(options);
    opterr = 0;
    optind = 0;  // glibc starts afresh, forgetting a cluster it was in
    for (int id; (id = getopt_long(argc, argv, letters.c_str(), table.data(), nullptr)) != -1;) {
        if (id == '?') {
            Refuse(program, Unknown(options, optopt != 0 ? std::string("-") + char(optopt)
                                                         : Written(argv, optind)));
        }
        if (id == ':') {
            Refuse(program, Written(argv, optind) + " needs a value");
        }
        if (id == kHelp) {
            std::fputs(Help(program).c_str(), stdout);
            std::exit(exit_status::kSuccess);
        }
        if (id == kManualPage || id == kBashCompletion) {
            const std::string text = id == kManualPage ? ManualPage(program) : BashCompletion(program);
            std::fputs(text.c_str(), stdout);
            std::exit(exit_status::kSuccess);
        }
        if (id == kVersion) {
            version = true;
            continue;
        }
        const char* value = optarg;
        if (value != nullptr && value == argv[optind - 1] && IsOption(options, value)) {
            const std::string name = std::string("--") + NameOf(options, id);
            Refuse(program, name + " needs a value, not the option " + value + " (write " + name +
                                "=" + value + " if that is the value)");
        }
        for (const Option& option : options) {
            if (option.id == id && option.arg == Arg::Optional && value == nullptr &&
                optind < argc && argv[optind][0] != '-') {
                value = argv[optind++];
            }
        }
        take(id, value);
    }
    if (version) {
        std::printf("%s %s\n%s", program.name.c_str(), Version(),
                    version_more ? version_more().c_str() : "");
        std::exit(exit_status::kSuccess);
    }
    return std::vector<std::string>(argv + optind, argv + argc);
}

}  // namespace command_line
