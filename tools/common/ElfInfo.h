#pragma once

#include <string>
#include <vector>

// What a program or module file says of itself without being loaded: its
// class, byte order and machine from the ELF header, and the texts of its
// .comment section, where the module keeps its version.
struct ElfInfo {
    int bits = 0;  // 32 or 64
    bool little_endian = true;
    unsigned int machine = 0;           // e_machine: 8 MIPS, 62 x86-64, ...
    std::vector<std::string> comments;  // .comment, one text each
};

// Reads `path`; false, with `error` saying why, when it is no ELF file or
// cannot be read.
bool ReadElfInfo(const std::string& path, ElfInfo& info, std::string& error);

// "32-bit little-endian MIPS", "64-bit little-endian x86-64".
std::string ElfKind(const ElfInfo& info);

// The module's version ("quillmarups 1.2.0"), or "" when it carries none.
std::string ModuleVersion(const ElfInfo& info);

// The version the module file at `path` carries, read without loading it; ""
// when it carries none or is no ELF file.
std::string ModuleFileVersion(const std::string& path);
