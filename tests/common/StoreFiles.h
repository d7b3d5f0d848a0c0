#pragma once

// A directory of its own for each test of the stores, and the bytes of the files in it.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/PropertyValue.h"

namespace test {

namespace fs = std::filesystem;

// A fixture whose tests each get a new, empty directory `dir_`, removed afterwards.
class ScratchTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::path(testing::TempDir()) / "vellumor-store-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << pattern;
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
};

inline platform::Data readFile(const fs::path& file) {
    return {std::istreambuf_iterator<char>(std::ifstream(file, std::ios::binary).rdbuf()), {}};
}

inline void writeFile(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

// The names in `directory`.
inline std::set<std::string> entries(const fs::path& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

}  // namespace test
