#include "tools/smdhost/ModuleFile.h"

#include "tools/common/ElfInfo.h"

namespace module_file {

namespace {

constexpr unsigned int kMips = 8;  // e_machine

}  // namespace

std::string OtherMachine(const std::string& path)
{
    ElfInfo module;
    ElfInfo host;
    std::string error;
    if (!ReadElfInfo(path, module, error) || !ReadElfInfo("/proc/self/exe", host, error) ||
        ElfKind(module) == ElfKind(host)) {
        return "";
    }
    const bool board = module.bits == 32 && module.little_endian && module.machine == kMips;
    return "; " + path + " is built for " + ElfKind(module) + (board ? " (the board's build)" : "") +
           ", this smdhost for " + ElfKind(host) +
           ": give the module built for this machine (make build: build/dev/quillmarups.so)" +
           (board ? ", or run the board's own smdhost on the board" : "");
}

}  // namespace module_file
