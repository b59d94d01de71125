#pragma once

#include <cstddef>

// Bytes the host gathered while the line ran, handed to the driver as the
// line brought them: the driver looks at its count of lines whenever what it
// holds ends at a line end, so every piece it is given ends at one.
namespace line_feed {

// The length of the first piece of `bytes`: up to and with the first LF (a
// line ends in CR LF; a piece may end at a lone LF too, which the driver
// passes over), or all of them when none comes.
std::size_t PieceLength(const unsigned char* bytes, std::size_t count);

}  // namespace line_feed
