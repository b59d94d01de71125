#include "tools/smdhost/driver/Background.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace driver_mode {

namespace {

constexpr char kReady = 'r';

// The parent: waits for the child's word or its end, and ends as it says.
[[noreturn]] void Wait(pid_t child, int ready)
{
    char word = 0;
    ssize_t got = 0;
    do {
        got = ::read(ready, &word, 1);
    } while (got < 0 && errno == EINTR);
    if (got == 1 && word == kReady) {
        _exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

void ToNull()
{
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0) {
        return;
    }
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        ::dup2(null, fd);
    }
    ::close(null);
}

}  // namespace

Background Background::Start()
{
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("cannot go to the background: ") + std::strerror(errno));
    }
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error(std::string("cannot go to the background: ") + std::strerror(errno));
    }
    if (child > 0) {
        ::close(pipe_fds[1]);
        Wait(child, pipe_fds[0]);
    }
    ::close(pipe_fds[0]);
    ::setsid();
    return Background(pipe_fds[1]);
}

Background::~Background()
{
    if (ready_ >= 0) {
        ::close(ready_);
    }
}

void Background::Ready()
{
    if (ready_ < 0) {
        return;
    }
    std::fflush(nullptr);
    ToNull();
    (void)!::write(ready_, &kReady, 1);
    ::close(ready_);
    ready_ = -1;
}

}  // namespace driver_mode
