#include <gtest/gtest.h>

#include "main/ColorManager.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

using platform::Color;
using platform::Rect;

class ShowHideQuitTest : public ProgramTest {};

TEST_F(ShowHideQuitTest, AllFourEntriesAreEnabledOnceLaunched) {
    launch();
    for (const char* title : {"About Vellumor", "Pick Color...", "Toggle Show/Hide", "Quit"}) {
        EXPECT_TRUE(menuEntryEnabled(title)) << title;
    }
}

TEST_F(ShowHideQuitTest, ToggleHidesAllThenShowsAllWithoutChangingTheList) {
    auto& desktop = launch({kPrimary, {1920.0, 0.0, 1920.0, 1080.0}});
    const auto before = overlays();

    ASSERT_TRUE(desktop.chooseStatusMenuEntry("Toggle Show/Hide"));
    EXPECT_EQ(overlayVisibility(), (std::vector<bool>{false, false}));
    EXPECT_TRUE(desktop.click({10.0, 10.0}).reachedDesktop);
    EXPECT_EQ(overlays(), before);

    ASSERT_TRUE(desktop.chooseStatusMenuEntry("Toggle Show/Hide"));
    EXPECT_EQ(overlayVisibility(), (std::vector<bool>{true, true}));
    EXPECT_EQ(overlays(), before);
    // Still titled "Toggle Show/Hide" and enabled: the title does not switch to Show or Hide.
    EXPECT_TRUE(menuEntryEnabled("Toggle Show/Hide"));
}

TEST_F(ShowHideQuitTest, ToggleFlipsEachOverlayOnItsOwnState) {
    auto& desktop = launch({kPrimary, {1920.0, 0.0, 800.0, 600.0}, {0.0, 1080.0, 800.0, 600.0}});
    overlays()[1]->orderOut(nullptr);

    desktop.chooseStatusMenuEntry("Toggle Show/Hide");
    EXPECT_EQ(overlayVisibility(), (std::vector<bool>{false, true, false}));
}

TEST_F(ShowHideQuitTest, ToggleWithNoDisplayDoesNothing) {
    auto& desktop = launch({});
    EXPECT_TRUE(desktop.chooseStatusMenuEntry("Toggle Show/Hide"));
    EXPECT_TRUE(overlays().empty());
    EXPECT_TRUE(desktop.windows().empty());
}

TEST_F(ShowHideQuitTest, QuitEndsTheProgramWithoutTouchingTheOverlaysOrTheStore) {
    auto& desktop = launch();
    desktop.chooseStatusMenuEntry("Toggle Show/Hide");
    const auto journalBefore = desktop.journal().size();

    ASSERT_TRUE(desktop.chooseStatusMenuEntry("Quit"));
    EXPECT_TRUE(desktop.isTerminated());
    const std::vector<std::string> after(
        desktop.journal().begin() + static_cast<std::ptrdiff_t>(journalBefore),
        desktop.journal().end());
    EXPECT_EQ(after, std::vector<std::string>{"terminate"});
}

TEST_F(ShowHideQuitTest, AfterQuittingWithOverlaysHiddenTheNextLaunchShowsThemInTheStoredColour) {
    auto& desktop = launch();
    const Color picked = Color::colorWithCalibratedRed(0.8, 0.2, 0.1, 1.0);
    ColorManager::shared().setCurrentColor(picked);
    desktop.chooseStatusMenuEntry("Toggle Show/Hide");
    desktop.chooseStatusMenuEntry("Quit");

    launch({kPrimary});
    ASSERT_EQ(overlays().size(), 1u);
    EXPECT_TRUE(overlays().front()->isVisible());
    EXPECT_EQ(overlays().front()->backgroundColor(), picked);
}

}  // namespace
}  // namespace vellumor::testing
