#pragma once

// A directory of its own for each test of the defaults file, and what it holds.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace test {

// A new, empty directory under the test's temporary directory, named from `prefix`.
inline std::filesystem::path makeScratchDirectory(const std::string& prefix) {
    std::string pattern =
        (std::filesystem::path(testing::TempDir()) / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a directory from " << pattern;
        return {};
    }
    return pattern;
}

// The names in `directory`, sorted.
inline std::vector<std::string> entries(const std::filesystem::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace test
