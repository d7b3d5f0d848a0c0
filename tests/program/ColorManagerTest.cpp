#include <gtest/gtest.h>

#include <limits>

#include "main/ColorManager.h"
#include "platform/UserDefaults.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

using platform::Color;
using platform::ColorSpaceModel;
using platform::Data;
using platform::PropertyValue;

const std::string kKey = "selectedBackgroundColor";

class ColorManagerTest : public ProgramTest {
protected:
    platform::UserDefaults& defaults() { return platform::UserDefaults::standardUserDefaults(); }
    std::size_t storeWrites() {
        return static_cast<std::size_t>(std::count(
            desktop().journal().begin(), desktop().journal().end(), "defaults setObject " + kKey));
    }
};

// Nothing stored, or nothing readable: the default grey, and the stored value left as it is,
// in this process and the next.
TEST_F(ColorManagerTest, WithNothingReadableStoredReadsTheDefaultGreyAndWritesNothing) {
    launch();
    const Color grey = ColorManager::shared().currentColor();
    EXPECT_EQ(grey.colorSpaceModel(), ColorSpaceModel::CalibratedRGB);
    EXPECT_EQ(grey.components(), (std::vector<double>{0.1, 0.1, 0.1, 1.0}));
    EXPECT_FALSE(defaults().objectForKey(kKey).has_value());
    EXPECT_EQ(storeWrites(), 0u);

    const std::vector<PropertyValue> hostile = {
        std::string("red"),
        std::int64_t{42},
        Data{0xde, 0xad, 0xbe, 0xef, 0x00, 0x01},
        Data{},
        Data{'b', 'p', 'l', 'i', 's', 't', '0', '0'},
    };
    for (const PropertyValue& value : hostile) {
        defaults().setObject(value, kKey);
        EXPECT_EQ(ColorManager::shared().currentColor(), grey);
        EXPECT_EQ(defaults().objectForKey(kKey), value) << "a read must not rewrite the value";
        launch();
        EXPECT_EQ(ColorManager::shared().currentColor(), grey);
        EXPECT_EQ(defaults().objectForKey(kKey), value);
    }
}

// Each colour is stored before it is announced, even the same one twice; one that cannot be
// archived is neither.
TEST_F(ColorManagerTest, EveryWriteStoresBeforeItAnnouncesAndAnUnarchivableOneDoesNeither) {
    launch();
    ColorChanges changes;
    const Color blue = Color::colorWithCalibratedRed(0.0, 0.0, 1.0, 1.0);
    ColorManager::shared().setCurrentColor(blue);
    ColorManager::shared().setCurrentColor(blue);
    EXPECT_EQ(storeWrites(), 2u);
    // Each observer already saw the new colour in the store when it was told.
    EXPECT_EQ(changes.seen, (std::vector<Color>{blue, blue}));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    ColorManager::shared().setCurrentColor(Color::colorWithCalibratedRed(nan, 0.0, 0.0, 1.0));
    ColorManager::shared().setCurrentColor(
        Color::colorWithDeviceWhite(std::numeric_limits<double>::infinity(), 1.0));
    EXPECT_EQ(changes.seen.size(), 2u);
    EXPECT_EQ(storeWrites(), 2u);
    EXPECT_EQ(ColorManager::shared().currentColor(), blue);
}

}  // namespace
}  // namespace vellumor::testing
