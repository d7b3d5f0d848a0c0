#include <gtest/gtest.h>

#include "platform/UserDefaults.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

using namespace platform;

const std::string kKey = "selectedBackgroundColor";

class LaunchTest : public ProgramTest {
protected:
    UserDefaults& defaults() { return UserDefaults::standardUserDefaults(); }
};

TEST_F(LaunchTest, BuildsTheMenuThenOneShownGreyOverlayPerDisplayThenTurnsAccessory) {
    const std::vector<Rect> three = {
        kPrimary, {1920.0, 0.0, 2560.0, 1440.0}, {-1280.0, -200.0, 1280.0, 1024.0}};
    auto& desktop = launch(three);

    ASSERT_EQ(desktop.statusItems().size(), 1u);
    ASSERT_NE(desktop.statusItems().front()->image(), nullptr);
    EXPECT_EQ(desktop.statusItems().front()->image()->name(), "square.fill.on.square.fill");
    // No entry has a target: each is enabled because its action reaches the delegate along
    // the responder chain.
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"About Vellumor", "openAbout"},          {"-", ""}, {"Pick Color...", "pickColor"},
        {"Toggle Show/Hide", "toggleVisibility"}, {"-", ""}, {"Quit", "quitApp"}};
    const auto& items = delegate().statusItem()->menu()->itemArray();
    ASSERT_EQ(menuTitles().size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(menuTitles()[i], entries[i].first);
        EXPECT_EQ(items[i]->action(), entries[i].second);
        EXPECT_EQ(items[i]->target(), nullptr);
        EXPECT_EQ(items[i]->keyEquivalent(), "");
        EXPECT_EQ(items[i]->isEnabled(), !entries[i].second.empty()) << i;
    }

    EXPECT_EQ(overlayFrames(), three);
    EXPECT_EQ(overlayColors(), std::vector(3, Color::colorWithCalibratedRed(0.1, 0.1, 0.1, 1.0)));
    for (OverlayWindow* overlay : overlays()) {
        EXPECT_TRUE(overlay->isVisible());
    }
    EXPECT_EQ(desktop.windows().size(), 3u);
    EXPECT_FALSE(defaults().objectForKey(kKey).has_value()) << "launching stored the default";

    const auto menu = desktop.journalIndex("statusItem setMenu");
    const auto firstWindow = desktop.journalIndex("createWindow");
    const auto lastShown = desktop.journalIndex("orderFront #3");
    const auto policy = desktop.journalIndex("setActivationPolicy");
    const auto observer = desktop.journalIndex("addObserver screenConfigurationChanged");
    ASSERT_TRUE(menu && firstWindow && lastShown && policy && observer);
    EXPECT_LT(*menu, *firstWindow);
    EXPECT_LT(*lastShown, *policy);
    EXPECT_LT(*policy, *observer);
    EXPECT_EQ(desktop.activationPolicy(),
              NSApplicationActivationPolicy::NSApplicationActivationPolicyAccessory);
}

// Anything unreadable stored shows the grey and is left as it was.
TEST_F(LaunchTest, ShowsTheGreyForAnUnreadableValueAndLeavesItAlone) {
    launch();
    const Color grey = Color::colorWithCalibratedRed(0.1, 0.1, 0.1, 1.0);
    for (const PropertyValue& value :
         {PropertyValue{std::string("red")}, PropertyValue{Data{0xde, 0xad, 0xbe, 0xef}},
          PropertyValue{Data{'b', 'p', 'l', 'i', 's', 't', '0', '0'}}}) {
        defaults().setObject(value, kKey);
        launch();
        EXPECT_EQ(overlayColors(), std::vector{grey});
        EXPECT_EQ(defaults().objectForKey(kKey), value) << "reading rewrote the value";
    }
}

TEST_F(LaunchTest, GoesOnWithoutDisplaysStatusBarSymbolOrButton) {
    auto& bare = launch({});
    EXPECT_TRUE(bare.windows().empty());
    EXPECT_EQ(menuTitles().size(), 6u);
    EXPECT_TRUE(bare.chooseStatusMenuEntry("Toggle Show/Hide"));
    bare.attachScreen(kPrimary);
    EXPECT_EQ(overlayFrames(), std::vector{kPrimary});

    auto& noBar =
        launch({kPrimary}, [](auto& platform) { platform.setStatusBarUnavailable(true); });
    EXPECT_EQ(delegate().statusItem(), nullptr);
    noBar.attachScreen({1920.0, 0.0, 800.0, 600.0});
    EXPECT_EQ(overlays().size(), 2u);

    auto& noSymbol = launch({kPrimary}, [](auto& platform) {
        platform.setSystemSymbolAvailable("square.fill.on.square.fill", false);
    });
    EXPECT_EQ(noSymbol.statusItems().front()->image(), nullptr);
    EXPECT_EQ(menuTitles().size(), 6u);

    launch({kPrimary}, [](auto& platform) { platform.setStatusItemsHaveNoButton(true); });
    EXPECT_EQ(delegate().statusItem()->button(), nullptr);
    EXPECT_EQ(menuTitles().size(), 6u);
    EXPECT_EQ(overlayFrames(), std::vector{kPrimary});
}

}  // namespace
}  // namespace vellumor::testing
