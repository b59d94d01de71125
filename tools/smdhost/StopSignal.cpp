#include "tools/smdhost/StopSignal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<bool> g_requested{false};
std::atomic<int> g_signal{0};
// Written once on a stop and never read, so it stays readable and wakes every
// thread that polls it.
int g_wake[2] = {-1, -1};

extern "C" void OnStopSignal(int signal)
{
    // A closed terminal's hang-up comes from the terminal and again from the
    // shell: only a second SIGINT or SIGTERM means "at once".
    if (g_requested.load() && signal != SIGHUP) {
        static const char kAtOnce[] = "smdhost: second signal: stopping at once\n";
        [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, kAtOnce, sizeof(kAtOnce) - 1);
        _exit(128 + signal);
    }
    const int saved = errno;
    StopSignal::Request(signal);
    errno = saved;
}

}  // namespace

bool StopSignal::Install()
{
    if (g_wake[0] < 0 && pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A reader that goes (`smdhost | head`) must not end the host between the
    // writes of a cycle: its outputs see EPIPE and ask for a stop instead.
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

void StopSignal::Request(int signal)
{
    int none = 0;
    g_signal.compare_exchange_strong(none, signal);
    if (g_requested.exchange(true)) {
        return;
    }
    if (g_wake[1] >= 0) {
        const char byte = 's';
        [[maybe_unused]] const ssize_t ignored = ::write(g_wake[1], &byte, 1);
    }
}

bool StopSignal::Requested() { return g_requested.load(); }

int StopSignal::Signal() { return g_signal.load(); }

const char* StopSignal::Name()
{
    switch (Signal()) {
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    case SIGPIPE: return "SIGPIPE";
    default: return "SIGTERM";
    }
}

int StopSignal::WakeFd() { return g_wake[0]; }

bool StopSignal::WaitUntil(Clock::time_point when)
{
    for (;;) {
        if (Requested()) {
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd wake{g_wake[0], POLLIN, 0};
        ::poll(&wake, g_wake[0] >= 0 ? 1 : 0, static_cast<int>(left));
    }
}

bool StopSignal::WaitFor(int fd)
{
    for (;;) {
        if (Requested()) {
            return true;
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
        if (::poll(fds, g_wake[0] >= 0 ? 2 : 1, -1) > 0 && fds[0].revents != 0) {
            return Requested();
        }
    }
}
