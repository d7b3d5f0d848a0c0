#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "main/AppDelegate.h"
#include "platform/Geometry.h"
#include "platform/headless/HeadlessPlatform.h"

namespace vellumor::bench {

// A directory of its own for one benchmark's user defaults, removed again when done. `base`
// chooses the file system, which decides what the defaults write's fsync costs.
class ScratchDirectory final {
public:
    ScratchDirectory(const std::filesystem::path& base, const std::string& name);
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Where the defaults file is written in a benchmark.
enum class DefaultsPlace {
    // The temporary directory (TMPDIR, else /tmp): a disk, like the user's ~/.config.
    Disk,
    // /dev/shm, a tmpfs, where fsync returns at once: what is left is the program's own work.
    Memory,
};

// The directory for `place`, or an empty path when this machine has none (no tmpfs).
std::filesystem::path defaultsBase(DefaultsPlace place);
const char* placeName(DefaultsPlace place);

// `count` displays of 3840x2160 points, four to a row, the first one primary.
std::vector<platform::Rect> displayGrid(int count);

// The whole program on the in-memory desktop, started the way its entry point starts it
// (the same steps as the whole-program tests take), and ended with the object.
class BenchProgram final {
public:
    BenchProgram(const std::filesystem::path& defaultsDirectory,
                 std::vector<platform::Rect> screens);
    ~BenchProgram();
    BenchProgram(const BenchProgram&) = delete;
    BenchProgram& operator=(const BenchProgram&) = delete;

    platform::headless::HeadlessPlatform& desktop() const { return *desktop_; }
    AppDelegate& delegate() const { return *delegate_; }

private:
    platform::headless::HeadlessPlatform* desktop_ = nullptr;
    std::unique_ptr<AppDelegate> delegate_;
};

}  // namespace vellumor::bench
