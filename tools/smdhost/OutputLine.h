#pragma once

#include <string>

// Writes one line of an output whole. A reader that has gone (EPIPE: the end
// of `smdhost | head`) asks the host to stop, as a signal does, so that the
// host ends between two cycles, never between the writes of one; any other
// failure leaves the output quiet.
void WriteOutputLine(int fd, const std::string& line);
