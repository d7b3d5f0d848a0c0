#include "platform/common/ExitSync.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstdlib>

namespace platform::common::detail {

namespace {

constexpr std::array kTerminationSignals{SIGTERM, SIGINT, SIGHUP};

// One per domain file open at a time; tests and tools open a few at once, the program one.
constexpr std::size_t kSlots = 16;

struct Slot {
    std::atomic<bool> taken{false};
    std::atomic<int> directory{-1};
    // Set while the slot is claimed and no directory is watched, so never while a handler
    // reads it.
    char name[NAME_MAX + 1] = {};
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

std::array<Slot, kSlots> slots;

// Async-signal-safe throughout: openat, fsync and close only.
void syncWatched() {
    for (Slot& slot : slots) {
        const int directory = slot.directory.load();
        if (directory < 0) {
            continue;
        }
        const int file =
            ::openat(directory, slot.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (file >= 0) {
            ::fsync(file);
            ::close(file);
        }
        ::fsync(directory);
    }
}

void syncThenEnd(int signal) {
    syncWatched();
    // SA_RESETHAND has put the default action back: the signal ends the process as soon as
    // this handler returns, as if no handler had been there.
    ::raise(signal);
}

// Puts the handler in front of each termination signal whose action is the default one. Run
// at every watch, since the action may have been reset meanwhile (after a fork, by the
// program); three system calls beside a file write.
void takeDefaultActions() {
    for (const int signal : kTerminationSignals) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0 ||
            current.sa_handler != SIG_DFL) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = syncThenEnd;
        action.sa_flags = static_cast<int>(SA_RESETHAND | SA_RESTART);
        sigemptyset(&action.sa_mask);
        for (const int other : kTerminationSignals) {
            sigaddset(&action.sa_mask, other);
        }
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace

ExitSync::ExitSync(std::string_view name) {
    if (name.empty() || name.size() > NAME_MAX || name.find('\0') != std::string_view::npos) {
        return;
    }
    // The slots outlive every static destructor (constant-initialised, trivially destroyed).
    static const bool syncAtExit = std::atexit(syncWatched) == 0;
    if (!syncAtExit) {
        return;
    }
    for (std::size_t i = 0; i < slots.size(); ++i) {
        bool free = false;
        if (slots[i].taken.compare_exchange_strong(free, true)) {
            slot_ = static_cast<int>(i);
            name.copy(slots[i].name, name.size());
            slots[i].name[name.size()] = '\0';
            return;
        }
    }
}

ExitSync::~ExitSync() {
    if (watching()) {
        clear();
        slots[static_cast<std::size_t>(slot_)].taken.store(false);
    }
}

void ExitSync::watch(int directory) {
    if (!watching()) {
        return;
    }
    if (directory >= 0) {
        takeDefaultActions();
    }
    slots[static_cast<std::size_t>(slot_)].directory.store(directory);
}

}  // namespace platform::common::detail
