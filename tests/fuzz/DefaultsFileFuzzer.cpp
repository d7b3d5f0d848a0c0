// libFuzzer target: any bytes as the defaults file, read as the program reads it and then
// written with one more key; XML is also measured for nesting against what libplist builds.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "tests/fuzz/FuzzChecks.h"

namespace {

std::filesystem::path file;

// A private directory for the domain file, in memory where the system offers it, because
// every write is synced when its domain is closed, once per input.
std::filesystem::path makeDirectory() {
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                           ? "/dev/shm"
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / "vellumor-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    return pattern;
}

void removeDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(file.parent_path(), ignored);
}

void writeInput(const std::uint8_t* bytes, std::size_t size) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror("open");
        std::abort();
    }
    std::size_t written = 0;
    while (written < size) {
        const ssize_t count = ::write(fd, bytes + written, size - written);
        if (count <= 0) {
            std::perror("write");
            std::abort();
        }
        written += static_cast<std::size_t>(count);
    }
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    file = makeDirectory() / "org.vellumor.Vellumor.plist";
    std::atexit(removeDirectory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (const auto broken = vellumor::fuzz::checkXmlNesting(
            std::string_view(reinterpret_cast<const char*>(bytes), size))) {
        std::fprintf(stderr, "broken promise: %s\n", broken->c_str());
        std::abort();
    }
    writeInput(bytes, size);
    if (const auto broken = vellumor::fuzz::checkDefaultsFile(file, true)) {
        std::fprintf(stderr, "broken promise: %s\n", broken->c_str());
        std::abort();
    }
    return 0;
}
