#include <gtest/gtest.h>

#include <set>

#include "main/ColorManager.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

using platform::Color;
using platform::Rect;

class ShowHideQuitTest : public ProgramTest {};

TEST_F(ShowHideQuitTest, ToggleFlipsEachOverlayOnItsOwnStateAndKeepsTheList) {
    auto& desktop = launch({kPrimary, {1920.0, 0.0, 1920.0, 1080.0}});
    const auto before = overlays();

    ASSERT_TRUE(desktop.chooseStatusMenuEntry("Toggle Show/Hide"));
    EXPECT_EQ(overlayVisibility(), (std::vector<bool>{false, false}));
    EXPECT_TRUE(desktop.click({10.0, 10.0}).reachedDesktop);
    ASSERT_TRUE(desktop.chooseStatusMenuEntry("Toggle Show/Hide"));
    EXPECT_EQ(overlayVisibility(), (std::vector<bool>{true, true}));
    EXPECT_EQ(overlays(), before);
    // Still titled "Toggle Show/Hide" and enabled: the title does not switch to Show or Hide.
    EXPECT_TRUE(menuEntryEnabled("Toggle Show/Hide"));

    // Not one state for all: an overlay hidden on its own is shown by the next toggle.
    overlays()[1]->orderOut(nullptr);
    desktop.chooseStatusMenuEntry("Toggle Show/Hide");
    EXPECT_EQ(overlayVisibility(), (std::vector<bool>{false, true}));
}

// A display notice rebuilds the overlays even when nothing changed, and shows the new ones
// whatever the toggle left. (How display changes rebuild them is proven by the display storm
// among the reliability tests.)
TEST_F(ShowHideQuitTest, ADisplayNoticeWithNothingChangedRebuildsHiddenOverlaysShown) {
    const std::vector<Rect> two = {kPrimary, {1920.0, 0.0, 1280.0, 1024.0}};
    auto& desktop = launch(two);
    std::set<std::size_t> before;
    for (OverlayWindow* overlay : overlays()) {
        before.insert(desktop.windowNumber(*overlay));
    }
    desktop.chooseStatusMenuEntry("Toggle Show/Hide");

    desktop.postScreenParametersChanged();

    EXPECT_EQ(overlayFrames(), two);
    for (OverlayWindow* overlay : overlays()) {
        EXPECT_TRUE(overlay->isVisible());
        EXPECT_FALSE(before.contains(desktop.windowNumber(*overlay))) << "an overlay was reused";
    }
    EXPECT_EQ(desktop.windows().size(), 2u);
    EXPECT_EQ(desktop.windowsDestroyed(), 2u);
}

// Quit touches neither the overlays nor the store; the next launch shows every overlay, in
// the colour picked before, whatever the toggle left.
TEST_F(ShowHideQuitTest, QuitOnlyEndsTheProgramAndTheNextLaunchShowsTheStoredColour) {
    auto& desktop = launch();
    const Color picked = Color::colorWithCalibratedRed(0.8, 0.2, 0.1, 1.0);
    ColorManager::shared().setCurrentColor(picked);
    desktop.chooseStatusMenuEntry("Toggle Show/Hide");
    const auto journalBefore = desktop.journal().size();

    ASSERT_TRUE(desktop.chooseStatusMenuEntry("Quit"));
    EXPECT_TRUE(desktop.isTerminated());
    const std::vector<std::string> after(
        desktop.journal().begin() + static_cast<std::ptrdiff_t>(journalBefore),
        desktop.journal().end());
    EXPECT_EQ(after, std::vector<std::string>{"terminate"});

    launch({kPrimary});
    ASSERT_EQ(overlays().size(), 1u);
    EXPECT_TRUE(overlays().front()->isVisible());
    EXPECT_EQ(overlays().front()->backgroundColor(), picked);
}

}  // namespace
}  // namespace vellumor::testing
