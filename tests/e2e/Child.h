#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A program run as a child process, its standard output read line by line
// and its standard error sent to a file. A child still running when the
// object goes is killed. `in_child` runs in the child just before the program
// starts: limits, a folder to work in.
class Child {
public:
    using Clock = std::chrono::steady_clock;

    Child(const std::vector<std::string>& argv, const std::string& error_file,
          const std::function<void()>& in_child = {})
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            const int error = open(error_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(error, STDERR_FILENO);
            if (in_child) {
                in_child();
            }
            std::vector<char*> args;
            for (const std::string& arg : argv) {
                args.push_back(const_cast<char*>(arg.c_str()));
            }
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
    }

    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    ~Child()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) {
            close(out_);
        }
    }

    bool Started() const { return pid_ > 0 && out_ >= 0; }
    pid_t Pid() const { return pid_; }

    // The next line of output, without its newline; nothing when the output
    // has ended or `limit` passed first.
    std::optional<std::string> ReadLine(std::chrono::milliseconds limit)
    {
        const auto deadline = Clock::now() + limit;
        for (;;) {
            const std::size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            if (ended_ || Clock::now() >= deadline) {
                return std::nullopt;
            }
            Gather(deadline);
        }
    }

    // Signals the child; nothing when it could not be started (kill(-1, ...)
    // would signal every process of the user).
    void Signal(int signal) const
    {
        if (pid_ > 0) {
            kill(pid_, signal);
        }
    }

    // Stops reading the output, as `| head` does once it has its lines.
    void CloseOutput()
    {
        close(out_);
        out_ = -1;
        ended_ = true;
    }

    // Waits for the exit, keeping the output for ReadLine. Answers the exit
    // status, or -1 when `limit` passed and the child had to be killed (or
    // was never started).
    int Wait(std::chrono::milliseconds limit)
    {
        const auto deadline = Clock::now() + limit;
        while (pid_ > 0 && Clock::now() < deadline) {
            int status = 0;
            if (wait4(pid_, &status, WNOHANG, &usage_) == pid_) {
                exited_ = true;
                while (!ended_ && Gather(Clock::now() + std::chrono::seconds(5))) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            Gather(Clock::now() + std::chrono::milliseconds(20));
        }
        return -1;
    }

    // What the child used, its threads included, once Wait has seen it end.
    const rusage& Usage() const { return usage_; }

private:
    // Reads what has come, waiting until `deadline` at most; false when nothing came.
    bool Gather(Clock::time_point deadline)
    {
        if (ended_) {
            // A closed pipe polls ready at once: wait out the time instead of spinning.
            std::this_thread::sleep_until(deadline);
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd in{out_, POLLIN, 0};
        if (poll(&in, 1, static_cast<int>(std::max<long long>(0, left.count()))) <= 0) {
            return false;
        }
        char bytes[4096];
        const ssize_t got = read(out_, bytes, sizeof(bytes));
        if (got <= 0) {
            ended_ = true;
            return false;
        }
        buffer_.append(bytes, static_cast<std::size_t>(got));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
    bool ended_ = false;
    bool exited_ = false;
    rusage usage_{};
};
