#pragma once

// What the process puts on stable storage. A test executable that links FsyncProbe.cpp has
// its own fsync in front of the C library's, for every caller in the process: each call is
// noted (and told to a pipe, when one is given) before it goes on to the system.

#include <sys/types.h>

#include <cstddef>
#include <ostream>
#include <vector>

namespace test {

// One fsync: what the descriptor named.
struct Fsync {
    dev_t device = 0;
    ino_t inode = 0;
    bool directory = false;
    bool operator==(const Fsync&) const = default;
};

inline void PrintTo(const Fsync& fsync, std::ostream* out) {
    *out << (fsync.directory ? "directory " : "file ") << fsync.device << ":" << fsync.inode;
}

// How many fsyncs the process has made (a forked child starts from its parent's count).
std::size_t fsyncCount();
// The fsyncs made since fsyncCount() gave `mark`, oldest first (the last few thousand).
std::vector<Fsync> fsyncsSince(std::size_t mark);
// From now on every fsync is also written to `fd` as one Fsync, also from a signal handler
// (-1: no more); for a child process whose end is to be watched from outside.
void tellFsyncsTo(int fd);
// The Fsync that a sync of `path` would be noted as.
Fsync fsyncOf(const char* path);
// Every Fsync written to `fd` until it is closed at the other end.
std::vector<Fsync> fsyncsToldBy(int fd);

}  // namespace test
