// The options table every tool is read through: one definition gives the
// parsing and the help.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimOptions.h"
#include "tools/common/CommandLine.h"
#include "tools/smdhost/HostOptions.h"

namespace {

using command_line::Arg;

enum { kAllowShared = 1000 };

const command_line::Program& Table()
{
    static const command_line::Program program{
        "tool",
        "[options] FILE...",
        "a tool for the tests",
        "A tool whose options stand for every kind of option.",
        {
            {'c', "config", 'c', Arg::Required, "FILE", "The configuration."},
            {'j', "json", 'j', Arg::None, nullptr, "JSON."},
            {'t', "trace", 't', Arg::Optional, "FILE", "Trace, to FILE when given."},
            {kAllowShared, "allow-shared-state-dir", 0, Arg::None, nullptr,
             "A help text long enough to be wrapped onto a second line of the help, which "
             "never runs past eighty columns."},
        },
        {{"0", "done"}, {"2", "bad options"}},
        "",
    };
    return program;
}

struct Parsed {
    std::vector<std::pair<int, std::string>> options;
    std::vector<std::string> operands;
};

Parsed ParseWords(std::vector<std::string> words)
{
    words.insert(words.begin(), "tool");
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    Parsed parsed;
    parsed.operands = command_line::Parse(
        static_cast<int>(words.size()), argv.data(), Table(),
        [&](int id, const char* value) { parsed.options.emplace_back(id, value ? value : "-"); });
    return parsed;
}

using Seen = std::vector<std::pair<int, std::string>>;

TEST(CommandLine, EveryWayOfWritingAnOptionReadsTheSame)
{
    struct Case {
        std::vector<std::string> words;
        Seen options;
        std::vector<std::string> operands;
    } cases[] = {
        {{"-c", "a.json", "f"}, {{'c', "a.json"}}, {"f"}},
        {{"--config=a.json"}, {{'c', "a.json"}}, {}},
        {{"-ca.json", "-j"}, {{'c', "a.json"}, {'j', "-"}}, {}},
        {{"-jc", "a.json"}, {{'j', "-"}, {'c', "a.json"}}, {}},
        // An optional value: after "=", stuck to the letter, or the next word
        // when that is no option.
        {{"--trace=t.log"}, {{'t', "t.log"}}, {}},
        {{"-tt.log"}, {{'t', "t.log"}}, {}},
        {{"--trace", "t.log"}, {{'t', "t.log"}}, {}},
        {{"--trace", "-j"}, {{'t', "-"}, {'j', "-"}}, {}},
        {{"--allow-shared-state-dir", "--", "-j"}, {{kAllowShared, "-"}}, {"-j"}},
        // A value that starts with "-" but is no option of the program, or
        // one given with "=".
        {{"-c", "-2h"}, {{'c', "-2h"}}, {}},
        {{"--config=-j"}, {{'c', "-j"}}, {}},
    };
    for (const Case& c : cases) {
        const Parsed parsed = ParseWords(c.words);
        EXPECT_EQ(parsed.options, c.options) << c.words.front();
        EXPECT_EQ(parsed.operands, c.operands) << c.words.front();
    }
}

TEST(CommandLine, MistakesEndWithStatus2AndSayWhat)
{
    const std::pair<std::vector<std::string>, std::string> mistakes[] = {
        {{"--jsn"}, "tool: error: unknown option --jsn; did you mean --json\\? \\(tool --help"},
        {{"-x"}, "tool: error: unknown option -x \\("},
        {{"--config"}, "tool: error: --config needs a value"},
        {{"-j", "-c"}, "tool: error: -c needs a value"},
        // The value forgotten: the next option is not taken for it.
        {{"--config", "-j", "a.json"},
         "tool: error: --config needs a value, not the option -j \\(write --config=-j if"},
        {{"-c", "--trace=t.log"},
         "tool: error: --config needs a value, not the option --trace=t.log"},
    };
    for (const auto& [words, message] : mistakes) {
        EXPECT_EXIT(ParseWords(words), testing::ExitedWithCode(2), message);
    }
}

// Reads `words` after the program's name with `read`, as main() would.
template <typename Read>
void ReadAs(Read read, const char* program, std::vector<std::string> words)
{
    words.insert(words.begin(), program);
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    read(static_cast<int>(argv.size()), argv.data());
}

// The programs' own readings of a value, each mistake with what was meant.
TEST(CommandLine, ProgramsSayWhatAValueShouldHaveBeen)
{
    const auto host = [](std::vector<std::string> words) {
        ReadAs(ReadHostOptions, "smdhost", std::move(words));
    };
    const auto sim = [](std::vector<std::string> words) {
        ReadAs(ReadSimOptions, "upssim", std::move(words));
    };
    EXPECT_EXIT(host({"--port", "-s", "DIR"}), testing::ExitedWithCode(2),
                "smdhost: error: --port needs a value, not the option -s");
    EXPECT_EXIT(sim({"--baud", "0"}), testing::ExitedWithCode(2),
                "upssim: error: not a line speed: 0 "
                "\\(one of [0-9, ]*2400, [0-9, ]*115200 bit/s\\)");
    EXPECT_EXIT(sim({"--fault", "nois"}), testing::ExitedWithCode(2),
                "upssim: error: no such fault: nois; did you mean noise\\?");
    EXPECT_EXIT(sim({"--fault", "noise=nan"}), testing::ExitedWithCode(2),
                "upssim: error: not a rate from 0 to 1: nan");
}

TEST(CommandLine, HelpAndVersionAnswerAndEndWithStatus0)
{
    EXPECT_EXIT(ParseWords({"--version"}), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(ParseWords({"-h"}), testing::ExitedWithCode(0), "");
}

TEST(CommandLine, HelpNamesEveryOptionWithinEightyColumns)
{
    const std::string help = command_line::Help(Table());
    for (const auto& option : command_line::AllOptions(Table())) {
        EXPECT_NE(help.find(std::string("--") + option.name), std::string::npos) << option.name;
    }
    EXPECT_NE(help.find("  -t, --trace[=FILE]"), std::string::npos);
    // A name too long for its column gets a line of its own.
    EXPECT_NE(help.find("--allow-shared-state-dir\n"), std::string::npos);
    EXPECT_NE(help.find("exit status: 0 done; 2 bad options"), std::string::npos);
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
    }
}

TEST(CommandLine, ManualPagePointsAtTheInstalledManualsAndSetsItsOwnSections)
{
    command_line::Program program = Table();
    program.sections = {
        {"EXAMPLES", "", {{"--config FILE", "what it does"}}, ".hidden\n  tool -j\n"}};
    const std::string page = command_line::ManualPage(program);
    EXPECT_NE(page.find(std::string("in ") + command_line::kDocuments), std::string::npos) << page;
    EXPECT_NE(page.find(".SH EXAMPLES\n.TP\n\\fB\\-\\-config FILE\\fR\nwhat it does\n"),
              std::string::npos)
        << page;
    // A line of its own that starts with a dot is no request.
    EXPECT_NE(page.find("\n\\&.hidden\n  tool \\-j\n"), std::string::npos) << page;
}

TEST(CommandLine, CompletionShowsFoldersAsFoldersToGoOnInto)
{
    EXPECT_NE(command_line::BashCompletion(Table()).find("complete -o filenames -F _tool tool\n"),
              std::string::npos);
}

}  // namespace
