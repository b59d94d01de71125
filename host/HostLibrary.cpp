#include "host/HostLibrary.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include "framework/ttime.h"

std::string HostLibraryPath()
{
    Dl_info info{};
    // The address as the process resolves the symbol, so that an interposed
    // host library is the one named.
    if (dladdr(reinterpret_cast<void*>(&get_ttime), &info) == 0 || info.dli_fname == nullptr) {
        return "(unknown: the loader cannot tell)";
    }
    char resolved[PATH_MAX];
    return realpath(info.dli_fname, resolved) != nullptr ? resolved : info.dli_fname;
}
