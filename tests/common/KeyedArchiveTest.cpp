// What the colour archiver writes beyond the kept archives it must reproduce byte for byte
// (StoredFormsTest): components outside the screen's range, and colours it must refuse.

#include "platform/common/KeyedArchive.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/common/StoreFiles.h"

namespace {

using platform::Color;
using platform::common::archiveColor;

// The text of data entry `key` of the object `index` of an archive.
std::string entryText(const test::Plist& archive, std::uint32_t index, const char* key) {
    plist_t object = plist_access_path(archive.get(), 2, "$objects", index);
    std::uint64_t length = 0;
    const char* text = plist_get_data_ptr(plist_dict_get_item(object, key), &length);
    return text != nullptr ? std::string(text, length) : std::string("(none)");
}

TEST(KeyedArchive, ComponentsAreWrittenAsNSColorWritesThemWithAFallbackTheScreenCanShow) {
    const auto data = archiveColor(Color::colorWithCustomSpace({1e-7, 1.25, 2.5e10, 0.5}, 9, {}));
    ASSERT_TRUE(data.has_value());
    const test::Plist archive = test::parse(*data);
    using namespace std::string_literals;
    EXPECT_EQ(entryText(archive, 1, "NSComponents"), "1e-07 1.25 2.5e+10 0.5\0"s);
    EXPECT_EQ(entryText(archive, 1, "NSRGB"), "1e-07 1 1 0.5\0"s);
    // Ten significant digits, as printf("%.10g") in the C locale.
    const auto white = archiveColor(Color::colorWithDeviceWhite(123456.789012345, 1.0 / 3.0));
    ASSERT_TRUE(white.has_value());
    EXPECT_EQ(entryText(test::parse(*white), 1, "NSWhite"), "123456.789 0.3333333333\0"s);
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

}  // namespace
