// Every input the fuzz targets keep (seed corpus and regression cases) replayed through their
// checks, and the colours held by the stored forms that this program and macOS have written:
// files of every such form must go on reading as the colour they hold.

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <map>

#include "platform/common/KeyedArchive.h"
#include "tests/common/StoreFiles.h"
#include "tests/fuzz/FuzzChecks.h"

namespace {

using platform::Color;
using platform::Data;
using test::fs::path;

const path kInputs = VELLUMOR_FUZZ_INPUTS;

// The kept inputs of `target`'s corpus, then every regression case, each in name order.
std::vector<path> inputsFor(const std::string& target) {
    std::vector<path> files;
    for (const path& directory : {kInputs / "corpus" / target, kInputs / "regressions"}) {
        const auto first = files.size();
        for (const auto& entry : test::fs::recursive_directory_iterator(directory)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
        std::sort(files.begin() + static_cast<long>(first), files.end());
    }
    return files;
}

// The bytes of a kept input; large ones are kept gzip-compressed, under a name ending ".gz".
Data contents(const path& file) {
    if (file.extension() != ".gz") {
        return test::readFile(file);
    }
    const std::unique_ptr<gzFile_s, decltype(&gzclose)> in(gzopen(file.c_str(), "rb"), &gzclose);
    EXPECT_NE(in, nullptr) << file;
    Data bytes;
    std::array<std::uint8_t, 65536> chunk{};
    for (int count = 0; in && (count = gzread(in.get(), chunk.data(), chunk.size())) > 0;) {
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + count);
    }
    return bytes;
}

// What a seed's name says it holds: "ok-<name>" the colour `kept` gives for <name>, "bad-" none.
std::optional<Color> promised(const path& file, const std::map<std::string, Color>& kept) {
    const std::string name = file.stem().string();
    return name.starts_with("ok-") ? std::optional(kept.at(name.substr(3))) : std::nullopt;
}
// Seeds, and kept inputs named "bad-" wherever they are, promise what they give.
bool isSeed(const path& file, const std::string& target) {
    const std::string name = file.filename().string();
    return name.starts_with("bad-") ||
           (file.parent_path() == kInputs / "corpus" / target && name.starts_with("ok-"));
}
const std::vector<std::uint8_t> kAppleProfile = {0, 0, 2, 0x0C, 'a', 'p', 'p', 'l'};
const std::vector<std::uint8_t> kLcmsProfile = {0, 0, 2, 0x30, 'l', 'c', 'm', 's'};

// Each colour archive seed is kept as binary and as XML; the names marked `ours` are, in
// binary, byte for byte what this program writes for that colour.
struct KeptColour {
    Color color;
    bool ours;
};
const std::map<std::string, KeptColour> kColourArchives = {
    {"calibrated-rgb", {Color::colorWithCalibratedRed(0.1, 0.2, 0.3, 1), true}},
    {"calibrated-rgb-alpha", {Color::colorWithCalibratedRed(0.123456789, 0.5, 1, 0.25), true}},
    {"calibrated-white", {Color::colorWithCalibratedWhite(0.5, 1), true}},
    {"calibrated-white-alpha", {Color::colorWithCalibratedWhite(0.25, 0.75), true}},
    {"device-rgb", {Color::colorWithDeviceRed(1, 0, 0, 1), true}},
    {"device-rgb-alpha", {Color::colorWithDeviceRed(0, 0.3333333333, 1, 0.5), true}},
    {"device-white", {Color::colorWithDeviceWhite(0, 1), true}},
    {"device-white-alpha", {Color::colorWithDeviceWhite(1, 0.1), true}},
    {"custom-cmyk", {Color::colorWithCustomSpace({0.1, 0.2, 0.3, 0.4, 1}, 12, {}), true}},
    {"custom-icc", {Color::colorWithCustomSpace({0.2, 0.4, 0.6, 0.8}, 0, kAppleProfile), true}},
    {"custom-space-number", {Color::colorWithCustomSpace({0.9, 0.4, 0.1, 1}, 7, {}), true}},
    // Component text without a NUL, in exponent form, in six digits, as a string.
    {"custom-fallback-only", {Color::colorWithCalibratedRed(0.3, 0.2, 0.1, 1), false}},
    {"exponents", {Color::colorWithDeviceRed(0.001, 0.25, 1, 1), false}},
    {"six-digit-text", {Color::colorWithCalibratedRed(0.333333, 0.666667, 1, 0.5), false}},
    {"string-components", {Color::colorWithDeviceWhite(0.5, 0.25), false}},
    // macOS: keys in its order, the profile in an NSData object or a plain data object.
    {"macos-components-space-number",
     {Color::colorWithCustomSpace({0.9, 0.4, 0.1, 1}, 7, {}), false}},
    {"macos-icc-as-data-object",
     {Color::colorWithCustomSpace({0, 0, 1, 0.5}, 0, {'p', 'r', 'o', 'f', 'i', 'l', 'e'}), false}},
    {"macos-icc-in-nsdata",
     {Color::colorWithCustomSpace({0.5, 0.5, 0.5, 1}, 9, kLcmsProfile), false}},
};

TEST(StoredForms, EveryKeptColourArchiveReadsAsItsColourOrIsRefusedWithAReason) {
    std::map<std::string, Color> colours;
    for (const auto& [name, kept] : kColourArchives) {
        colours.emplace(name, kept.color);
    }
    std::size_t seeds = 0;
    for (const auto& file : inputsFor("unarchive_color")) {
        SCOPED_TRACE(file.string());
        const Data bytes = contents(file);
        std::optional<Color> color;
        EXPECT_EQ(vellumor::fuzz::checkColorArchive(bytes, &color), std::nullopt);
        if (!isSeed(file, "unarchive_color")) {
            continue;
        }
        ++seeds;
        const auto expected = promised(file, colours);
        EXPECT_EQ(color, expected);
        if (expected && file.extension() == ".bplist" &&
            kColourArchives.at(file.stem().string().substr(3)).ours) {
            EXPECT_EQ(platform::common::archiveColor(*expected), bytes) << "not what we write";
        }
    }
    EXPECT_GE(seeds, 2 * kColourArchives.size());
}

TEST(StoredForms, EveryKeptInputAsTheDefaultsFileReadsUntouchedAndTakesAWrite) {
    const Color seedColour = Color::colorWithDeviceRed(0.2, 0.4, 0.6, 0.8);
    const std::map<std::string, Color> colours = {
        {"binary", seedColour},
        {"only-the-colour", seedColour},
        {"xml", seedColour},
        {"custom-colour", Color::colorWithCustomSpace({0.1, 0.9, 0.5, 1}, 7, {1, 2, 3})},
    };
    std::string pattern = (test::fs::temp_directory_path() / "vellumor-replay-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const path domain = path(pattern) / "org.vellumor.Vellumor.plist";
    std::size_t seeds = 0;
    for (const auto& file : inputsFor("defaults_file")) {
        SCOPED_TRACE(file.string());
        const Data bytes = contents(file);
        test::writeFile(domain, bytes);
        EXPECT_EQ(vellumor::fuzz::checkXmlNesting(
                      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())),
                  std::nullopt);
        std::optional<Color> color;
        EXPECT_EQ(vellumor::fuzz::checkDefaultsFile(domain, true, &color), std::nullopt);
        if (isSeed(file, "defaults_file")) {
            ++seeds;
            EXPECT_EQ(color, promised(file, colours));
        }
    }
    EXPECT_GE(seeds, 12u);
    test::fs::remove_all(pattern);
}

}  // namespace
