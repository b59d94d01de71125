#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/DataBlock.h"

// One stored block as read back, with where it was found and what is wrong
// with it, if anything.
struct Entry {
    std::uint64_t number = 0;  // from 1, over every file read, in order
    const std::string* file = nullptr;
    std::uint64_t offset = 0;  // of its first byte in the file
    data_block::Decoded block;
    // Set by the reader, which places the stamp in the zone (StampPlacer.h).
    std::optional<std::int64_t> epoch;  // none when the stamp is impossible
    std::optional<long> utc_offset;     // none too where the zone cannot place it
    std::string damage;                 // empty for a sound block

    bool Sound() const { return damage.empty(); }
};

// "block 17 (byte 1216 of FILE)": where an entry came from, for messages.
std::string Where(const Entry& entry);

// The bytes of one history as they arrive (from a file, a pipe, or a file
// still being appended to) cut into 76-byte blocks. Where a block at the
// expected place is no block the module can have stored, the stream looks
// for the next offset at which whole plausible blocks follow again (flags 0
// or 1, possible time stamps in order, one data identifier): the next block
// of the device whose block came last, or a run of a few such blocks. It goes
// on from there: bytes lost or inserted cost only the blocks they touch.
// Where whole blocks go on right after it, or nothing follows, a block that
// is no block is shown as a block of the history damaged where it stands when
// it is of the device's data identifier, and skipped as something else (junk
// appended to a history) when it is not. Bytes held undecided stay within a
// bounded window.
class BlockStream {
public:
    // Bytes [from, to) of the file that hold no whole block and were skipped.
    struct Skip {
        std::uint64_t from = 0;
        std::uint64_t to = 0;
        bool to_end = false;  // nothing whole follows: the rest of the file is no block
    };

    using BlockSink = std::function<void(Entry&)>;
    using SkipSink = std::function<void(const Skip&)>;

    // `file` names the source in the entries and must outlive them;
    // `next_number` numbers the blocks and goes on over several streams.
    BlockStream(const std::string* file, std::uint64_t& next_number, BlockSink blocks,
                SkipSink skips);

    // Takes the next bytes and hands on every block that can be decided.
    void Feed(const unsigned char* data, std::size_t len);

    // No more bytes come: decides the rest. Answers the bytes after the last
    // whole block, which were ignored (a write cut short).
    std::uint64_t Finish();

    // Bytes taken so far.
    std::uint64_t Size() const { return base_ + (held_.size() - head_); }
    // Bytes taken but not yet decided (a block still being written).
    std::size_t Undecided() const { return held_.size() - head_; }

private:
    void Decide(bool at_end);
    bool Follows(std::size_t at) const;
    bool RunAt(std::size_t at, std::size_t blocks) const;
    std::size_t Earliest(std::size_t found) const;
    std::size_t NotBlocks(std::size_t found, bool at_end) const;
    void Emit(const data_block::Decoded& block);
    void Advance(std::size_t bytes);

    const std::string* file_;
    std::uint64_t& next_number_;
    BlockSink blocks_;
    SkipSink skips_;
    std::vector<unsigned char> held_;
    std::size_t head_ = 0;        // the first undecided byte in held_
    std::uint64_t base_ = 0;      // the file offset of held_[head_]
    std::uint64_t searched_ = 0;  // file offsets below this hold no run of blocks
    std::optional<data_block::Decoded> last_sound_;
};

// What makes a block one the module cannot have stored (a flag other than 0
// or 1, a time stamp no clock shows), named; empty for a plausible block.
std::string DamageOf(const data_block::Decoded& block);
