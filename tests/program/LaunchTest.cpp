#include <gtest/gtest.h>

#include "platform/StatusBar.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

using platform::NSApplicationActivationPolicy;
using platform::Rect;

class LaunchTest : public ProgramTest {};

TEST_F(LaunchTest, CoversEachDisplayWithOneShownOverlayInDisplayOrder) {
    const std::vector<Rect> three = {
        kPrimary, {1920.0, 0.0, 2560.0, 1440.0}, {-1280.0, -200.0, 1280.0, 1024.0}};
    auto& desktop = launch(three);

    EXPECT_EQ(overlayFrames(), three);
    for (OverlayWindow* overlay : overlays()) {
        EXPECT_TRUE(overlay->isVisible());
        EXPECT_FALSE(desktop.isClosed(*overlay));
    }
    EXPECT_EQ(desktop.windows().size(), 3u);

    launch({kPrimary});
    ASSERT_EQ(overlayFrames(), std::vector<Rect>{kPrimary});
    EXPECT_TRUE(overlays().front()->isVisible());
}

TEST_F(LaunchTest, WithNoDisplayMakesNoOverlayButKeepsTheMenu) {
    auto& desktop = launch({});

    EXPECT_TRUE(overlays().empty());
    EXPECT_TRUE(desktop.windows().empty());
    ASSERT_NE(delegate().statusItem(), nullptr);
    EXPECT_EQ(menuTitles().size(), 6u);
    EXPECT_TRUE(desktop.chooseStatusMenuEntry("Toggle Show/Hide"));
    EXPECT_TRUE(desktop.windows().empty());

    // The next display change builds overlays for whatever displays then exist.
    desktop.attachScreen(kPrimary);
    EXPECT_EQ(overlayFrames(), std::vector<Rect>{kPrimary});
}

TEST_F(LaunchTest, BuildsStatusItemThenOverlaysThenTurnsAccessoryThenObservesDisplays) {
    auto& desktop = launch({kPrimary, {1920.0, 0.0, 1920.0, 1080.0}});

    const auto statusItem = desktop.journalIndex("statusItemWithLength");
    const auto menu = desktop.journalIndex("statusItem setMenu");
    const auto firstWindow = desktop.journalIndex("createWindow");
    const auto lastShown = desktop.journalIndex("orderFront #2");
    const auto policy = desktop.journalIndex("setActivationPolicy");
    const auto observer = desktop.journalIndex("addObserver screenConfigurationChanged");
    ASSERT_TRUE(statusItem && menu && firstWindow && lastShown && policy && observer);
    EXPECT_LT(*statusItem, *firstWindow);
    EXPECT_LT(*menu, *firstWindow);
    EXPECT_LT(*lastShown, *policy);
    EXPECT_LT(*policy, *observer);
    EXPECT_EQ(desktop.activationPolicy(),
              NSApplicationActivationPolicy::NSApplicationActivationPolicyAccessory);
}

TEST_F(LaunchTest, StatusItemShowsTheSymbolAndTheSixEntryMenuAllEnabled) {
    auto& desktop = launch();

    ASSERT_EQ(desktop.statusItems().size(), 1u);
    const auto* item = desktop.statusItems().front();
    EXPECT_EQ(item->length(), platform::NSVariableStatusItemLength);
    ASSERT_NE(item->image(), nullptr);
    EXPECT_EQ(item->image()->name(), "square.fill.on.square.fill");
    EXPECT_EQ(item->image()->accessibilityDescription(), "Vellumor");

    ASSERT_EQ(menuTitles(), (std::vector<std::string>{"About Vellumor", "-", "Pick Color...",
                                                      "Toggle Show/Hide", "-", "Quit"}));
    const auto& entries = delegate().statusItem()->menu()->itemArray();
    const std::vector<std::string> actions = {"openAbout",        "", "pickColor",
                                              "toggleVisibility", "", "quitApp"};
    for (std::size_t index = 0; index < entries.size(); ++index) {
        EXPECT_EQ(entries[index]->action(), actions[index]) << index;
        EXPECT_EQ(entries[index]->keyEquivalent(), "") << index;
        EXPECT_EQ(entries[index]->target(), nullptr) << index;
        EXPECT_EQ(entries[index]->isEnabled(), !actions[index].empty()) << index;
    }
}

TEST_F(LaunchTest, WithoutSymbolOrButtonTheItemStillHasItsMenu) {
    auto& noSymbol = launch({kPrimary}, [](auto& desktop) {
        desktop.setSystemSymbolAvailable("square.fill.on.square.fill", false);
    });
    ASSERT_EQ(noSymbol.statusItems().size(), 1u);
    EXPECT_EQ(noSymbol.statusItems().front()->image(), nullptr);
    EXPECT_EQ(menuTitles().size(), 6u);

    auto& noButton =
        launch({kPrimary}, [](auto& desktop) { desktop.setStatusItemsHaveNoButton(true); });
    ASSERT_EQ(noButton.statusItems().size(), 1u);
    EXPECT_EQ(delegate().statusItem()->button(), nullptr);
    EXPECT_EQ(noButton.statusItems().front()->image(), nullptr);
    EXPECT_EQ(menuTitles().size(), 6u);
}

TEST_F(LaunchTest, WithoutAStatusBarTheOverlaysStillCoverTheDisplays) {
    auto& desktop =
        launch({kPrimary}, [](auto& platform) { platform.setStatusBarUnavailable(true); });

    EXPECT_EQ(delegate().statusItem(), nullptr);
    EXPECT_EQ(overlayFrames(), std::vector<Rect>{kPrimary});
    desktop.attachScreen({1920.0, 0.0, 800.0, 600.0});
    EXPECT_EQ(overlays().size(), 2u);
}

}  // namespace
}  // namespace vellumor::testing
