#include <gtest/gtest.h>

#include <set>

#include "tests/support/ProgramTest.h"

// How attaching, removing and resizing displays rebuilds the overlays is proven by the display
// storm among the reliability tests; these are the cases a storm does not reach.

namespace vellumor::testing {
namespace {

using platform::Rect;

class DisplayChangeTest : public ProgramTest {};

TEST_F(DisplayChangeTest, ANotificationWithNothingChangedStillRebuilds) {
    auto& desktop = launch({kPrimary, {1920.0, 0.0, 1280.0, 1024.0}});
    std::set<std::size_t> before;
    for (OverlayWindow* overlay : overlays()) {
        before.insert(desktop.windowNumber(*overlay));
    }

    desktop.postScreenParametersChanged();

    EXPECT_EQ(overlayFrames(), (std::vector<Rect>{kPrimary, {1920.0, 0.0, 1280.0, 1024.0}}));
    for (OverlayWindow* overlay : overlays()) {
        EXPECT_TRUE(overlay->isVisible());
        EXPECT_FALSE(before.contains(desktop.windowNumber(*overlay))) << "an overlay was reused";
    }
    EXPECT_EQ(desktop.windows().size(), 2u);
    EXPECT_EQ(desktop.windowsDestroyed(), 2u);
}

TEST_F(DisplayChangeTest, HiddenOverlaysAreShownAgainByARebuild) {
    auto& desktop = launch();
    for (OverlayWindow* overlay : overlays()) {
        overlay->orderOut(nullptr);
    }
    const Rect second{1920.0, 0.0, 1280.0, 1024.0};
    desktop.attachScreen(second);

    EXPECT_EQ(overlayFrames(), (std::vector<Rect>{kPrimary, second}));
    for (OverlayWindow* overlay : overlays()) {
        EXPECT_TRUE(overlay->isVisible());
    }
}

}  // namespace
}  // namespace vellumor::testing
