#pragma once

// What the process puts on stable storage. A test executable that links FsyncProbe.cpp has
// its own fsync in front of the C library's, for every caller in the process: each call is
// noted before it goes on to the system, in memory that forked children share with their
// parent, so that the fsyncs of a child that has ended are seen by the parent too.

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <vector>

namespace test {

// One fsync: what the descriptor named.
struct Fsync {
    dev_t device = 0;
    ino_t inode = 0;
    bool directory = false;
    bool operator==(const Fsync&) const = default;
};

// How many fsyncs this process and its forked children have made.
std::size_t fsyncCount();
// The fsyncs made since fsyncCount() gave `mark`, oldest first (the last few thousand).
std::vector<Fsync> fsyncsSince(std::size_t mark);
// The fsyncs that make `file` durable as it is now: its contents, then its directory's.
std::vector<Fsync> syncOf(const std::filesystem::path& file);

}  // namespace test
