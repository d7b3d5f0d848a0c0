#pragma once

// A forked copy of the test process, for checks of how a process ends.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

namespace test {

// A forked copy of the test process running `body`. What it checks would be lost with it,
// so it reports through its exit status (body's result) and a pipe (numbers, or fsyncs), and leaves
// with _exit so that no test framework or static teardown runs twice. It starts with the
// signal actions of a fresh program: a test runner may have left some signals ignored.
struct Child {
    template <typename Body>
    explicit Child(const Body& body) {
        int fds[2];
        if (::pipe(fds) != 0 || (pid = ::fork()) < 0) {
            std::abort();  // nothing to test without a child
        }
        ::close(fds[pid == 0 ? 0 : 1]);
        fd = fds[pid == 0 ? 1 : 0];
        if (pid == 0) {
            for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGXFSZ}) {
                ::signal(signal, SIG_DFL);
            }
            ::alarm(60);  // a hang ends as a failure, not as a stuck test
            try {
                ::_exit(body(*this));
            } catch (...) {
                ::_exit(98);  // never back into the test that started it
            }
        }
    }
    ~Child() {
        if (status == -1) {
            ::kill(pid, SIGKILL);
            wait();
        }
        ::close(fd);
    }

    // In the child: tells the parent `number`.
    void send(int number) const {
        [[maybe_unused]] auto sent = ::write(fd, &number, sizeof number);
    }
    // In the parent: the next number the child sent, or nothing once it has ended.
    std::optional<int> receive() const {
        int number = 0;
        return ::read(fd, &number, sizeof number) == sizeof number ? std::optional(number)
                                                                   : std::nullopt;
    }
    // Waits for the child to end; its wait status (0: body returned 0).
    int wait() {
        while (status == -1 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return status;
    }

    pid_t pid = -1;
    int fd = -1;  // the pipe's write end in the child, its read end in the parent
    int status = -1;
};

}  // namespace test
