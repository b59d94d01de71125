#pragma once

#include <memory>
#include <vector>

#include "plugin/Provider.h"

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif

// Hands the host this module's providers: one QuillmarUPSProvider, new on
// every call. Exported unmangled, the module's only visible entry.
extern "C" __attribute__((visibility("default"))) std::vector<std::shared_ptr<Provider>>
get_providers();

#if defined(__clang__)
#pragma clang diagnostic pop
#endif
