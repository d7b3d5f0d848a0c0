// What the colour archiver writes beyond the kept archives it must reproduce byte for byte
// (StoredFormsTest): components outside the screen's range, and colours it must refuse.

#include "platform/common/KeyedArchive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string_view>

namespace {

using platform::Color;
using platform::common::archiveColor;
using namespace std::string_literals;

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

}  // namespace
