#include <gtest/gtest.h>

#include <limits>

#include "main/ColorManager.h"
#include "platform/NotificationCenter.h"
#include "platform/Screen.h"
#include "platform/WindowLevel.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

using platform::Color;
using platform::Point;
using platform::Rect;

class OverlayWindowTest : public ProgramTest {};

TEST_F(OverlayWindowTest, IsABorderlessWindowOneLevelAboveTheDesktopIconsOnEverySpace) {
    launch({kPrimary, {-1280.0, -1024.0, 1280.0, 1024.0}});

    const platform::WindowLevel iconLevel =
        platform::CGWindowLevelForKey(platform::WindowLevelKey::kCGDesktopIconWindowLevelKey);
    // The window server's level sits near the bottom of the 32-bit range; one above it must
    // still be one above it.
    EXPECT_LT(iconLevel, 0);
    ASSERT_EQ(overlays().size(), 2u);
    for (OverlayWindow* overlay : overlays()) {
        EXPECT_EQ(overlay->styleMask(), platform::NSWindowStyleMaskBorderless);
        EXPECT_EQ(overlay->level(), iconLevel + 1);
        EXPECT_LT(overlay->level(), platform::NSNormalWindowLevel);
        EXPECT_EQ(overlay->collectionBehavior(), 81u);
        EXPECT_FALSE(overlay->ignoresMouseEvents());
        EXPECT_FALSE(overlay->canBecomeKey());
        EXPECT_FALSE(overlay->canBecomeMain());
    }
    EXPECT_EQ(overlays()[1]->frame(), (Rect{-1280.0, -1024.0, 1280.0, 1024.0}));

    // Whatever rectangle it is asked to constrain, on a screen or none, it keeps.
    const platform::Screen screen(kPrimary);
    for (const Rect& proposal : {Rect{0.0, 0.0, 1920.0, 1080.0}, Rect{-5000.0, 9000.0, 10.0, 10.0},
                                 Rect{0.0, 1060.0, 1920.0, 1080.0}, Rect{3.5, -7.25, 0.0, 0.0}}) {
        EXPECT_EQ(overlays()[0]->constrainFrameRect(proposal, &screen), proposal);
        EXPECT_EQ(overlays()[0]->constrainFrameRect(proposal, nullptr), proposal);
    }
}

// Below every ordinary window, the overlays take the clicks on them without the focus, so
// that none reaches the desktop while they are shown.
TEST_F(OverlayWindowTest, LiesBelowOrdinaryWindowsAndTakesClicksWithoutFocus) {
    auto& desktop = launch({kPrimary, {1920.0, 0.0, 1920.0, 1080.0}});
    platform::Window ordinary({100.0, 100.0, 400.0, 300.0}, platform::NSWindowStyleMaskTitled,
                              platform::NSBackingStoreType::NSBackingStoreBuffered, false);
    ordinary.orderFront(nullptr);
    // Shown again after the ordinary window, the overlay still stays behind it.
    overlays().front()->orderFront(nullptr);
    EXPECT_EQ(desktop.windowsFrontToBack().front(), &ordinary);
    EXPECT_EQ(desktop.click({150.0, 150.0}).window, &ordinary);
    ordinary.orderOut(nullptr);

    for (const Point point : {Point{10.0, 10.0}, Point{1919.0, 1079.0}, Point{2500.0, 500.0}}) {
        const auto result = desktop.click(point);
        EXPECT_FALSE(result.reachedDesktop);
        EXPECT_NE(dynamic_cast<OverlayWindow*>(result.window), nullptr);
        EXPECT_EQ(desktop.keyWindow(), nullptr);
        EXPECT_EQ(desktop.mainWindow(), nullptr);
    }
    // Hidden overlays take nothing: the desktop is reachable again.
    for (OverlayWindow* overlay : overlays()) {
        overlay->orderOut(nullptr);
    }
    EXPECT_TRUE(desktop.click({10.0, 10.0}).reachedDesktop);
}

TEST_F(OverlayWindowTest, EveryOverlayShownOrHiddenTakesTheStoredColourOnEachChange) {
    launch({kPrimary, {1920.0, 0.0, 1920.0, 1080.0}, {0.0, 1080.0, 1920.0, 1080.0}});
    ASSERT_EQ(overlays().size(), 3u);
    overlays()[1]->orderOut(nullptr);
    EXPECT_FALSE(overlays()[1]->isVisible());

    const Color teal = Color::colorWithCalibratedRed(0.0, 0.5, 0.5, 1.0);
    ColorManager::shared().setCurrentColor(teal);
    EXPECT_EQ(overlayColors(), std::vector(3, teal));

    // A post from any sender, with no new colour, makes each overlay read the store again.
    platform::Object someSender;
    for (OverlayWindow* overlay : overlays()) {
        overlay->setBackgroundColor(Color::colorWithDeviceWhite(1.0, 1.0));
    }
    platform::NotificationCenter::defaultCenter().postNotificationName(notification::colorDidChange,
                                                                       &someSender);
    EXPECT_EQ(overlayColors(), std::vector(3, teal));
    // Shown again later, the hidden overlay already has the new colour.
    overlays()[1]->orderFront(nullptr);
    EXPECT_EQ(overlays()[1]->backgroundColor(), teal);
}

}  // namespace
}  // namespace vellumor::testing
