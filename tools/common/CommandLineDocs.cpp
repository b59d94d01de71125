// The manual page and the bash completion of a program, made from the same
// options table as its --help.
#include <cctype>

#include "tools/common/CommandLine.h"

namespace command_line {
namespace {

// The field tools, which each page points to.
const char* const kTools[] = {"smdhost", "smdhist", "upssim"};

// Text set in roff: backslashes kept, hyphens that are minus signs (in
// options) escaped, line ends kept as breaks (unless the text is set as it
// stands), no line taken for a request.
std::string Roff(const std::string& text, bool minus = false, bool breaks = true)
{
    std::string out;
    bool line_start = true;
    for (const char c : text) {
        if (line_start && (c == '.' || c == '\'')) {
            out += "\\&";
        }
        line_start = c == '\n';
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-' && minus) {
            out += "\\-";
        } else if (c == '\n' && breaks) {
            out += "\n.br\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string RoffHead(const Option& option)
{
    std::string head;
    if (option.letter != 0) {
        head += "\\fB\\-" + std::string(1, option.letter) + "\\fR, ";
    }
    head += "\\fB" + Roff(std::string("--") + option.name, true) + "\\fR";
    if (option.arg == Arg::Required) {
        head += " \\fI" + Roff(option.value) + "\\fR";
    } else if (option.arg == Arg::Optional) {
        head += "[=\\fI" + Roff(option.value) + "\\fR]";
    }
    return head;
}

std::string Upper(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The words of a bash pattern that matches the option: "-c|--config".
std::string Pattern(const Option& option)
{
    std::string pattern = std::string("--") + option.name;
    if (option.letter != 0) {
        pattern = std::string("-") + option.letter + "|" + pattern;
    }
    return pattern;
}

// What bash offers for a value of this kind.
std::string Offer(Completes completes, const char* words)
{
    switch (completes) {
    case Completes::File: return "COMPREPLY=($(compgen -f -- \"$cur\"))";
    case Completes::Folder: return "COMPREPLY=($(compgen -d -- \"$cur\"))";
    case Completes::Device:
        return "COMPREPLY=($(compgen -W \"$(ls -d /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* "
               "/dev/ttyS* 2>/dev/null)\" -- \"$cur\"))";
    case Completes::Words: return std::string("COMPREPLY=($(compgen -W \"") + words + "\" -- \"$cur\"))";
    case Completes::Zone:
        // The zone database's names: its zones and the links to them.
        return "COMPREPLY=($(compgen -W \"UTC $(awk '$1 == \"Z\" {print $2} $1 == \"L\" {print "
               "$3}' \"${TZDIR:-/usr/share/zoneinfo}/tzdata.zi\" 2>/dev/null)\" -- \"$cur\"))";
    case Completes::Nothing: break;
    }
    return "COMPREPLY=()";
}

// A section of the page's own, or a part of one.
std::string RoffSection(const Section& section)
{
    std::string text = (section.sub ? ".SS " : ".SH ") + Roff(section.title) + "\n";
    if (!section.text.empty()) {
        text += Roff(section.text) + "\n";
    }
    for (const auto& [term, meaning] : section.entries) {
        text += ".TP\n\\fB" + Roff(term, true) + "\\fR\n" + Roff(meaning) + "\n";
    }
    if (!section.verbatim.empty()) {
        text += ".PP\n.nf\n.RS 4\n" + Roff(section.verbatim, true, false) + ".RE\n.fi\n";
    }
    return text;
}

}  // namespace

std::string ManualPage(const Program& program)
{
    std::string page = ".TH " + Upper(program.name) + " 1 \"\" \"quillmarups " + Version() +
                       "\" \"User Commands\"\n";
    page += ".SH NAME\n" + program.name + " \\- " + Roff(program.title) + "\n";
    page += ".SH SYNOPSIS\n\\fB" + program.name + "\\fR " + Roff(program.synopsis, true) + "\n";
    page += ".SH DESCRIPTION\n" + Roff(program.summary) + "\n";
    if (!program.more.empty()) {
        page += ".PP\n.nf\n" + Roff(program.more, false, false) + ".fi\n";
    }
    page += ".PP\nThe full manual is " + program.name +
            ".md, with the field guide (field-guide.md), in " + kDocuments +
            " as the packages install them.\n";
    page += ".SH OPTIONS\n";
    for (const Option& option : AllOptions(program)) {
        page += ".TP\n" + RoffHead(option) + "\n" + Roff(option.help) + "\n";
    }
    if (!program.exit_statuses.empty()) {
        page += ".SH EXIT STATUS\n";
        for (const ExitStatus& status : program.exit_statuses) {
            page += ".TP\n" + Roff(status.code) + "\n" + Roff(status.meaning) + "\n";
        }
    }
    for (const Section& section : program.sections) {
        page += RoffSection(section);
    }
    std::string others;
    for (const char* tool : kTools) {
        if (program.name != tool) {
            others += (others.empty() ? "" : ",\n") + std::string("\\fB") + tool + "\\fR(1)";
        }
    }
    return page + ".SH SEE ALSO\n" + others + "\n";
}

std::string BashCompletion(const Program& program)
{
    const std::string function = "_" + program.name;
    std::string names;
    std::string values;
    for (const Option& option : AllOptions(program)) {
        names += (names.empty() ? "" : " ") + std::string("--") + option.name;
        if (option.arg == Arg::Required) {
            values += "        " + Pattern(option) + ") " + Offer(option.completes, option.words) +
                      "; return ;;\n";
        }
    }
    return "# bash completion for " + program.name + ", made from its options table.\n" +
           function + "()\n{\n" +
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
           "    # \"--name=value\" reaches bash as three words: --name, = and the value.\n"
           "    if [[ $cur == = ]]; then cur=; elif [[ $prev == = ]]; then\n"
           "        prev=${COMP_WORDS[COMP_CWORD-2]}; fi\n"
           "    case $prev in\n" +
           values +
           "    esac\n"
           "    if [[ $cur == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W \"" + names + "\" -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    " + Offer(program.operands, "") + "\n"
           "}\n"
           // Files and folders as bash shows them: "/" after a folder, to go on into it.
           "complete -o filenames -F " + function + " " + program.name + "\n";
}

}  // namespace command_line
