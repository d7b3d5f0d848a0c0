#pragma once

#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <ctime>

namespace platform::common::detail {

// Holds off SIGXFSZ on the calling thread while a file is written. A write past the file-size
// limit (RLIMIT_FSIZE, the way quotas and full volumes are often emulated) raises SIGXFSZ,
// whose default action ends the process; the program must instead see the write fail with
// EFBIG and go on. A signal raised by our own write is taken back before the thread's signal
// mask is restored; one that was already pending is left alone. errno is kept for the caller.
class FileSizeSignalGuard {
public:
    FileSizeSignalGuard() {
        sigemptyset(&signal_);
        sigaddset(&signal_, SIGXFSZ);
        blocked_ = ::pthread_sigmask(SIG_BLOCK, &signal_, &previous_) == 0;
        wasPending_ = pending();
    }
    ~FileSizeSignalGuard() {
        if (!blocked_) {
            return;
        }
        const int error = errno;
        if (!wasPending_ && pending()) {
            const timespec immediately{0, 0};
            while (::sigtimedwait(&signal_, nullptr, &immediately) < 0 && errno == EINTR) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
        errno = error;
    }
    FileSizeSignalGuard(const FileSizeSignalGuard&) = delete;
    FileSizeSignalGuard& operator=(const FileSizeSignalGuard&) = delete;

private:
    bool pending() const {
        sigset_t set;
        sigemptyset(&set);
        return ::sigpending(&set) == 0 && sigismember(&set, SIGXFSZ) == 1;
    }

    sigset_t signal_{};
    sigset_t previous_{};
    bool blocked_ = false;
    bool wasPending_ = false;
};

}  // namespace platform::common::detail
