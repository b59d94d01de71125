#include "tools/smdhost/OutputLine.h"

#include <signal.h>

#include <cerrno>

#include "tools/common/SafeFile.h"
#include "tools/smdhost/StopSignal.h"

void WriteOutputLine(int fd, const std::string& line)
{
    if (!safe_file::WriteAll(fd, line.data(), line.size()) && errno == EPIPE) {
        StopSignal::Request(SIGPIPE);
    }
}
