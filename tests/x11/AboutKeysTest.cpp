// The About window closes with Escape and with Ctrl+W, as small windows on Linux desktops do,
// and comes back, the same one, from the menu.

#include <gtest/gtest.h>

#include <thread>

#include "tests/x11/ShellTest.h"

namespace vellumor::x11test {
namespace {

class AboutKeysTest : public ShellTest {
protected:
    // Opens the About window from the menu; it is shown and has the keyboard.
    ::testing::AssertionResult openAbout(xcb_window_t* about) {
        if (!choose(kAbout)) {
            return ::testing::AssertionFailure() << "no menu";
        }
        const auto shown = awaitShown(kNormal);
        if (shown.size() != 1) {
            return ::testing::AssertionFailure() << shown.size() << " About windows";
        }
        *about = shown[0];
        if (!waitUntil([&] { return desktop_->activeWindow() == *about; })) {
            return ::testing::AssertionFailure() << "the About window is not active";
        }
        return ::testing::AssertionSuccess();
    }
};

TEST_F(AboutKeysTest, EscapeAndCtrlWCloseTheAboutWindowAndOtherKeysDoNot) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());
    xcb_window_t about = XCB_WINDOW_NONE;

    ASSERT_TRUE(openAbout(&about));
    const Geometry placed = desktop.geometry(about);
    desktop.run("xdotool key w key Return key shift+Escape");
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(desktop.viewable(about)) << "a key other than Escape or Ctrl+W closed it";
    desktop.run("xdotool key Escape");
    EXPECT_TRUE(waitUntil([&] { return desktop.shown(kNormal).empty(); }));

    ASSERT_TRUE(openAbout(&about));
    EXPECT_EQ(desktop.geometry(about), placed);
    desktop.run("xdotool key ctrl+w");
    EXPECT_TRUE(waitUntil([&] { return desktop.shown(kNormal).empty(); }));

    // Closed, not ended: the program and its About window are there to be shown again.
    ASSERT_TRUE(openAbout(&about));
    EXPECT_FALSE(vellumor_->waitForExit(0ms).has_value());
}

}  // namespace
}  // namespace vellumor::x11test
