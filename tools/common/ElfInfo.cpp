#include "tools/common/ElfInfo.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>

namespace {

constexpr std::size_t kMostRead = 64u << 20;  // a module is far smaller

// A field of `size` bytes at `offset`, in the file's byte order; 0 past the end.
std::uint64_t Field(const std::string& file, std::uint64_t offset, int size, bool little)
{
    if (offset + size > file.size()) {
        return 0;
    }
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(file[offset + (little ? i : size - 1 - i)]);
        value |= std::uint64_t{byte} << (8 * i);
    }
    return value;
}

struct Section {
    std::uint64_t name;
    std::uint64_t offset;
    std::uint64_t size;
};

// Section `index` of the table, for the two classes' layouts.
Section SectionAt(const std::string& file, const ElfInfo& info, std::uint64_t table,
                  std::uint64_t entry_size, std::uint64_t index)
{
    const std::uint64_t at = table + index * entry_size;
    const bool le = info.little_endian;
    if (info.bits == 32) {
        return {Field(file, at, 4, le), Field(file, at + 16, 4, le), Field(file, at + 20, 4, le)};
    }
    return {Field(file, at, 4, le), Field(file, at + 24, 8, le), Field(file, at + 32, 8, le)};
}

void ReadComments(const std::string& file, ElfInfo& info)
{
    const bool le = info.little_endian;
    const bool wide = info.bits == 64;
    const std::uint64_t table = Field(file, wide ? 40 : 32, wide ? 8 : 4, le);
    const std::uint64_t entry_size = Field(file, wide ? 58 : 46, 2, le);
    const std::uint64_t count = Field(file, wide ? 60 : 48, 2, le);
    const std::uint64_t names_index = Field(file, wide ? 62 : 50, 2, le);
    if (table == 0 || entry_size == 0 || names_index >= count) {
        return;
    }
    const Section names = SectionAt(file, info, table, entry_size, names_index);
    for (std::uint64_t i = 0; i < count; ++i) {
        const Section section = SectionAt(file, info, table, entry_size, i);
        const std::uint64_t name_at = names.offset + section.name;
        if (name_at >= file.size() || file.compare(name_at, 9, ".comment\0", 9) != 0 ||
            section.offset + section.size > file.size()) {
            continue;
        }
        const std::string text = file.substr(section.offset, section.size);
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = std::min(text.find('\0', start), text.size());
            if (end > start) {
                info.comments.push_back(text.substr(start, end - start));
            }
            start = end + 1;
        }
    }
}

}  // namespace

bool ReadElfInfo(const std::string& path, ElfInfo& info, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::strerror(errno);
        return false;
    }
    // As much as the file holds: smdhost reads its module at every start,
    // on a board too, where a buffer of the most would be resident memory.
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    std::string file;
    file.resize(static_cast<std::size_t>(std::max<std::streamoff>(
        0, std::min<std::streamoff>(size, static_cast<std::streamoff>(kMostRead)))));
    in.read(&file[0], static_cast<std::streamsize>(file.size()));
    file.resize(static_cast<std::size_t>(in.gcount()));
    if (file.size() < 52 || file.compare(0, 4, "\x7f" "ELF") != 0 || (file[4] != 1 && file[4] != 2) ||
        (file[5] != 1 && file[5] != 2)) {
        error = "it is no ELF file";
        return false;
    }
    info = ElfInfo{};
    info.bits = file[4] == 1 ? 32 : 64;
    info.little_endian = file[5] == 1;
    info.machine = static_cast<unsigned int>(Field(file, 18, 2, info.little_endian));
    ReadComments(file, info);
    return true;
}

std::string ElfKind(const ElfInfo& info)
{
    struct Machine {
        unsigned int number;
        const char* name;
    };
    static const Machine kMachines[] = {
        {3, "x86"}, {8, "MIPS"}, {20, "PowerPC"}, {40, "ARM"}, {62, "x86-64"}, {183, "AArch64"},
        {243, "RISC-V"},
    };
    std::string machine = "machine " + std::to_string(info.machine);
    for (const Machine& known : kMachines) {
        if (known.number == info.machine) {
            machine = known.name;
        }
    }
    return std::to_string(info.bits) + "-bit " + (info.little_endian ? "little" : "big") +
           "-endian " + machine;
}

std::string ModuleVersion(const ElfInfo& info)
{
    for (const std::string& comment : info.comments) {
        if (comment.rfind("quillmarups ", 0) == 0) {
            return comment;
        }
    }
    return "";
}

std::string ModuleFileVersion(const std::string& path)
{
    ElfInfo info;
    std::string error;
    return ReadElfInfo(path, info, error) ? ModuleVersion(info) : "";
}
