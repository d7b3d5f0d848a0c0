#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vellumor::testing {

// The child's side of a forked test process: one line-based channel back to the parent.
// Assertions made in a child are lost with it, so the child reports what it saw as lines.
class ChildChannel {
public:
    explicit ChildChannel(int fd) : fd_(fd) {}
    // Sends one line (no newline inside) to the parent.
    void send(const std::string& line);
    // Reports a failed expectation; the parent turns each into a test failure.
    void fail(const std::string& what) { send("FAIL " + what); }
    // Reports `what` as a failure unless `condition` holds; gives `condition`.
    bool expect(bool condition, const std::string& what);

private:
    int fd_;
};

// How a child ended.
struct ChildExit {
    bool exited = false;
    int exitCode = -1;
    bool signaled = false;
    int signal = 0;
    std::string describe() const;
};

// A forked copy of the test process running `body`; it leaves through _exit(0) when the
// body returns, so no test-framework or static teardown runs twice. A child that outlives
// `lifetime` is ended by SIGALRM, so a hang shows as a failure rather than a stuck test.
class ChildProcess {
public:
    explicit ChildProcess(const std::function<void(ChildChannel&)>& body,
                          std::chrono::seconds lifetime = std::chrono::seconds(60));
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // The next line the child sent, waiting for it; nothing once the child has closed the
    // channel (ended) without sending more.
    std::optional<std::string> nextLine();
    // Sends `signal` to the child.
    void kill(int signal) const;
    // Waits for the child to end and collects every line it sent that was not read yet.
    ChildExit wait();
    // Lines received so far (all of them after wait()).
    const std::vector<std::string>& lines() const { return lines_; }
    // The failures the child reported.
    std::vector<std::string> failures() const;

private:
    bool readMore();

    pid_t pid_ = -1;
    int fd_ = -1;
    std::string buffer_;
    std::vector<std::string> lines_;
    std::size_t consumed_ = 0;
    std::optional<ChildExit> exit_;
};

}  // namespace vellumor::testing
