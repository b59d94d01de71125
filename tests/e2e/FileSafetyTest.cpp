// Whoever can write into the state folder (or the folder of a trace) must not
// be able to make the bench host write anywhere else: each attack is refused
// with a message that names the file and what it is, and its target stays as
// it was. No row needs root.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/HostFixture.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;

constexpr const char* kPrecious = "precious, not the host's\n";

struct Attack {
    const char* name;
    // Lays the trap in the state folder; `victim` is a file outside it.
    std::function<void(const std::string& state, const std::string& victim)> lay;
    std::vector<std::string> options;
    int status;
    std::string said;  // "" for a trap that the host never walks into
};

void Link(const std::string& target, const std::string& path) { fs::create_symlink(target, path); }

const Attack kAttacks[] = {
    {"symlinked_cache",
     [](const std::string& state, const std::string& victim) { Link(victim, state + "/42.cache"); },
     {}, 3, "42.cache: it is a symbolic link, not a regular file (to "},
    {"symlinked_temporary_name_of_the_cache",
     [](const std::string& state, const std::string& victim) {
         Link(victim, state + "/42.cache.new");
         Link(victim, state + "/.42.cache.tmp-000000000000");
     },
     {}, 0, ""},
    {"symlinked_history",
     [](const std::string& state, const std::string& victim) {
         Link(victim, state + "/42.history");
     },
     {}, 3, "42.history: it is a symbolic link, not a regular file (to "},
    {"history_that_is_a_fifo",
     [](const std::string& state, const std::string&) {
         mkfifo((state + "/42.history").c_str(), 0644);
     },
     {}, 3, "42.history: it is a FIFO, not a regular file"},
    {"history_that_is_a_folder",
     [](const std::string& state, const std::string&) { fs::create_directory(state + "/42.history"); },
     {}, 3, "42.history: it is a folder, not a regular file"},
    {"history_hard_linked_to_another_file",
     [](const std::string& state, const std::string& victim) {
         fs::create_hard_link(victim, state + "/42.history");
     },
     {}, 3, "42.history: it has 2 names (a hard link)"},
    {"world_writable_state_folder",
     [](const std::string& state, const std::string&) {
         fs::permissions(state, fs::perms::all);
     },
     {}, 2, "others can write to it (mode 0777, no sticky bit)"},
    {"world_writable_state_folder_accepted_on_request",
     [](const std::string& state, const std::string&) {
         fs::permissions(state, fs::perms::all);
     },
     {"--allow-shared-state-dir"}, 0, ""},
    {"symlinked_trace_file",
     [](const std::string& state, const std::string& victim) { Link(victim, state + "/trace"); },
     {"--trace=STATE/trace"}, 2, "trace: it is a symbolic link, not a regular file (to "},
    {"symlinked_module_output",
     [](const std::string& state, const std::string& victim) { Link(victim, state + "/lines"); },
     {"--module-output", "STATE/lines"}, 2,
     "lines: it is a symbolic link, not a regular file (to "},
};

class FileAttacks : public EndToEnd, public ::testing::WithParamInterface<Attack> {};

TEST_P(FileAttacks, AreRefusedByNameAndTheTargetIsUntouched)
{
    const Attack& attack = GetParam();
    const std::string victim = dir + "/victim";
    fs::create_directories(state);
    std::ofstream(victim) << kPrecious;
    attack.lay(state, victim);
    StartSim(R"({"steps": [{"name": "on line"}]})");

    std::vector<std::string> options;
    for (std::string option : attack.options) {
        const std::size_t at = option.find("STATE");
        options.push_back(at == std::string::npos ? option : option.replace(at, 5, state));
    }
    Events events;
    EXPECT_EQ(RunHost(WriteConfig(2.0), 2, events, options), attack.status) << Errors();

    if (!attack.said.empty()) {
        bool said = Errors().find(attack.said) != std::string::npos;
        for (const Json::Value& error : Of(events, "error")) {
            said = said || error["detail"].asString().find(attack.said) != std::string::npos;
        }
        EXPECT_TRUE(said) << attack.said << "\n" << Errors();
    }
    EXPECT_EQ(ReadFile(victim), kPrecious);
}

void PrintTo(const Attack& attack, std::ostream* out) { *out << attack.name; }

INSTANTIATE_TEST_SUITE_P(Table, FileAttacks, ::testing::ValuesIn(kAttacks),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
