// upssim: the UPS side of the line. Answers "RS\r" and "RD\r" byte for byte as
// a UPS does, on a pseudo-terminal or a serial device, with the readings of a
// scenario and, on request, faults.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tools/common/Diagnostics.h"
#include "tools/common/Escape.h"
#include "tools/common/ExitStatus.h"
#include "tools/common/Plural.h"
#include "tools/common/SerialPort.h"
#include "sim/Scenario.h"
#include "sim/UpsAnswers.h"
#include "sim/SimOptions.h"
#include "sim/UpsFaults.h"

namespace {

using Clock = std::chrono::steady_clock;
using ups_faults::Answer;
using ups_faults::Fault;

std::atomic<bool> g_stop{false};

extern "C" void OnStopSignal(int) { g_stop = true; }

void Say(const std::string& line)
{
    std::printf("upssim: %s\n", line.c_str());
    std::fflush(stdout);
}

// The UPS's end of the line: a pseudo-terminal or a serial device.
class UpsLine {
public:
    // Opens the line and says where a host finds it.
    explicit UpsLine(const SimOptions& options) : link_(options.link)
    {
        if (!options.port.empty()) {
            if (!port_.Open(options.port, options.baud)) {
                throw std::runtime_error(port_.Error());
            }
            fd_ = port_.Fd();
            Say("UPS on " + options.port);
            return;
        }
        OpenPseudoTerminal(options.baud);
    }
    ~UpsLine()
    {
        Unlink();
        if (!port_.IsOpen()) {
            ::close(held_end_);
            ::close(fd_);
        }
    }
    int Fd() const { return fd_; }

private:
    void OpenPseudoTerminal(int baud)
    {
        fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
            throw std::runtime_error(std::string("no pseudo-terminal: ") + std::strerror(errno));
        }
        const std::string path = ptsname(fd_);
        // Holding the host's end open keeps the terminal in being, and raw,
        // while a host closes and opens it again.
        held_end_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        std::string why;
        if (held_end_ < 0 || !SerialPort::MakeRaw(held_end_, baud, why)) {
            throw std::runtime_error("cannot set up " + path + ": " + why);
        }
        if (!link_.empty()) {
            Link(path);
        }
        Say("UPS on " + path + (link_.empty() ? "" : " (link " + link_ + ")"));
    }

    // Points the link at the terminal; replaces an earlier link, never a file.
    void Link(const std::string& path)
    {
        struct stat existing {};
        if (::lstat(link_.c_str(), &existing) == 0) {
            if (!S_ISLNK(existing.st_mode)) {
                throw std::runtime_error(link_ + " exists and is no symbolic link");
            }
            ::unlink(link_.c_str());
        }
        if (::symlink(path.c_str(), link_.c_str()) != 0) {
            throw std::runtime_error("cannot link " + link_ + ": " + std::strerror(errno));
        }
        linked_ = path;
    }

    // Removes the link if it still points at this simulator's terminal.
    void Unlink() const
    {
        char target[256] = {};
        if (!linked_.empty() && ::readlink(link_.c_str(), target, sizeof(target) - 1) > 0 &&
            linked_ == target) {
            ::unlink(link_.c_str());
        }
    }

    SerialPort port_;
    std::string link_;
    std::string linked_;  // the terminal the link points at, once made
    int fd_ = -1;
    int held_end_ = -1;
};

class Simulator {
public:
    Simulator(const SimOptions& options, ups_sim::Scenario scenario, int fd)
        : options_(options), player_(std::move(scenario)), rng_(options.seed), fd_(fd)
    {
    }

    // Answers commands until a signal stops it or the line fails.
    void Run()
    {
        std::string pending;
        char bytes[256];
        while (!g_stop) {
            pollfd in{fd_, POLLIN, 0};
            if (::poll(&in, 1, 200) <= 0) {
                continue;
            }
            const ssize_t got = ::read(fd_, bytes, sizeof(bytes));
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            if (got <= 0) {
                throw std::runtime_error(std::string("line lost: ") + std::strerror(errno));
            }
            pending.append(bytes, static_cast<std::size_t>(got));
            for (std::size_t end; (end = pending.find('\r')) != std::string::npos;) {
                Respond(Command(pending.substr(0, end)));
                pending.erase(0, end + 1);
            }
        }
    }

private:
    // The command of a line, without noise a host may have sent before it.
    static std::string Command(const std::string& line)
    {
        return line.size() >= 2 ? line.substr(line.size() - 2) : line;
    }

