#pragma once

#include <string>

// The values of a data answer the module took, read as its conversion reads
// them (std::stof in the "C" locale): the longest number at the start of a
// value's text is stored and the rest is ignored ("230.5V" and "230,5" store
// 230.5 and 230), and "nan", "inf" and "NAN(123)" are numbers to it. The
// module does so as the controller's conversion does; the host names such a
// value, so that it is not taken for what the UPS meant.
namespace answer_values {

// Each value of the data answer `answer` that was a number only in part or
// is not finite, with what the module stored, joined by "; ":
//   DVIA "230.5V" stored as 230.5 (only "230.5" of it is a number)
//   DTMP "nan" stored as nan (no finite number)
// "" when every value is a finite number whole.
std::string Unusual(const std::string& answer);

}  // namespace answer_values
