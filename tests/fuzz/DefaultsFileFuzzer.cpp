// libFuzzer target: any bytes as the defaults file, read as the program reads it and then
// written with one more key; XML is also measured for nesting against what libplist builds.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "tests/fuzz/FuzzChecks.h"

namespace {

std::filesystem::path file;

void removeDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(file.parent_path(), ignored);
}

void check(const std::optional<std::string>& broken) {
    if (broken) {
        std::fprintf(stderr, "broken promise: %s\n", broken->c_str());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // In memory where the system offers it: every write is synced when its domain is closed.
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                           ? "/dev/shm"
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / "vellumor-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    file = std::filesystem::path(pattern) / "org.vellumor.Vellumor.plist";
    std::atexit(removeDirectory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(bytes), size);
    check(vellumor::fuzz::checkXmlNesting(text));
    if (!(std::ofstream(file, std::ios::binary | std::ios::trunc) << text)) {
        std::perror("write");
        std::abort();
    }
    check(vellumor::fuzz::checkDefaultsFile(file, true));
    return 0;
}
