#include "tools/smdhost/HistoryRotation.h"

#include <stdio.h>
#include <unistd.h>

#include <cerrno>

namespace history_rotation {

std::uint64_t WholeBlocks(std::uint64_t max_bytes, std::size_t block_size)
{
    return max_bytes - max_bytes % block_size;
}

bool Due(off_t size, std::size_t len, std::uint64_t limit)
{
    return limit > 0 && size > 0 &&
           static_cast<std::uint64_t>(size) + len > limit;
}

std::string Rotate(const safe_file::Folder& folder, const std::string& name,
                   safe_file::Error& error)
{
    const std::string kept = name + ".1";
    if (::renameat(folder.Fd(), name.c_str(), folder.Fd(), kept.c_str()) != 0) {
        safe_file::Failed(error, errno,
                          "cannot rotate " + folder.PathOf(name) + " to " + folder.PathOf(kept));
        return "";
    }
    if (::fsync(folder.Fd()) != 0) {
        safe_file::Failed(error, errno, "cannot flush the folder of " + folder.PathOf(kept));
        return "";
    }
    return folder.PathOf(kept);
}

}  // namespace history_rotation
