#include <gtest/gtest.h>

#include "platform/Screen.h"
#include "platform/WindowLevel.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

using namespace platform;

using OverlayWindowTest = ProgramTest;

// Borderless, one level above the desktop icons, on every Space, never key or main, keeping
// any frame; below ordinary windows, it takes the clicks on it without taking the focus.
TEST_F(OverlayWindowTest, SitsAboveTheIconsBelowWindowsAndTakesClicksWithoutFocus) {
    auto& desktop = launch({kPrimary, {1920.0, 0.0, 1920.0, 1080.0}});
    const WindowLevel iconLevel = CGWindowLevelForKey(WindowLevelKey::kCGDesktopIconWindowLevelKey);
    const Screen screen(kPrimary);
    for (OverlayWindow* overlay : overlays()) {
        EXPECT_EQ(overlay->styleMask(), NSWindowStyleMaskBorderless);
        EXPECT_EQ(overlay->level(), iconLevel + 1);
        // Can join all spaces (1), stationary (16), ignores cycle (64).
        EXPECT_EQ(overlay->collectionBehavior(), 81u);
        EXPECT_FALSE(overlay->ignoresMouseEvents() || overlay->canBecomeKey() ||
                     overlay->canBecomeMain());
        for (const Rect& proposal :
             {Rect{-5000.0, 9000.0, 10.0, 10.0}, Rect{0.0, 1060.0, 1920.0, 1080.0}}) {
            EXPECT_EQ(overlay->constrainFrameRect(proposal, &screen), proposal);
            EXPECT_EQ(overlay->constrainFrameRect(proposal, nullptr), proposal);
        }
    }

    Window ordinary({100.0, 100.0, 400.0, 300.0}, NSWindowStyleMaskTitled,
                    NSBackingStoreType::NSBackingStoreBuffered, false);
    ordinary.orderFront(nullptr);
    overlays().front()->orderFront(nullptr);
    EXPECT_EQ(desktop.windowsFrontToBack().front(), &ordinary);
    EXPECT_EQ(desktop.click({150.0, 150.0}).window, &ordinary);
    ordinary.orderOut(nullptr);
    for (const Point point : {Point{10.0, 10.0}, Point{2500.0, 500.0}}) {
        EXPECT_NE(dynamic_cast<OverlayWindow*>(desktop.click(point).window), nullptr);
        EXPECT_TRUE(desktop.keyWindow() == nullptr && desktop.mainWindow() == nullptr);
    }
}

}  // namespace
}  // namespace vellumor::testing
