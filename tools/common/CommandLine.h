#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

// Each option of a program is defined once, in its Program table: the
// parsing, --help, the manual page and the shell completion are all made
// from that one definition, so they cannot disagree.
namespace command_line {

// What a value of an option completes to in the shell.
enum class Completes { Nothing, File, Folder, Device, Words, Zone };

enum class Arg { None, Required, Optional };

struct Option {
    int id;            // handed back by Parse: the short letter, or a number from 1000
    const char* name;  // the long name, without "--"
    char letter;       // the short name, or 0
    Arg arg;
    const char* value;  // the value's name in the help ("FILE"); nullptr without a value
    const char* help;   // what it does, in sentences; wrapped by the help
    Completes completes = Completes::Nothing;
    const char* words = "";  // with Completes::Words: the values, separated by blanks
};

struct ExitStatus {
    const char* code;     // "0", "128+N"
    const char* meaning;  // "every cycle of every device completed"
};

// A part of the manual page after the exit statuses (CONFIGURATION, FILES,
// EXAMPLES), or a part of such a part when `sub`: a paragraph, entries (a
// term and what it means), then lines set as they stand.
struct Section {
    std::string title;
    std::string text;
    std::vector<std::pair<std::string, std::string>> entries;
    std::string verbatim;
    bool sub = false;
};

struct Program {
    std::string name;
    std::string synopsis;  // after the name: "[options] FILE..."
    std::string title;     // a few words for the manual's NAME: "the bench host"
    std::string summary;   // what the program is for, in a sentence or two
    std::vector<Option> options;  // --help and --version are added by Parse
    std::vector<ExitStatus> exit_statuses;
    std::string more;  // lines printed after the options (lists, operands)
    // What the program's operands complete to, when it takes any.
    Completes operands = Completes::Nothing;
    std::vector<Section> sections{};  // the manual page's alone
};

// Where the packages install the tools' manuals and the field guide, which
// each manual page points to.
constexpr const char* kDocuments = "/usr/share/doc/quillmarups-tools";

// Ids of the options every program has.
constexpr int kHelp = 'h';
constexpr int kVersion = 'V';
constexpr int kManualPage = 900;
constexpr int kBashCompletion = 901;

// The program's options with --help and --version added, as Parse reads them.
std::vector<Option> AllOptions(const Program& program);

// The text of --help: the synopsis, one row per option, what else the
// program says and its exit statuses, wrapped at 80 columns.
std::string Help(const Program& program);

// The program's manual page (roff, section 1): the same rows as the help,
// the exit statuses, the program's own sections, and where the installed
// manuals are.
std::string ManualPage(const Program& program);

// A bash completion script for the program's options and their values.
std::string BashCompletion(const Program& program);

// The project's version, as every program reports it.
const char* Version();

// Reads the options, handing each to `take` with its value (nullptr when it
// has none) in the order given; answers the operands. --help and --version
// are answered here and end the program with status 0 (--version once every
// option is read, adding the lines `version_more` answers); a mistake ends it
// with Refuse, as does an option of the program given as the next word where
// a value is needed ("--port -s DIR": write "--port=-s" for that value). An
// optional value is given as "--name=VALUE", "-xVALUE", or as the next
// argument when that is no option.
std::vector<std::string> Parse(int argc, char** argv, const Program& program,
                               const std::function<void(int id, const char* value)>& take,
                               const std::function<std::string()>& version_more = nullptr);

// "NAME: error: COMPLAINT (NAME --help lists the options)" on standard
// error; exit status 2.
[[noreturn]] void Refuse(const Program& program, const std::string& complaint);

}  // namespace command_line
