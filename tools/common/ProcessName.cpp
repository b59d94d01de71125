#include "tools/common/ProcessName.h"

#include <fstream>

namespace process_name {

std::string Of(pid_t pid)
{
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "a process" : name;
}

std::string Described(pid_t pid) { return Of(pid) + " (pid " + std::to_string(pid) + ")"; }

}  // namespace process_name
