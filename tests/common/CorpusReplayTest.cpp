#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>

#include "tests/fuzz/FuzzChecks.h"

namespace vellumor::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kInputs = VELLUMOR_FUZZ_INPUTS;

// Every kept input under `directory` (seed corpus or regression cases), in name order.
std::vector<fs::path> inputsUnder(const fs::path& directory) {
    std::vector<fs::path> files;
    if (!fs::is_directory(directory)) {
        return files;
    }
    for (const auto& entry : fs::recursive_directory_iterator(directory)) {
        if (entry.is_regular_file() && entry.path().filename().string().front() != '.') {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The bytes of a kept input; large ones are kept gzip-compressed, under a name ending ".gz".
platform::Data contents(const fs::path& file) {
    if (file.extension() != ".gz") {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        const std::string text = bytes.str();
        return platform::Data(text.begin(), text.end());
    }
    const std::unique_ptr<gzFile_s, decltype(&gzclose)> in(gzopen(file.c_str(), "rb"), &gzclose);
    EXPECT_NE(in, nullptr) << file;
    platform::Data bytes;
    std::array<std::uint8_t, 65536> chunk{};
    for (int count = 0;
         in != nullptr && (count = gzread(in.get(), chunk.data(), chunk.size())) > 0;) {
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + count);
    }
    return bytes;
}

void writeContents(const fs::path& file, const platform::Data& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Seeds name what they must give: "ok-" a colour, "bad-" none.
bool seedNamed(const fs::path& file, const std::string& target, const std::string& prefix) {
    return file.parent_path() == kInputs / "corpus" / target &&
           file.filename().string().rfind(prefix, 0) == 0;
}

class CorpusReplay : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vellumor-replay-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        directory_ = pattern;
    }
    void TearDown() override { fs::remove_all(directory_); }

    // Every input of `target`'s corpus and of all regression cases, as `target` would see it.
    std::vector<fs::path> inputsFor(const std::string& target) {
        auto files = inputsUnder(kInputs / "corpus" / target);
        const auto regressions = inputsUnder(kInputs / "regressions");
        files.insert(files.end(), regressions.begin(), regressions.end());
        return files;
    }

    fs::path directory_;
};

TEST_F(CorpusReplay, EveryKeptInputIsAColourArchiveOrRefusedWithAReason) {
    const auto files = inputsFor("unarchive_color");
    // The seeds cover every colour space and many ways of breaking an archive.
    ASSERT_GE(files.size(), 60u);
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        std::optional<platform::Color> color;
        EXPECT_EQ(fuzz::checkColorArchive(contents(file), &color), std::nullopt);
        if (seedNamed(file, "unarchive_color", "ok-")) {
            EXPECT_TRUE(color.has_value()) << "a colour archive was refused";
        }
        if (seedNamed(file, "unarchive_color", "bad-")) {
            EXPECT_FALSE(color.has_value()) << "a broken archive was read as a colour";
        }
    }
}

TEST_F(CorpusReplay, EveryKeptInputAsTheDefaultsFileReadsAndTakesAWrite) {
    const auto files = inputsFor("defaults_file");
    ASSERT_GE(files.size(), 10u);
    const fs::path domain = directory_ / "org.vellumor.Vellumor.plist";
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        const platform::Data bytes = contents(file);
        writeContents(domain, bytes);
        EXPECT_EQ(fuzz::checkXmlNesting(
                      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())),
                  std::nullopt);
        std::optional<platform::Color> color;
        EXPECT_EQ(fuzz::checkDefaultsFile(domain, true, &color), std::nullopt);
        if (seedNamed(file, "defaults_file", "ok-")) {
            EXPECT_TRUE(color.has_value()) << "the stored colour was not found";
        }
        if (seedNamed(file, "defaults_file", "bad-")) {
            EXPECT_FALSE(color.has_value()) << "a colour was found in a broken domain";
        }
    }
}

}  // namespace
}  // namespace vellumor::testing
