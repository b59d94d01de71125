#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tools/common/DataBlock.h"

// One stored block as read back, with where it was found and what is wrong
// with it, if anything.
struct Entry {
    std::uint64_t number = 0;  // from 1, over every file read, in order
    const std::string* file = nullptr;
    std::uint64_t offset = 0;  // of its first byte in the file
    data_block::Decoded block;
    std::optional<std::int64_t> epoch;  // none when the stamp is impossible
    std::string damage;                 // empty for a sound block

    bool Sound() const { return damage.empty(); }
};

// "block 17 (byte 1216 of FILE)": where an entry came from, for messages.
std::string Where(const Entry& entry);

// Reads history and cache files (whole 76-byte blocks, one after the other),
// handing each block on as it comes: a history of any length is read in
// constant memory.
class HistoryReader {
public:
    enum class Outcome {
        Read,        // at least one whole block
        Empty,       // no whole block: nothing stored yet, or cut short
        Unreadable,  // missing, not a regular file, or a read error
    };

    struct Report {
        Outcome outcome = Outcome::Read;
        std::uint64_t size = 0;        // bytes read
        std::uint64_t torn_bytes = 0;  // after the last whole block, ignored
        std::string error;             // why it is unreadable
    };

    using Sink = std::function<void(Entry&)>;

    // Reads `path`, which must outlive the entries handed to `sink`.
    Report Read(const std::string& path, const Sink& sink);

    // How many whole blocks the file holds now; 0 when it cannot be read.
    static std::uint64_t BlocksIn(const std::string& path);

private:
    void Emit(const unsigned char* data, const std::string& path, std::uint64_t offset,
              const Sink& sink);

    std::uint64_t next_number_ = 1;
};
