// Every input the fuzz targets keep (seed corpus and regression cases) replayed through their
// checks, and the colours held by the stored forms that this program and macOS have written:
// files of every such form must go on reading as the colour they hold. Then what the colour
// archiver writes beyond them (components outside the screen's range, colours it must refuse),
// and how deeply an XML domain nests, measured before libplist reads it since libplist frees
// the tree it built by recursion: the measure must never fall below what libplist builds.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>

#include "platform/common/KeyedArchive.h"
#include "platform/common/XmlNesting.h"
#include "tests/fuzz/FuzzChecks.h"

namespace {

using platform::Color;
using platform::Data;
using platform::common::archiveColor;
using namespace std::string_literals;
using std::filesystem::path;

const path kInputs = VELLUMOR_FUZZ_INPUTS;

// The bytes of a kept input; large ones are kept gzip-compressed, under a name ending ".gz",
// and zlib reads the others as they are.
Data contents(const path& file) {
    const gzFile in = gzopen(file.c_str(), "rb");
    EXPECT_NE(in, nullptr) << file;
    Data bytes;
    std::uint8_t chunk[65536];
    for (int count = 0; in != nullptr && (count = gzread(in, chunk, sizeof chunk)) > 0;) {
        bytes.insert(bytes.end(), chunk, chunk + count);
    }
    gzclose(in);
    return bytes;
}

// The colour a seed "ok-<name>" of a target's corpus holds, and whether this program writes
// exactly its binary form. Colour archive seeds are kept as binary and as XML.
struct KeptColour {
    Color color;
    bool ours = false;
};
const auto rgb = Color::colorWithCalibratedRed;
const auto deviceRgb = Color::colorWithDeviceRed;
const auto custom = Color::colorWithCustomSpace;
const std::vector<std::uint8_t> kAppleProfile = {0, 0, 2, 0x0C, 'a', 'p', 'p', 'l'};
const std::map<std::string, std::map<std::string, KeptColour>> kSeeds = {
    {"unarchive_color",
     {{"calibrated-rgb", {rgb(0.1, 0.2, 0.3, 1), true}},
      {"calibrated-rgb-alpha", {rgb(0.123456789, 0.5, 1, 0.25), true}},
      {"calibrated-white", {Color::colorWithCalibratedWhite(0.5, 1), true}},
      {"calibrated-white-alpha", {Color::colorWithCalibratedWhite(0.25, 0.75), true}},
      {"device-rgb", {deviceRgb(1, 0, 0, 1), true}},
      {"device-rgb-alpha", {deviceRgb(0, 0.3333333333, 1, 0.5), true}},
      {"device-white", {Color::colorWithDeviceWhite(0, 1), true}},
      {"device-white-alpha", {Color::colorWithDeviceWhite(1, 0.1), true}},
      {"custom-cmyk", {custom({0.1, 0.2, 0.3, 0.4, 1}, 12, {}), true}},
      {"custom-icc", {custom({0.2, 0.4, 0.6, 0.8}, 0, kAppleProfile), true}},
      {"custom-space-number", {custom({0.9, 0.4, 0.1, 1}, 7, {}), true}},
      // Component text without a NUL, in exponent form, in six digits, as a string.
      {"custom-fallback-only", {rgb(0.3, 0.2, 0.1, 1)}},
      {"exponents", {deviceRgb(0.001, 0.25, 1, 1)}},
      {"six-digit-text", {rgb(0.333333, 0.666667, 1, 0.5)}},
      {"string-components", {Color::colorWithDeviceWhite(0.5, 0.25)}},
      // macOS: keys in its order, the profile in an NSData object or a plain data object.
      {"macos-components-space-number", {custom({0.9, 0.4, 0.1, 1}, 7, {})}},
      {"macos-icc-as-data-object",
       {custom({0, 0, 1, 0.5}, 0, {'p', 'r', 'o', 'f', 'i', 'l', 'e'})}},
      {"macos-icc-in-nsdata",
       {custom({0.5, 0.5, 0.5, 1}, 9, {0, 0, 2, 0x30, 'l', 'c', 'm', 's'})}}}},
    {"defaults_file",
     {{"binary", {deviceRgb(0.2, 0.4, 0.6, 0.8)}},
      {"only-the-colour", {deviceRgb(0.2, 0.4, 0.6, 0.8)}},
      {"xml", {deviceRgb(0.2, 0.4, 0.6, 0.8)}},
      {"custom-colour", {custom({0.1, 0.9, 0.5, 1}, 7, {1, 2, 3})}}}},
};

// Every kept input keeps its target's promises. Seeds promise more: "ok-<name>" the colour of
// <name>, "bad-" (here or among the regressions) none.
TEST(StoredForms, EveryKeptInputKeepsItsPromisesAndEverySeedReadsAsTheColourItsNameGives) {
    for (const auto& [target, kept] : kSeeds) {
        SCOPED_TRACE(target);
        std::vector<path> files;
        for (const path& directory : {kInputs / "corpus" / target, kInputs / "regressions"}) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
        }
        std::size_t okSeeds = 0;
        for (const auto& file : files) {
            SCOPED_TRACE(file.string());
            const Data bytes = contents(file);
            std::optional<Color> color;
            EXPECT_EQ(vellumor::fuzz::check(target, bytes, &color), std::nullopt);
            const std::string name = file.stem().string();
            if (name.starts_with("bad-")) {
                EXPECT_EQ(color, std::nullopt);
            } else if (name.starts_with("ok-") && file.parent_path().filename() == target) {
                const KeptColour& seed = kept.at(name.substr(3));
                ++okSeeds;
                EXPECT_EQ(color, seed.color);
                if (seed.ours && file.extension() == ".bplist") {
                    EXPECT_EQ(archiveColor(seed.color), bytes) << "not ours";
                }
            }
        }
        EXPECT_EQ(okSeeds, kept.size() * (target == "unarchive_color" ? 2 : 1));
    }
}

