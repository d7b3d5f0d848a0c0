#include "tests/reliability/ChildProcess.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vellumor::testing {

void ChildChannel::send(const std::string& line) {
    const std::string text = line + "\n";
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(fd_, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return;
        }
        written += static_cast<std::size_t>(count);
    }
}

bool ChildChannel::expect(bool condition, const std::string& what) {
    if (!condition) {
        fail(what);
    }
    return condition;
}

std::string ChildExit::describe() const {
    if (exited) {
        return "exited with status " + std::to_string(exitCode);
    }
    if (signaled) {
        return std::string("ended by signal ") + ::strsignal(signal);
    }
    return "still running";
}

ChildProcess::ChildProcess(const std::function<void(ChildChannel&)>& body,
                           std::chrono::seconds lifetime) {
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        ::close(fds[0]);
        ::alarm(static_cast<unsigned>(lifetime.count()));
        ChildChannel channel(fds[1]);
        try {
            body(channel);
        } catch (const std::exception& e) {
            channel.fail(std::string("exception: ") + e.what());
            ::_exit(1);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    fd_ = fds[0];
}

ChildProcess::~ChildProcess() {
    if (!exit_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        wait();
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool ChildProcess::readMore() {
    char chunk[4096];
    for (;;) {
        const ssize_t count = ::read(fd_, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        buffer_.append(chunk, static_cast<std::size_t>(count));
        for (std::size_t end = buffer_.find('\n'); end != std::string::npos;
             end = buffer_.find('\n')) {
            lines_.push_back(buffer_.substr(0, end));
            buffer_.erase(0, end + 1);
        }
        return true;
    }
}

std::optional<std::string> ChildProcess::nextLine() {
    while (consumed_ == lines_.size()) {
        if (!readMore()) {
            return std::nullopt;
        }
    }
    return lines_[consumed_++];
}

void ChildProcess::kill(int signal) const {
    ::kill(pid_, signal);
}

ChildExit ChildProcess::wait() {
    if (exit_) {
        return *exit_;
    }
    // Every copy of the channel's write end closes when the child ends, so reading to the
    // end both drains the channel and waits for the end.
    while (readMore()) {
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    ChildExit result;
    result.exited = WIFEXITED(status);
    result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
    result.signaled = WIFSIGNALED(status);
    result.signal = result.signaled ? WTERMSIG(status) : 0;
    exit_ = result;
    return result;
}

std::vector<std::string> ChildProcess::failures() const {
    std::vector<std::string> found;
    for (const auto& line : lines_) {
        if (line.rfind("FAIL ", 0) == 0) {
            found.push_back(line.substr(5));
        }
    }
    return found;
}

}  // namespace vellumor::testing
