#include "tools/smdhist/BlockStream.h"

#include <utility>

#include "tools/smdhist/HistTime.h"

namespace {

constexpr std::size_t kBlock = data_block::kSize;
// Whole blocks that must follow a damaged stretch before reading goes on there.
constexpr std::size_t kRun = 3;
// How far past a damaged block the next run is looked for; beyond it the
// damaged stretch is taken block by block, as stored.
constexpr std::size_t kWindow = 1 << 20;

bool FlagsPlausible(const data_block::Decoded& block)
{
    for (const std::uint8_t flag : block.flags) {
        if (flag > 1) {
            return false;
        }
    }
    return true;
}

bool Plausible(const data_block::Decoded& block)
{
    return FlagsPlausible(block) && data_block::IsPossible(block.time_stamp);
}

// Whether a block the module cannot have stored is one of this history
// damaged where it stands, rather than bytes of something else: it is of the
// data identifier of the blocks around it, or, with none around, its flags or
// its stamp are as a block holds them.
bool DamagedBlock(const data_block::Decoded& block, std::optional<std::uint32_t> data_id)
{
    if (data_id) {
        return block.data_id == *data_id;
    }
    return FlagsPlausible(block) || data_block::IsPossible(block.time_stamp);
}

}  // namespace

std::string DamageOf(const data_block::Decoded& block)
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

std::string Where(const Entry& entry)
{
    return "block " + std::to_string(entry.number) + " (byte " + std::to_string(entry.offset) +
           " of " + *entry.file + ")";
}

BlockStream::BlockStream(const std::string* file, std::uint64_t& next_number, BlockSink blocks,
                         SkipSink skips)
    : file_(file), next_number_(next_number), blocks_(std::move(blocks)), skips_(std::move(skips))
{
}

void BlockStream::Feed(const unsigned char* data, std::size_t len)
{
    if (head_ > 0 && head_ >= held_.size() / 2) {
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    held_.insert(held_.end(), data, data + len);
    Decide(false);
}

std::uint64_t BlockStream::Finish()
{
    Decide(true);
    const std::uint64_t torn = Undecided();
    Advance(Undecided());
    return torn;
}

void BlockStream::Advance(std::size_t bytes)
{
    head_ += bytes;
    base_ += bytes;
}

void BlockStream::Emit(const data_block::Decoded& block)
{
    Entry entry;
    entry.number = next_number_++;
    entry.file = file_;
    entry.offset = base_;
    entry.block = block;
    entry.damage = DamageOf(entry.block);
    if (entry.Sound()) {
        last_sound_ = block;
    }
    blocks_(entry);
}

// `blocks` plausible blocks from `at`, of one data identifier, stamped in order.
bool BlockStream::RunAt(std::size_t at, std::size_t blocks) const
{
    data_block::Decoded first;
    data_block::Decode(held_.data() + at, kBlock, first);
    if (!Plausible(first)) {
        return false;
    }
    std::int64_t last = hist_time::WallSeconds(first.time_stamp);
    for (std::size_t i = 1; i < blocks; ++i) {
        data_block::Decoded next;
        data_block::Decode(held_.data() + at + i * kBlock, kBlock, next);
        if (!Plausible(next) || next.data_id != first.data_id) {
            return false;
        }
        const std::int64_t seconds = hist_time::WallSeconds(next.time_stamp);
        if (seconds < last) {
            return false;
        }
        last = seconds;
    }
    return true;
}

// A plausible block of the data identifier of the last sound block before
// the damage, stamped at or after it: what the history would hold next.
bool BlockStream::Follows(std::size_t at) const
{
    if (!last_sound_) {
        return false;
    }
    data_block::Decoded block;
    data_block::Decode(held_.data() + at, kBlock, block);
    return Plausible(block) && block.data_id == last_sound_->data_id &&
           hist_time::WallSeconds(block.time_stamp) >= hist_time::WallSeconds(last_sound_->time_stamp);
}

// A run found may have sound blocks of its own just before it (a clock set
// back delays the run's start): they are taken too.
std::size_t BlockStream::Earliest(std::size_t found) const
{
    data_block::Decoded run;
    data_block::Decode(held_.data() + head_ + found, kBlock, run);
    while (found > kBlock) {
        data_block::Decoded before;
        data_block::Decode(held_.data() + head_ + found - kBlock, kBlock, before);
        if (!Plausible(before) || before.data_id != run.data_id) {
            break;
        }
        found -= kBlock;
    }
    return found;
}

// The bytes from the first undecided one that are no block of this history,
// in whole blocks up to `found` (where whole blocks go on; 0: nowhere), and to
// the end of what was read when nothing follows them at its end.
std::size_t BlockStream::NotBlocks(std::size_t found, bool at_end) const
{
    std::optional<std::uint32_t> data_id;
    if (last_sound_) {
        data_id = last_sound_->data_id;
    } else if (found != 0) {
        data_block::Decoded next;
        data_block::Decode(held_.data() + head_ + found, kBlock, next);
        data_id = next.data_id;
    }
    const std::size_t limit = found != 0 ? found : Undecided() / kBlock * kBlock;
    std::size_t bytes = 0;
    for (; bytes < limit; bytes += kBlock) {
        data_block::Decoded block;
        data_block::Decode(held_.data() + head_ + bytes, kBlock, block);
        if (Plausible(block) || DamagedBlock(block, data_id)) {
            break;
        }
    }
    return bytes == limit && bytes > 0 && found == 0 && at_end ? Undecided() : bytes;
}

void BlockStream::Decide(bool at_end)
{
    while (Undecided() >= kBlock) {
        data_block::Decoded block;
        data_block::Decode(held_.data() + head_, kBlock, block);
        if (Plausible(block)) {
            Emit(block);
            Advance(kBlock);
            continue;
        }
        // A block that is no block: find where whole blocks follow again.
        std::size_t found = 0;
        std::size_t step = std::max<std::uint64_t>(1, searched_ > base_ ? searched_ - base_ : 1);
        for (; Undecided() >= step + kBlock; ++step) {
            if (Follows(head_ + step)) {
                found = step;
                break;
            }
            const std::size_t whole = (Undecided() - step) / kBlock;
            if (whole < kRun && !at_end) {
                break;
            }
            if (RunAt(head_ + step, std::min(whole, kRun))) {
                found = step;
                break;
            }
        }
        searched_ = base_ + step;
        if (found == 0 && !at_end && step + kRun * kBlock <= kWindow) {
            return;  // more bytes are needed to decide
        }
        if (found != 0 && found % kBlock != 0) {
            found = Earliest(found);
            skips_(Skip{base_, base_ + found, false});
            Advance(found);
            continue;
        }
        // Nothing to resume at, or whole blocks go on after whole blocks'
        // worth: blocks damaged where they stand are shown as stored, and
        // what is no block of this history is skipped.
        const std::size_t junk = NotBlocks(found, at_end);
        if (junk == 0) {
            Emit(block);
            Advance(kBlock);
            continue;
        }
        skips_(Skip{base_, base_ + junk, at_end && junk == Undecided()});
        Advance(junk);
    }
}
