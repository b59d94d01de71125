#include "tools/smdhist/HistoryReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kReadSize = 256 * 1024;
// How often a followed file is looked at for more bytes or a rotation.
constexpr long kFollowNanoseconds = 200 * 1000 * 1000;

// Opens a history: a regular file, or a pipe or FIFO read as a stream; "-"
// is standard input. -1 with `error` set otherwise.
int OpenHistory(const std::string& path, std::string& error)
{
    if (path == "-") {
        if (isatty(STDIN_FILENO)) {
            error = "standard input is a terminal: pipe a history in, or name a file";
            return -1;
        }
        return dup(STDIN_FILENO);
    }
    // A FIFO is opened once, and waits for its writer as cat's open does: a
    // look first with a reader that does not wait would let a writer in, and
    // what it wrote would go with that reader. Anything else is opened without
    // waiting (a terminal's open can wait for its line) and then looked at.
    struct stat status {};
    const bool fifo = ::stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (fifo ? 0 : O_NONBLOCK));
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    if (fstat(fd, &status) != 0 || !(S_ISREG(status.st_mode) || S_ISFIFO(status.st_mode))) {
        error = S_ISDIR(status.st_mode) ? "a directory" : "neither a regular file nor a pipe";
        ::close(fd);
        return -1;
    }
    if (!fifo && S_ISFIFO(status.st_mode)) {
        // Made a FIFO between the look and the open: read as a stream (with no
        // writer there yet it reads as an empty one).
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    return fd;
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

// One open file and the stream of its blocks.
struct HistoryReader::Source {
    std::string path;
    int fd = -1;
    std::unique_ptr<BlockStream> stream;

    ~Source()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

HistoryReader::HistoryReader(Listener listener) : listener_(std::move(listener)) {}

// Reads what the file holds now; false on a read error.
bool HistoryReader::Drain(Source& source, Report& report)
{
    std::vector<unsigned char> buffer(kReadSize);
    for (;;) {
        const ssize_t got = ::read(source.fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            report.outcome = Outcome::Unreadable;
            report.error = std::strerror(errno);
            return false;
        }
        if (got == 0) {
            return true;
        }
        source.stream->Feed(buffer.data(), static_cast<std::size_t>(got));
        report.size += static_cast<std::uint64_t>(got);
    }
}

void HistoryReader::End(Source& source, Report& report)
{
    const std::uint64_t size = source.stream->Size();
    const std::uint64_t torn = source.stream->Finish();
    if (report.outcome == Outcome::Read && size < data_block::kSize) {
        report.outcome = Outcome::Empty;
        return;
    }
    if (torn > 0 && listener_.torn) {
        listener_.torn(source.path, size, torn);
    }
}

std::unique_ptr<BlockStream> HistoryReader::StreamOf(const std::string* path)
{
    return std::make_unique<BlockStream>(
        path, next_number_,
        [this](Entry& entry) {
            placer_.Place(entry);
            if (listener_.block) {
                listener_.block(entry);
            }
        },
        [this, path](const BlockStream::Skip& skip) {
            if (listener_.skip) {
                listener_.skip(*path, skip);
            }
        });
}

bool HistoryReader::Open(const std::string& path, Source& source, Report& report)
{
    source.path = path;
    source.fd = OpenHistory(path, report.error);
    if (source.fd < 0) {
        report.outcome = Outcome::Unreadable;
        return false;
    }
    source.stream = StreamOf(&path);
    return true;
}

HistoryReader::Report HistoryReader::Read(const std::string& path)
{
    Report report;
    Source source;
    if (!Open(path, source, report)) {
        return report;
    }
    Drain(source, report);
    End(source, report);
    return report;
}

HistoryReader::Report HistoryReader::Follow(const std::string& path,
                                            const volatile std::sig_atomic_t& stop)
{
    Report report;
    Source source;
    if (!Await(path, stop, report) || !Open(path, source, report)) {
        return report;
    }
    struct stat held {};
    fstat(source.fd, &held);
    // A pipe ends when its writer does; only a named file is watched.
    const bool watched = S_ISREG(held.st_mode) && path != "-";
    while (Drain(source, report) && watched && stop == 0) {
        struct stat now {};
        fstat(source.fd, &held);
        if (::stat(path.c_str(), &now) == 0 && !SameFile(now, held)) {
            // Rotated: the old file is complete; what was written to it since
            // the read above is read before it is left.
            std::string error;
            const int fd = OpenHistory(path, error);
            if (fd >= 0) {
                Drain(source, report);
                End(source, report);
                ::close(source.fd);
                source.fd = fd;
                source.stream = StreamOf(&path);
                Note(path + " was replaced (rotated): reading the new file from its start");
                continue;
            }
        } else if (static_cast<std::uint64_t>(held.st_size) < source.stream->Size()) {
            Note(path + " was cut short: reading it again from its start");
            ::lseek(source.fd, 0, SEEK_SET);
            source.stream = StreamOf(&path);
            continue;
        }
        Pause();
    }
    End(source, report);
    return report;
}

// A history not made yet is waited for, as `tail -F` waits; false when
// stopped first.
bool HistoryReader::Await(const std::string& path, const volatile std::sig_atomic_t& stop,
                          Report& report)
{
    struct stat status {};
    const auto missing = [&] { return ::stat(path.c_str(), &status) != 0 && errno == ENOENT; };
    if (path == "-" || !missing()) {
        return true;
    }
    Note(path + " is not there yet: waiting for it");
    while (stop == 0) {
        Pause();
        if (!missing()) {
            return true;
        }
    }
    report.outcome = Outcome::Unreadable;
    report.error = std::string(std::strerror(ENOENT)) + " (waited for it until stopped)";
    return false;
}

// Output so far goes out, and a while passes before the next look.
void HistoryReader::Pause() const
{
    if (listener_.idle) {
        listener_.idle();
    }
    const timespec pause{0, kFollowNanoseconds};
    nanosleep(&pause, nullptr);
}

void HistoryReader::Note(const std::string& text) const
{
    if (listener_.note) {
        listener_.note(text);
    }
}
