#pragma once

#include <string>
#include <vector>

// The files in the order they are read: a history's rotated predecessors
// (ID.history.2, ID.history.1) just before the history itself, the highest
// number first, wherever they were given (a shell's glob gives ID.history
// first). A numbered file whose history is not given, and every other file,
// keeps its place.
std::vector<std::string> RotatedOrder(const std::vector<std::string>& files);
