#pragma once

#include <memory>
#include <string>

class SMDSPDeviceProvider;

// The driver module, loaded as the controller loads it: dlopen with every
// symbol bound at once, get_providers, the first provider of serial-port
// devices. What cannot be loaded is explained: the loader's reason, where a
// name without a slash is looked for, and a module built for another machine
// (the loader says only "wrong ELF class") with the build to use instead.
class Module {
public:
    // Loads `module` (a path, or a name without a slash: from the current
    // folder when it is there). Throws std::runtime_error with the reason.
    explicit Module(const std::string& module);
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    // Unloads it; whatever it made must be gone by then.
    ~Module();

    // The module's first provider of serial-port devices. Throws
    // std::runtime_error naming the module when it has none.
    std::shared_ptr<SMDSPDeviceProvider> SerialProvider() const;

    // The version the module's file carries ("quillmarups 1.2.0+g…"), read
    // from the file without loading it; "" when it has none.
    static std::string Version(const std::string& module);

private:
    std::string name_;
    void* handle_ = nullptr;
};
