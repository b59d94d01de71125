#include "tools/smdhost/InstalledModule.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#ifndef QUILL_MODULE_FROM_BIN
#error "QUILL_MODULE_FROM_BIN: the installed module relative to the installed programs"
#endif

namespace installed_module {

namespace {

// The build folder's layout: bin/smdhost beside quillmarups.so.
constexpr const char* kBuilt = "../quillmarups.so";

// The folder of the running program's own file, links resolved.
std::string ProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) {
        return "";
    }
    const std::string program(path, static_cast<std::size_t>(length));
    return program.substr(0, program.rfind('/'));
}

}  // namespace

std::vector<std::string> Candidates()
{
    const std::string folder = ProgramFolder();
    if (folder.empty()) {
        return {};
    }
    std::vector<std::string> candidates;
    for (const char* relative : {QUILL_MODULE_FROM_BIN, kBuilt}) {
        candidates.push_back(std::filesystem::path(folder + "/" + relative).lexically_normal());
    }
    return candidates;
}

std::string Find()
{
    for (const std::string& candidate : Candidates()) {
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            return candidate;
        }
    }
    return "";
}

}  // namespace installed_module
