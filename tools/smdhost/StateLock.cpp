#include "tools/smdhost/StateLock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "tools/common/ProcessName.h"

namespace {

constexpr mode_t kMode = 0644;

// The whole file, for writing.
struct flock WholeFile()
{
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return lock;
}

// Who holds the lock on `fd`: "smdhost (pid 4242)", or "" when it was let go
// meanwhile.
std::string Holder(int fd)
{
    struct flock lock = WholeFile();
    if (::fcntl(fd, F_GETLK, &lock) != 0 || lock.l_type == F_UNLCK) {
        return "";
    }
    return lock.l_pid > 0 ? process_name::Described(lock.l_pid)
                          : "another process (the system does not say which)";
}

}  // namespace

StateLock::~StateLock()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

StateLock::Taken StateLock::Take(const safe_file::Folder& folder, const std::string& name,
                                 safe_file::Error& error)
{
    const int fd = folder.OpenAppend(name, kMode, error);
    if (fd < 0) {
        return Taken::Failed;
    }
    // Twice: a holder that lets go between the two calls is no holder.
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct flock lock = WholeFile();
        if (::fcntl(fd, F_SETLK, &lock) == 0) {
            fd_ = fd;
            return Taken::Yes;
        }
        if (errno != EACCES && errno != EAGAIN) {
            safe_file::Failed(error, errno, "cannot lock " + folder.PathOf(name));
            ::close(fd);
            return Taken::Failed;
        }
        const std::string holder = Holder(fd);
        if (!holder.empty()) {
            ::close(fd);
            safe_file::Failed(error, 0, folder.PathOf(name) + " is held by " + holder);
            return Taken::Held;
        }
    }
    ::close(fd);
    safe_file::Failed(error, EAGAIN, "cannot lock " + folder.PathOf(name));
    return Taken::Failed;
}
