#include "tests/support/FsyncProbe.h"

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>

namespace test {

namespace {

constexpr std::size_t kKept = 4096;
std::array<Fsync, kKept> kept;
std::atomic<std::size_t> count{0};
std::atomic<int> toldTo{-1};

// fstat and write only: the program's termination-signal handler calls fsync.
Fsync describe(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return {};
    }
    return {status.st_dev, status.st_ino, S_ISDIR(status.st_mode)};
}

}  // namespace

std::size_t fsyncCount() {
    return count.load();
}

std::vector<Fsync> fsyncsSince(std::size_t mark) {
    const std::size_t end = count.load();
    std::vector<Fsync> since;
    for (std::size_t i = end - mark > kKept ? end - kKept : mark; i < end; ++i) {
        since.push_back(kept[i % kKept]);
    }
    return since;
}

void tellFsyncsTo(int fd) {
    toldTo.store(fd);
}

Fsync fsyncOf(const char* path) {
    struct stat status {};
    if (::stat(path, &status) != 0) {
        return {};
    }
    return {status.st_dev, status.st_ino, S_ISDIR(status.st_mode)};
}

std::vector<Fsync> fsyncsToldBy(int fd) {
    std::vector<Fsync> told;
    Fsync one;
    while (::read(fd, &one, sizeof one) == static_cast<ssize_t>(sizeof one)) {
        told.push_back(one);
    }
    return told;
}

}  // namespace test

// Found before the C library's by every caller in the process, the program's code included.
extern "C" int fsync(int fd) {
    const test::Fsync synced = test::describe(fd);
    test::kept[test::count.fetch_add(1) % test::kKept] = synced;
    if (const int told = test::toldTo.load(); told >= 0) {
        [[maybe_unused]] const auto written = ::write(told, &synced, sizeof synced);
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}
