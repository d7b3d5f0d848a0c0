#include "tests/support/FsyncProbe.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <new>

namespace test {

namespace {

constexpr std::size_t kKept = 4096;
struct Log {
    std::atomic<std::size_t> count{0};
    Fsync kept[kKept];
};
// Mapped before main, so that an fsync from a signal handler finds it made.
Log* const shared =
    new (::mmap(nullptr, sizeof(Log), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0))
        Log;

Fsync describe(const struct stat& status) {
    return {status.st_dev, status.st_ino, S_ISDIR(status.st_mode)};
}

}  // namespace

std::size_t fsyncCount() {
    return shared->count.load();
}

std::vector<Fsync> fsyncsSince(std::size_t mark) {
    const std::size_t end = shared->count.load();
    std::vector<Fsync> since;
    for (std::size_t i = end - mark > kKept ? end - kKept : mark; i < end; ++i) {
        since.push_back(shared->kept[i % kKept]);
    }
    return since;
}

std::vector<Fsync> syncOf(const std::filesystem::path& file) {
    std::vector<Fsync> syncs;
    for (const auto& path : {file, file.parent_path()}) {
        struct stat status {};
        ::stat(path.c_str(), &status);
        syncs.push_back(describe(status));
    }
    return syncs;
}

}  // namespace test

// Found before the C library's by every caller in the process, the program's code included;
// fstat only, as the program's termination-signal handler calls fsync.
extern "C" int fsync(int fd) {
    struct stat status {};
    ::fstat(fd, &status);
    test::shared->kept[test::shared->count.fetch_add(1) % test::kKept] = test::describe(status);
    return static_cast<int>(::syscall(SYS_fsync, fd));
}
