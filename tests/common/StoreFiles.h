#pragma once

// A directory of its own for each test of the stores, the bytes of the files in it, and
// property lists built by hand.

#include <gtest/gtest.h>
#include <plist/plist.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

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
    std::ifstream in(file, std::ios::binary);
    return platform::Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <typename Bytes>
void writeFile(const fs::path& file, const Bytes& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

// The names in `directory`, sorted.
inline std::vector<std::string> entries(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct PlistFree {
    void operator()(void* node) const { plist_free(node); }
};
using Plist = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

// A dictionary that takes ownership of `entries`.
inline plist_t dict(std::initializer_list<std::pair<const char*, plist_t>> entries) {
    plist_t node = plist_new_dict();
    for (const auto& [key, value] : entries) {
        plist_dict_set_item(node, key, value);
    }
    return node;
}

inline plist_t array(std::initializer_list<plist_t> items) {
    plist_t node = plist_new_array();
    for (plist_t item : items) {
        plist_array_append_item(node, item);
    }
    return node;
}

inline std::string toXml(plist_t root) {
    char* out = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root, &out, &length);
    std::string text(out != nullptr ? out : "", length);
    plist_to_xml_free(out);
    return text;
}

inline Plist parse(const platform::Data& data) {
    plist_t root = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(data.data()),
                      static_cast<std::uint32_t>(data.size()), &root);
    return Plist(root);
}

}  // namespace test
