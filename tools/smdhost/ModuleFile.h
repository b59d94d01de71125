#pragma once

#include <string>

// A module file built for another machine than the one the host runs on:
// the loader says only "wrong ELF class: ELFCLASS32"; this says which build
// it is and which to use.
namespace module_file {

// "; build/mipsel/quillmarups.so is built for 32-bit MIPS, this smdhost for
// 64-bit x86-64: ..." when the module's ELF header names another class or
// machine than the host's own; "" otherwise.
std::string OtherMachine(const std::string& path);

}  // namespace module_file