// Whether the binary archive `archive` holds the bytes of `text` (data entries are kept raw).
bool holds(const std::optional<platform::Data>& archive, std::string_view text) {
    return archive && std::search(archive->begin(), archive->end(), text.begin(), text.end()) !=
                          archive->end();
}

TEST(KeyedArchive, ComponentsAreWrittenAsNSColorWritesThemWithAFallbackTheScreenCanShow) {
    const auto data = archiveColor(Color::colorWithCustomSpace({1e-7, 1.25, 2.5e10, 0.5}, 9, {}));
    EXPECT_TRUE(holds(data, "1e-07 1.25 2.5e+10 0.5\0"s));  // NSComponents
    EXPECT_TRUE(holds(data, "1e-07 1 1 0.5\0"s));           // NSRGB, within the screen's range
    // Ten significant digits, as printf("%.10g") in the C locale.
    const auto white = archiveColor(Color::colorWithDeviceWhite(123456.789012345, 1.0 / 3.0));
    EXPECT_TRUE(holds(white, "123456.789 0.3333333333\0"s));
}

TEST(KeyedArchive, RefusesColorsThatCouldNotBeReadBack) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& color : {
             Color::colorWithCalibratedRed(nan, 0, 0, 1), Color::colorWithDeviceRed(0, 0, 0, inf),
             Color::colorWithCalibratedWhite(-inf, 1),
             Color::colorWithCustomSpace({0.1, nan, 1.0}, 1, {}),
             Color::colorWithCustomSpace(std::vector<double>(17, 0.5), 1, {}),
             Color::labelColor(),  // names a system colour, not a value
         }) {
        std::string error;
        EXPECT_FALSE(archiveColor(color, &error).has_value());
        EXPECT_FALSE(error.empty());
    }
}

std::string repeated(const std::string& unit, std::size_t times) {
    std::string text;
    while (times-- > 0) {
        text += unit;
    }
    return text;
}

// Markup that hides a closing tag from a careless reading, or disguises an opening one, is
// among the replayed inputs (regressions/defaults_file/xml-150-deep-*), checked against the
// tree libplist builds. Where libplist builds none, opening tags count all the same: after a
// closing tag in text, and after the outermost container has closed (libplist stops there).
TEST(XmlNesting, MarkupThatHidesAClosingTagOrDisguisesAnOpeningOneNeverLowersTheBound) {
    const auto bound = [](const std::string& text, std::size_t enough = 1000) {
        return platform::common::detail::xmlNestingBound(text, enough);
    };
    EXPECT_GE(bound("<plist>" + repeated("<dict><key>a</array>b</key>", 150)), 150u);
    EXPECT_GE(bound("<plist><array></array>" + repeated("<array>", 150)), 150u);
    // Closed siblings stay as shallow as one; open tags count, and the count stops early.
    EXPECT_EQ(bound("<plist><array>" + repeated("<array><dict></dict></array>", 5000)), 3u);
    const std::string open = "<plist>" + repeated("<array>", 190000);
    EXPECT_GT(bound(open, 100), 100u);
    EXPECT_LE(bound(open, 100), 102u);
}

}  // namespace
