#include "tools/smdhost/LineFeed.h"

#include <cstring>

namespace line_feed {

std::size_t PieceLength(const unsigned char* bytes, std::size_t count)
{
    const void* end = std::memchr(bytes, '\n', count);
    return end == nullptr ? count
                          : static_cast<std::size_t>(static_cast<const unsigned char*>(end) -
                                                     bytes) + 1;
}

}  // namespace line_feed
