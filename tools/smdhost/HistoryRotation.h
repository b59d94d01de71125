#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "tools/common/SafeFile.h"

// A history kept within a size on a board's flash: when the next block would
// take "<data_id>.history" past its limit, the file becomes
// "<data_id>.history.1" (replacing the one before, whole, by a rename) and a
// new, empty history takes the block. Both files only ever hold whole blocks,
// so the pair read in order is the history without a gap; at most the limit
// twice is kept.
namespace history_rotation {

// The limit in whole blocks of `block_size`: `max_bytes` rounded down; 0 for
// no limit.
std::uint64_t WholeBlocks(std::uint64_t max_bytes, std::size_t block_size);

// True when `len` more bytes would take a history of `size` past `limit`.
bool Due(off_t size, std::size_t len, std::uint64_t limit);

// Renames `name` to `name`.1 in the folder, over an older one, and flushes
// the folder; answers the new name's path, "" with `error` set.
std::string Rotate(const safe_file::Folder& folder, const std::string& name,
                   safe_file::Error& error);

}  // namespace history_rotation
