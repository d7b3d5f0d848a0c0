#pragma once

// The program built on GNUstep's AppKit, run on a virtual X desktop with a GNUstep user
// directory of its own, and worked through its test control: one command a line on its
// standard input, the answer on its standard output up to a line "end".

#include <fcntl.h>

#include <sstream>

#include "tests/x11/X11Desktop.h"

namespace vellumor::cocoatest {

using namespace std::chrono_literals;
using x11test::waitUntil;
using x11test::X11Desktop;

// One window of the program as AppKit has it.
struct WindowState {
    unsigned long style = 0;
    bool visible = false;
    bool key = false;
    long level = 0;
    bool ignoresMouse = true;
    bool canBecomeKey = true;
    bool canBecomeMain = true;
    int views = 0;  // in the content view's tree
    std::vector<double> frame;
    std::vector<double> color;
};

// One entry of the status menu, as AppKit validated it.
struct EntryState {
    bool separator = false;
    bool enabled = false;
    std::string keyEquivalent;
    std::string action;
    std::string title;
};

struct ProgramState {
    long activationPolicy = -1;
    int liveWindows = -1;
    int windowsMade = -1;
    int statusItems = -1;
    std::vector<std::vector<double>> screens;
    std::vector<WindowState> windows;
    std::vector<EntryState> menu;
    std::optional<bool> panelVisible;
    std::vector<double> panelColor;

    std::vector<WindowState> withStyle(unsigned long style) const {
        std::vector<WindowState> found;
        for (const WindowState& window : windows) {
            if (window.style == style) {
                found.push_back(window);
            }
        }
        return found;
    }
};

// The words `key=value` of one answer line, the value of "title" running to the line's end.
inline std::map<std::string, std::string> fields(const std::string& line) {
    std::map<std::string, std::string> result;
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        const auto equals = word.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = word.substr(0, equals);
        if (key == "title") {
            result[key] = line.substr(line.find(" title=") + 7);
            break;
        }
        result[key] = word.substr(equals + 1);
    }
    return result;
}

inline std::vector<double> numbers(const std::string& text) {
    std::vector<double> result;
    std::istringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        result.push_back(std::stod(item));
    }
    return result;
}

inline ProgramState parseState(const std::vector<std::string>& lines) {
    ProgramState state;
    for (const std::string& line : lines) {
        const std::string head = line.substr(0, line.find(' '));
        const std::string rest = line.size() > head.size() ? line.substr(head.size() + 1) : "";
        auto f = fields(line);
        if (head == "policy") {
            state.activationPolicy = std::stol(rest);
        } else if (head == "live") {
            std::istringstream(rest) >> state.liveWindows >> state.windowsMade;
        } else if (head == "screen") {
            state.screens.push_back(numbers(rest));
        } else if (head == "statusitems") {
            state.statusItems = std::stoi(rest);
        } else if (head == "window") {
            state.windows.push_back({std::stoul(f["style"]), f["visible"] == "1", f["key"] == "1",
                                     std::stol(f["level"]), f["ignoresMouse"] == "1",
                                     f["canBecomeKey"] == "1", f["canBecomeMain"] == "1",
                                     std::stoi(f["views"]), numbers(f["frame"]),
                                     numbers(f["color"])});
        } else if (head == "entry") {
            EntryState entry;
            entry.separator = rest == "separator";
            if (!entry.separator) {
                entry.enabled = f["enabled"] == "1";
                entry.keyEquivalent = f["key"];
                entry.action = f["action"];
                entry.title = f["title"];
            }
            state.menu.push_back(entry);
        } else if (head == "panel") {
            state.panelVisible = f["visible"] == "1";
            state.panelColor = numbers(f["color"]);
        }
    }
    return state;
}

// The program's process, with a pipe to its test control each way. Stopped by its pid when
// this object goes.
class GnustepProgram final {
public:
    // Starts the program on `desktop` with the GNUstep configuration `config`.
    GnustepProgram(const X11Desktop& desktop, const std::filesystem::path& config,
                   const std::filesystem::path& log) {
        // A program that has crashed must fail the test, not end it: writing to it then gives
        // an error instead of SIGPIPE.
        ::signal(SIGPIPE, SIG_IGN);
        std::array<int, 2> in{}, out{};
        if (::pipe(in.data()) != 0 || ::pipe(out.data()) != 0) {
            throw std::runtime_error("cannot make pipes");
        }
        // Under the sanitizers, leaks are not looked for: GNUstep, libobjc and fontconfig keep
        // what they allocate until exit, and every Objective-C object is allocated through
        // libobjc, so no suppression could tell the program's own leaks from theirs. The
        // tests count the program's windows instead.
        const std::string line = "exec env " + desktop.environment() +
                                 " GNUSTEP_CONFIG_FILE=" + config.string() +
                                 " ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 " +
                                 VELLUMOR_GNUSTEP_BINARY + " 2>>" + log.string();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            for (const int fd : {in[0], in[1], out[0], out[1]}) {
                ::close(fd);
            }
            ::execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        commands_ = in[1];
        answers_ = out[0];
        ::fcntl(commands_, F_SETFD, FD_CLOEXEC);
        ::fcntl(answers_, F_SETFD, FD_CLOEXEC);
    }
    ~GnustepProgram() {
        ::close(commands_);
        ::close(answers_);
        if (!waitForExit(0ms)) {
            ::kill(pid_, SIGTERM);
            if (!waitForExit(3s)) {
                ::kill(pid_, SIGKILL);
                waitForExit(3s);
            }
        }
    }
    GnustepProgram(const GnustepProgram&) = delete;
    GnustepProgram& operator=(const GnustepProgram&) = delete;

    // Sends one command and gives the answer's lines; nothing if none came within `timeout`
    // (the program is busy, or has ended).
    std::optional<std::vector<std::string>> ask(const std::string& command,
                                                std::chrono::milliseconds timeout = 10s) {
        const std::string line = command + "\n";
        if (::write(commands_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
            return std::nullopt;
        }
        std::vector<std::string> lines;
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto newline = pending_.find('\n');
            if (newline != std::string::npos) {
                std::string answer = pending_.substr(0, newline);
                pending_.erase(0, newline + 1);
                if (answer == "end") {
                    return lines;
                }
                lines.push_back(std::move(answer));
                continue;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd readable{answers_, POLLIN, 0};
            char buffer[4096];
            ssize_t got = 0;
            if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0 ||
                (got = ::read(answers_, buffer, sizeof buffer)) <= 0) {
                return std::nullopt;
            }
            pending_.append(buffer, static_cast<std::size_t>(got));
        }
    }
    // The program's state; an empty one (every count -1) if it did not answer.
    ProgramState state() {
        const auto lines = ask("state");
        return lines ? parseState(*lines) : ProgramState{};
    }
    // The single answer line of a command ("chosen", "picked", "error ..."), or "no answer".
    std::string command(const std::string& command) {
        const auto lines = ask(command);
        return lines && lines->size() == 1 ? lines->front() : "no answer";
    }
    // Its status as waitpid gives it, once it has ended; waits up to `timeout` for that.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout) {
        int status = 0;
        if (!status_ &&
            waitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout)) {
            status_ = status;
        }
        return status_;
    }

private:
    pid_t pid_ = -1;
    int commands_ = -1;
    int answers_ = -1;
    std::string pending_;
    std::optional<int> status_;
};

}  // namespace vellumor::cocoatest
