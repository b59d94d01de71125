#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tools/smdhist/BlockStream.h"
#include "tools/smdhist/StampPlacer.h"

// Reads history and cache files, standard input ("-") and pipes as streams of
// blocks, handing each block on as it comes: a history of any length is read
// in bounded memory, each block placed in time after those before it.
// Following a file waits for it to be made and reads what is appended to it,
// across its rotation, as `tail -F` does.
class HistoryReader {
public:
    enum class Outcome {
        Read,        // at least one whole block
        Empty,       // no whole block: nothing stored yet, or cut short
        Unreadable,  // missing, neither a regular file nor a pipe, or a read error
    };

    struct Report {
        Outcome outcome = Outcome::Read;
        std::uint64_t size = 0;  // bytes read
        std::string error;       // why it is unreadable
    };

    // What reading meets besides blocks, each with the file it is in.
    struct Listener {
        BlockStream::BlockSink block;
        std::function<void(const std::string& file, const BlockStream::Skip& skip)> skip;
        // The bytes after the last whole block of a file that ended.
        std::function<void(const std::string& file, std::uint64_t size, std::uint64_t torn)> torn;
        // Something a follower should know: the file was rotated or truncated.
        std::function<void(const std::string& text)> note;
        // Called while waiting for more: the output so far should be flushed.
        std::function<void()> idle;
    };

    explicit HistoryReader(Listener listener);

    // Reads `path` ("-": standard input) to its end. `path` must outlive the
    // entries handed on.
    Report Read(const std::string& path);

    // Reads `path` to its end, then what is appended to it, until `stop` is
    // set: a path not there yet and a block still being written are waited
    // for, and when the path
    // names a new file (the old one was renamed away, as the bench host
    // rotates a history) the rest of the old one is read and the new one
    // from its start.
    Report Follow(const std::string& path, const volatile std::sig_atomic_t& stop);

private:
    struct Source;

    bool Await(const std::string& path, const volatile std::sig_atomic_t& stop, Report& report);
    bool Open(const std::string& path, Source& source, Report& report);
    std::unique_ptr<BlockStream> StreamOf(const std::string* path);
    void Pause() const;
    bool Drain(Source& source, Report& report);
    void End(Source& source, Report& report);
    void Note(const std::string& text) const;

    Listener listener_;
    StampPlacer placer_;
    std::uint64_t next_number_ = 1;
};
