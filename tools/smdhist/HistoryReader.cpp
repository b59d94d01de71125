#include "tools/smdhist/HistoryReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/smdhist/HistTime.h"

namespace {

constexpr std::size_t kBlocksPerRead = 4096;

// What makes a block one the module cannot have stored: a flag other than 0
// or 1, a time stamp no clock shows.
std::string Damage(const data_block::Decoded& block)
{
    std::string damage;
    for (std::size_t i = 0; i < data_block::kFlags; ++i) {
        if (block.flags[i] > 1) {
            damage += (damage.empty() ? "" : "; ") + std::string("flag ") +
                      ups_protocol::kStatusFields[i].tag + " is " +
                      std::to_string(block.flags[i]);
        }
    }
    if (!data_block::IsPossible(block.time_stamp)) {
        damage += (damage.empty() ? "" : "; ") + std::string("impossible time stamp ") +
                  data_block::IsoTime(block.time_stamp);
    }
    return damage;
}

// Opens a regular file for reading; -1 with `error` set otherwise.
int OpenRegular(const std::string& path, std::string& error)
{
    // Not blocking: a FIFO at the path must not hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = S_ISDIR(status.st_mode) ? "a directory" : "not a regular file";
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::string Where(const Entry& entry)
{
    return "block " + std::to_string(entry.number) + " (byte " + std::to_string(entry.offset) +
           " of " + *entry.file + ")";
}

void HistoryReader::Emit(const unsigned char* data, const std::string& path,
                         std::uint64_t offset, const Sink& sink)
{
    Entry entry;
    entry.number = next_number_++;
    entry.file = &path;
    entry.offset = offset;
    data_block::Decode(data, data_block::kSize, entry.block);
    entry.epoch = hist_time::Epoch(entry.block.time_stamp);
    entry.damage = Damage(entry.block);
    sink(entry);
}

HistoryReader::Report HistoryReader::Read(const std::string& path, const Sink& sink)
{
    Report report;
    const int fd = OpenRegular(path, report.error);
    if (fd < 0) {
        report.outcome = Outcome::Unreadable;
        return report;
    }
    std::vector<unsigned char> buffer(kBlocksPerRead * data_block::kSize);
    std::size_t held = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data() + held, buffer.size() - held);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            report.outcome = Outcome::Unreadable;
            report.error = std::strerror(errno);
            break;
        }
        if (got == 0) {
            break;
        }
        held += static_cast<std::size_t>(got);
        const std::size_t whole = held / data_block::kSize * data_block::kSize;
        for (std::size_t at = 0; at < whole; at += data_block::kSize) {
            Emit(buffer.data() + at, path, report.size + at, sink);
        }
        report.size += whole;
        std::memmove(buffer.data(), buffer.data() + whole, held - whole);
        held -= whole;
    }
    ::close(fd);
    report.torn_bytes = held;
    if (report.outcome == Outcome::Read && report.size == 0) {
        report.outcome = Outcome::Empty;
    }
    report.size += held;
    return report;
}

std::uint64_t HistoryReader::BlocksIn(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return 0;
    }
    return static_cast<std::uint64_t>(status.st_size) / data_block::kSize;
}
