#include "tools/common/ElfInfo.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>

namespace {

// The most of one part (the section table, the section names, .comment) that
// is read: a module's are a few kilobytes.
constexpr std::uint64_t kMostPart = 4u << 20;

// A field of `size` bytes at `offset` of `bytes`, in the file's byte order; 0 past the end.
std::uint64_t Field(const std::string& bytes, std::uint64_t offset, int size, bool little)
{
    if (offset + size > bytes.size()) {
        return 0;
    }
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[offset + (little ? i : size - 1 - i)]);
        value |= std::uint64_t{byte} << (8 * i);
    }
    return value;
}

// The parts of a file the reading needs, read where they stand: smdhost reads
// its module at every start, on a board too, and the whole file would cost
// its size in memory and time.
class FileParts {
public:
    explicit FileParts(const std::string& path) : in_(path, std::ios::binary)
    {
        in_.seekg(0, std::ios::end);
        size_ = in_ ? static_cast<std::uint64_t>(in_.tellg()) : 0;
    }

    bool IsOpen() const { return in_.is_open(); }

    // `size` bytes at `offset`; "" when they are not all in the file or too many.
    std::string At(std::uint64_t offset, std::uint64_t size)
    {
        if (size > kMostPart || offset > size_ || size > size_ - offset) {
            return "";
        }
        std::string bytes(static_cast<std::size_t>(size), '\0');
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        in_.read(&bytes[0], static_cast<std::streamsize>(size));
        return in_.gcount() == static_cast<std::streamsize>(size) ? bytes : "";
    }

private:
    std::ifstream in_;
    std::uint64_t size_ = 0;
};

struct Section {
    std::uint64_t name;
    std::uint64_t offset;
    std::uint64_t size;
};

// Section `index` of the section table `table`, for the two classes' layouts.
Section SectionAt(const std::string& table, const ElfInfo& info, std::uint64_t entry_size,
                  std::uint64_t index)
{
    const std::uint64_t at = index * entry_size;
    const bool le = info.little_endian;
    if (info.bits == 32) {
        return {Field(table, at, 4, le), Field(table, at + 16, 4, le), Field(table, at + 20, 4, le)};
    }
    return {Field(table, at, 4, le), Field(table, at + 24, 8, le), Field(table, at + 32, 8, le)};
}

// The NUL-separated texts of `text`, each added to `comments`.
void AddTexts(const std::string& text, std::vector<std::string>& comments)
{
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\0', start), text.size());
        if (end > start) {
            comments.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
}

void ReadComments(FileParts& file, const std::string& header, ElfInfo& info)
{
    const bool le = info.little_endian;
    const bool wide = info.bits == 64;
    const std::uint64_t table_at = Field(header, wide ? 40 : 32, wide ? 8 : 4, le);
    const std::uint64_t entry_size = Field(header, wide ? 58 : 46, 2, le);
    const std::uint64_t count = Field(header, wide ? 60 : 48, 2, le);
    const std::uint64_t names_index = Field(header, wide ? 62 : 50, 2, le);
    if (table_at == 0 || entry_size == 0 || names_index >= count) {
        return;
    }
    const std::string table = file.At(table_at, count * entry_size);
    const Section names_section = SectionAt(table, info, entry_size, names_index);
    const std::string names = file.At(names_section.offset, names_section.size);
    for (std::uint64_t i = 0; i < count && !table.empty(); ++i) {
        const Section section = SectionAt(table, info, entry_size, i);
        if (section.name >= names.size() || names.compare(section.name, 9, ".comment\0", 9) != 0) {
            continue;
        }
        AddTexts(file.At(section.offset, section.size), info.comments);
    }
}

}  // namespace

bool ReadElfInfo(const std::string& path, ElfInfo& info, std::string& error)
{
    FileParts file(path);
    if (!file.IsOpen()) {
        error = std::strerror(errno);
        return false;
    }
    std::string header = file.At(0, 64);
    if (header.empty()) {
        header = file.At(0, 52);  // the smallest header, of a 32-bit file
    }
    if (header.size() < 52 || header.compare(0, 4, "\x7f" "ELF") != 0 ||
        (header[4] != 1 && header[4] != 2) || (header[5] != 1 && header[5] != 2)) {
        error = "it is no ELF file";
        return false;
    }
    info = ElfInfo{};
    info.bits = header[4] == 1 ? 32 : 64;
    info.little_endian = header[5] == 1;
    info.machine = static_cast<unsigned int>(Field(header, 18, 2, info.little_endian));
    ReadComments(file, header, info);
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
