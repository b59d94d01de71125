#include "tools/smdhost/ModuleFile.h"

#include <elf.h>

#include <cstdint>
#include <fstream>

namespace module_file {

namespace {

struct Machine {
    int bits = 0;           // 32 or 64
    std::uint16_t code = 0;  // e_machine
};

bool ReadMachine(const std::string& path, Machine& machine)
{
    unsigned char header[EI_NIDENT + 4] = {};
    std::ifstream file(path, std::ios::binary);
    if (!file.read(reinterpret_cast<char*>(header), sizeof(header)) ||
        header[EI_MAG0] != ELFMAG0 || header[EI_MAG1] != ELFMAG1 || header[EI_MAG2] != ELFMAG2 ||
        header[EI_MAG3] != ELFMAG3) {
        return false;
    }
    machine.bits = header[EI_CLASS] == ELFCLASS64 ? 64 : 32;
    // e_type, then e_machine, in the file's own byte order.
    const bool little = header[EI_DATA] == ELFDATA2LSB;
    const unsigned char* code = header + EI_NIDENT + 2;
    machine.code = little ? static_cast<std::uint16_t>(code[0] | code[1] << 8)
                          : static_cast<std::uint16_t>(code[1] | code[0] << 8);
    return true;
}

std::string Name(const Machine& machine)
{
    std::string name;
    switch (machine.code) {
    case EM_X86_64: name = "x86-64"; break;
    case EM_386: name = "x86"; break;
    case EM_MIPS: name = "MIPS"; break;
    case EM_ARM: name = "ARM"; break;
    case EM_AARCH64: name = "ARM64"; break;
    default: name = "machine " + std::to_string(machine.code); break;
    }
    return std::to_string(machine.bits) + "-bit " + name;
}

}  // namespace

std::string OtherMachine(const std::string& path)
{
    Machine module;
    Machine host;
    if (!ReadMachine(path, module) || !ReadMachine("/proc/self/exe", host) ||
        (module.bits == host.bits && module.code == host.code)) {
        return "";
    }
    const bool board = module.bits == 32 && module.code == EM_MIPS;
    return "; " + path + " is built for " + Name(module) + (board ? " (the board's build)" : "") +
           ", this smdhost for " + Name(host) +
           ": give the module built for this machine (make build: build/dev/quillmarups.so)" +
           (board ? ", or run the board's own smdhost on the board" : "");
}

}  // namespace module_file
