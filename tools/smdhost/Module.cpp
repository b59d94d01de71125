#include "tools/smdhost/Module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <stdexcept>

#include "plugin/Provider.h"
#include "tools/common/ElfInfo.h"

namespace {

constexpr unsigned int kMips = 8;  // e_machine

// dlopen searches the library path for a name without a slash, never the
// current folder, where a user who names a file expects it.
std::string ModulePath(const std::string& module)
{
    if (module.find('/') == std::string::npos && ::access(module.c_str(), F_OK) == 0) {
        return "./" + module;
    }
    return module;
}

std::string LoadHint(const std::string& path)
{
    if (path.find('/') != std::string::npos) {
        return "";
    }
    return "; a name without a slash is looked for in the library path (LD_LIBRARY_PATH, "
           "/etc/ld.so.cache, /lib, /usr/lib), not in the current folder: give a path such "
           "as ./" + path;
}

// "; <path> is built for 32-bit MIPS (the board's build), this smdhost for
// 64-bit x86-64: ..." when the file's ELF header names another class or
// machine than the host's own; "" otherwise.
std::string OtherMachine(const std::string& path)
{
    ElfInfo module;
    ElfInfo host;
    std::string error;
    if (!ReadElfInfo(path, module, error) || !ReadElfInfo("/proc/self/exe", host, error) ||
        ElfKind(module) == ElfKind(host)) {
        return "";
    }
    const bool board = module.bits == 32 && module.little_endian && module.machine == kMips;
    return "; " + path + " is built for " + ElfKind(module) + (board ? " (the board's build)" : "") +
           ", this smdhost for " + ElfKind(host) +
           ": give the module built for this machine (make build: build/dev/quillmarups.so)" +
           (board ? ", or run the board's own smdhost on the board" : "");
}

}  // namespace

Module::Module(const std::string& module) : name_(module)
{
    const std::string path = ModulePath(module);
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        throw std::runtime_error("cannot load " + module + ": " + dlerror() + LoadHint(path) +
                                 OtherMachine(path));
    }
}

Module::~Module() { dlclose(handle_); }

std::shared_ptr<SMDSPDeviceProvider> Module::SerialProvider() const
{
    auto get_providers = reinterpret_cast<GetProvidersFn>(dlsym(handle_, kGetProvidersSymbol));
    if (get_providers == nullptr) {
        throw std::runtime_error(name_ + " has no " + kGetProvidersSymbol + ": " + dlerror());
    }
    for (const auto& provider : get_providers()) {
        if (auto serial = std::dynamic_pointer_cast<SMDSPDeviceProvider>(provider)) {
            return serial;
        }
    }
    throw std::runtime_error(name_ + " provides no serial-port device");
}

std::string Module::Version(const std::string& module) { return ModuleFileVersion(module); }
