#include "tools/smdhost/Versions.h"

#include "host/HostLibrary.h"
#include "tools/common/CommandLine.h"
#include "tools/common/Diagnostics.h"
#include "tools/smdhost/Module.h"

void SayVersions(const std::string& module, EventLog& log)
{
    const std::string module_version = Module::Version(module);
    log.SetModuleVersion(module_version);
    diagnostics::Note(std::string("version ") + command_line::Version() + "; module " +
                      (module_version.empty() ? "without a version" : module_version));
    diagnostics::Note("runs on the host library " + HostLibraryPath());
}
