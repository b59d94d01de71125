#include "tools/common/Diagnostics.h"

#include <cstdio>

namespace diagnostics {
namespace {

std::string& Name()
{
    static std::string name = "smd";
    return name;
}

void Say(const char* level, const std::string& text)
{
    std::fprintf(stderr, "%s: %s%s\n", Name().c_str(), level, text.c_str());
}

}  // namespace

void SetProgram(const std::string& name) { Name() = name; }
const std::string& Program() { return Name(); }

void Error(const std::string& text) { Say("error: ", text); }
void Warning(const std::string& text) { Say("warning: ", text); }
void Note(const std::string& text) { Say("", text); }

}  // namespace diagnostics
