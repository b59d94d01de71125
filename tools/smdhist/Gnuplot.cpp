#include "tools/smdhist/Gnuplot.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace gnuplot {

namespace {

// The package of cmake/install-deps.sh's plot group: gnuplot without X,
// with the svg and pngcairo terminals.
constexpr const char* kPackage = "gnuplot-nox";
constexpr int kNotRun = 127;

std::string LastLine(const std::string& file)
{
    std::ifstream in(file);
    std::string last;
    for (std::string line; std::getline(in, line);) {
        if (line.find_first_not_of(" \t^") != std::string::npos) {
            last = line;
        }
    }
    return last;
}

}  // namespace

bool Found()
{
    const char* path = std::getenv("PATH");
    const std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (std::size_t at = 0; at <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', at), dirs.size());
        const std::string dir = end > at ? dirs.substr(at, end - at) : ".";
        if (access((dir + "/gnuplot").c_str(), X_OK) == 0) {
            return true;
        }
        at = end + 1;
    }
    return false;
}

std::string Missing()
{
    return std::string("gnuplot is not installed: install the Debian package ") + kPackage +
           " (as root: apt-get install " + kPackage + ")";
}

std::string Run(const std::string& dir, const std::string& script)
{
    const std::string log = dir + "/gnuplot.log";
    const pid_t child = fork();
    if (child < 0) {
        return "cannot start gnuplot";
    }
    if (child == 0) {
        if (chdir(dir.c_str()) == 0 && std::freopen(log.c_str(), "w", stdout) != nullptr &&
            dup2(STDOUT_FILENO, STDERR_FILENO) >= 0) {
            execlp("gnuplot", "gnuplot", script.c_str(), static_cast<char*>(nullptr));
        }
        _exit(kNotRun);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return "gnuplot was lost";
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kNotRun) {
        return Missing();
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return "gnuplot failed: " + LastLine(log);
    }
    return "";
}

}  // namespace gnuplot