    void Respond(const std::string& command)
    {
        std::vector<ups_answers::Line> lines;
        Answer kind;
        if (command == "RS") {
            if (player_.Poll(Clock::now())) {
                Say("step " + std::to_string(player_.StepIndex() + 1) + "/" +
                    std::to_string(player_.StepCount()) + ": " + player_.Step().name);
            }
            lines = ups_answers::StatusLines(player_.Reading());
            kind = Answer::Status;
        } else if (command == "RD") {
            lines = ups_answers::DataLines(player_.Reading());
            kind = Answer::Data;
        } else {
            if (options_.verbose) {
                Say("ignored \"" + EscapeBytes(command) + "\"");
            }
            return;
        }
        const std::optional<Fault> fault = DrawFault(kind);
        if (options_.verbose) {
            Say(command + " answered" +
                (fault ? std::string(" with fault ") + ups_faults::InfoOf(*fault).name : ""));
        }
        const auto chunks = fault ? ups_faults::Inject(*fault, kind, lines, rng_)
                                  : std::vector<std::string>{ups_answers::Join(lines)};
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            if (i > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(
                    std::uniform_int_distribution<int>(1, 10)(rng_)));
            }
            Send(chunks[i]);
        }
    }

    // The fault this answer gets, if any: the scenario step's rates over the
    // command line's, each drawn in table order until one hits.
    std::optional<Fault> DrawFault(Answer kind)
    {
        std::map<Fault, double> rates = options_.faults;
        for (const auto& [fault, rate] : player_.Step().faults) {
            rates[fault] = rate;
        }
        for (const auto& info : ups_faults::kFaults) {
            const auto rate = rates.find(info.fault);
            if (rate == rates.end() || !ups_faults::AppliesTo(info.fault, kind)) {
                continue;
            }
            if (std::bernoulli_distribution(rate->second)(rng_)) {
                return info.fault;
            }
        }
        return std::nullopt;
    }

    // Writes at the line's pace: ten bits a byte at the line speed.
    void Send(const std::string& bytes)
    {
        const auto per_byte = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(10.0 / options_.baud));
        auto next = Clock::now();
        if (options_.verbose) {
            Say("sent " + Counted(bytes.size(), "byte") + ": \"" + EscapeBytes(bytes) + "\"");
        }
        const std::size_t step = options_.fast ? bytes.size() : 1;
        for (std::size_t at = 0; at < bytes.size() && !g_stop; at += step) {
            Write(bytes.data() + at, std::min(step, bytes.size() - at));
            next += per_byte;
            if (!options_.fast) {
                std::this_thread::sleep_until(next);
            }
        }
    }

    void Write(const char* data, std::size_t len)
    {
        while (len > 0 && !g_stop) {
            const ssize_t written = ::write(fd_, data, len);
            if (written < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            if (written < 0) {
                throw std::runtime_error(std::string("cannot write: ") + std::strerror(errno));
            }
            data += written;
            len -= static_cast<std::size_t>(written);
        }
    }

    const SimOptions& options_;
    ups_sim::ScenarioPlayer player_;
    std::mt19937 rng_;
    int fd_;
};

}  // namespace

int main(int argc, char** argv)
{
    const SimOptions options = ReadSimOptions(argc, argv);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    try {
        ups_sim::Scenario scenario = options.scenario.empty()
                                         ? ups_sim::SteadyScenario()
                                         : ups_sim::LoadScenario(options.scenario);
        if (!scenario.description.empty()) {
            Say("scenario: " + scenario.description);
        }
        UpsLine line(options);
        Simulator(options, std::move(scenario), line.Fd()).Run();
    } catch (const std::exception& error) {
        diagnostics::Error(error.what());
        return exit_status::upssim::kCannotStart;
    }
    return 0;
}
