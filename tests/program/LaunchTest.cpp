#include <gtest/gtest.h>

#include "platform/Screen.h"
#include "platform/UserDefaults.h"
#include "platform/WindowLevel.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

using namespace platform;

const std::string kKey = "selectedBackgroundColor";
const Color kGrey = Color::colorWithCalibratedRed(0.1, 0.1, 0.1, 1.0);

class LaunchTest : public ProgramTest {
protected:
    UserDefaults& defaults() { return UserDefaults::standardUserDefaults(); }
    std::size_t entries() { return delegate().statusItem()->menu()->itemArray().size(); }
};

TEST_F(LaunchTest, BuildsTheMenuThenOneShownGreyOverlayPerDisplayThenTurnsAccessory) {
    const std::vector<Rect> three = {
        kPrimary, {1920.0, 0.0, 2560.0, 1440.0}, {-1280.0, -200.0, 1280.0, 1024.0}};
    auto& desktop = launch(three);

    ASSERT_EQ(desktop.statusItems().size(), 1u);
    ASSERT_NE(desktop.statusItems().front()->image(), nullptr);
    EXPECT_EQ(desktop.statusItems().front()->image()->name(), "square.fill.on.square.fill");
    // No entry has a target: each is enabled because its action reaches the delegate along
    // the responder chain. A separator is "-" without an action.
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"About Vellumor", "openAbout"},          {"-", ""}, {"Pick Color...", "pickColor"},
        {"Toggle Show/Hide", "toggleVisibility"}, {"-", ""}, {"Quit", "quitApp"}};
    const auto& items = delegate().statusItem()->menu()->itemArray();
    ASSERT_EQ(items.size(), expected.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const MenuItem& item = *items[i];
        EXPECT_EQ(std::pair(item.isSeparatorItem() ? "-" : item.title(), item.action()),
                  expected[i]);
        EXPECT_TRUE(item.target() == nullptr && item.keyEquivalent().empty()) << i;
        EXPECT_EQ(item.isEnabled(), !expected[i].second.empty()) << i;
    }

    EXPECT_EQ(ofOverlays(&OverlayWindow::frame), three);
    EXPECT_EQ(overlayColors(), std::vector(3, kGrey));
    EXPECT_EQ(ofOverlays(&OverlayWindow::isVisible), std::vector(3, true));
    EXPECT_EQ(desktop.windows().size(), 3u);
    EXPECT_FALSE(defaults().objectForKey(kKey).has_value()) << "launching stored the default";

    // The menu, then the overlays, then the policy, then the display observer.
    std::vector<std::size_t> steps;
    for (const char* step : {"statusItem setMenu", "createWindow", "orderFront #3",
                             "setActivationPolicy", "addObserver screenConfigurationChanged"}) {
        ASSERT_TRUE(desktop.journalIndex(step).has_value()) << step;
        steps.push_back(*desktop.journalIndex(step));
    }
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
    EXPECT_EQ(desktop.activationPolicy(),
              NSApplicationActivationPolicy::NSApplicationActivationPolicyAccessory);
}

// Borderless, one level above the desktop icons, on every Space, never key or main, keeping
// any frame; below ordinary windows, it takes the clicks on it without taking the focus.
TEST_F(LaunchTest, SitsAboveTheIconsBelowWindowsAndTakesClicksWithoutFocus) {
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

// Anything unreadable stored shows the grey and is left as it was.
TEST_F(LaunchTest, ShowsTheGreyForAnUnreadableValueAndLeavesItAlone) {
    launch();
    for (const PropertyValue& value :
         {PropertyValue{std::string("red")}, PropertyValue{Data{0xde, 0xad, 0xbe, 0xef}},
          PropertyValue{Data{'b', 'p', 'l', 'i', 's', 't', '0', '0'}}}) {
        defaults().setObject(value, kKey);
        launch();
        EXPECT_EQ(overlayColors(), std::vector{kGrey});
        EXPECT_EQ(defaults().objectForKey(kKey), value) << "reading rewrote the value";
    }
}

TEST_F(LaunchTest, GoesOnWithoutDisplaysStatusBarSymbolOrButton) {
    auto& bare = launch({});
    EXPECT_TRUE(bare.windows().empty());
    EXPECT_EQ(entries(), 6u);
    EXPECT_TRUE(bare.chooseStatusMenuEntry("Toggle Show/Hide"));
    bare.attachScreen(kPrimary);
    EXPECT_EQ(ofOverlays(&OverlayWindow::frame), std::vector{kPrimary});

    launch({kPrimary}, [](auto& platform) {
        platform.setStatusBarUnavailable(true);
    }).attachScreen({1920.0, 0.0, 800.0, 600.0});
    EXPECT_EQ(delegate().statusItem(), nullptr);
    EXPECT_EQ(overlays().size(), 2u);

    auto& noSymbol = launch({kPrimary}, [](auto& platform) {
        platform.setSystemSymbolAvailable("square.fill.on.square.fill", false);
    });
    EXPECT_EQ(noSymbol.statusItems().front()->image(), nullptr);
    EXPECT_EQ(entries(), 6u);

    launch({kPrimary}, [](auto& platform) { platform.setStatusItemsHaveNoButton(true); });
    EXPECT_EQ(delegate().statusItem()->button(), nullptr);
    EXPECT_EQ(entries(), 6u);
    EXPECT_EQ(overlays().size(), 1u);
}

}  // namespace
}  // namespace vellumor::testing
