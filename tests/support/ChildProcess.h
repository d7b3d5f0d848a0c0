#pragma once

// Child processes of end-to-end tests (display servers, compositors, the program itself) and
// waiting for what they show, without timed assertions: a condition is polled until it holds
// or a generous deadline passes.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace vellumor::testsupport {

using namespace std::chrono_literals;

// Polls `condition` until it holds or `timeout` passes; whether it held.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = 5s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    bool held = false;
    while (!(held = condition()) && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(25ms);
    }
    return held;
}

// A long-lived child process (Xvfb, openbox, trayer, vellumor), stopped by its pid (SIGTERM,
// then SIGKILL) when this object goes.
class Process final {
public:
    // Runs a shell command line, its output appended to `log`; the shell execs the program, so
    // the pid is the program's own.
    Process(const std::string& command, const std::filesystem::path& log) {
        const std::string line = "exec " + command + " </dev/null >>" + log.string() + " 2>&1";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
            ::_exit(127);
        }
        if (pid_ < 0) {
            throw std::runtime_error("cannot start " + command);
        }
    }
    ~Process() { stop(); }

    pid_t pid() const { return pid_; }
    // Its status as waitpid gives it, once it has ended; waits up to `timeout` for that.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout) {
        int status = 0;
        const auto ended = [&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; };
        if (!status_ && waitUntil(ended, timeout)) {
            status_ = status;
        }
        return status_;
    }
    void stop() {
        if (pid_ > 0 && !waitForExit(0ms)) {
            ::kill(pid_, SIGTERM);
            if (!waitForExit(3s)) {
                ::kill(pid_, SIGKILL);
                waitForExit(3s);
            }
        }
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

}  // namespace vellumor::testsupport
