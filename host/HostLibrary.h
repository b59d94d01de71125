#pragma once

#include <string>

// The file of the host library whose get_ttime this process calls: the
// stand-in host's, or whichever library the loader bound the host's symbols
// to instead.
std::string HostLibraryPath();
