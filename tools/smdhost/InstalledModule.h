#pragma once

#include <string>
#include <vector>

// The module a host runs when none is named: the one installed beside the
// program, as the packages lay them out (/usr/bin/smdhost and
// /usr/lib/smd/modules/quillmarups.so), or the one built beside it in a
// build folder (bin/smdhost and quillmarups.so). Found from the program's own
// file, so a link to it (/lib/nut/smdhost) finds the same module.
namespace installed_module {

// Where the module is looked for, first first.
std::vector<std::string> Candidates();

// The first candidate that is a file; "" when there is none.
std::string Find();

}  // namespace installed_module
