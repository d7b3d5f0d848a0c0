// A colour picked in the dialog, from the stored one to the next launch: live on every overlay,
// through the toggle and Quit. The dialog offers no opacity, which the overlays cannot show: a
// translucent stored colour (as a Mac may leave) shows opaque on the overlays and in the
// dialog, and every pick is stored opaque.

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/Color.h"
#include "platform/common/DefaultsFile.h"
#include "platform/common/KeyedArchive.h"
#include "tests/x11/ShellTest.h"
#include "tests/x11/ShortRun.h"

namespace vellumor::x11test {
namespace {

constexpr char kKey[] = "selectedBackgroundColor";

class ColourPanelTest : public ShellTest {
protected:
    std::filesystem::path defaultsPath() const {
        return desktop_->directory() / "config/vellumor/org.vellumor.Vellumor.plist";
    }
    // How many pixels of the window show exactly `colour`: the dialog's swatch is a block of
    // the current colour, the only one of its size.
    long pixelsShowing(xcb_window_t window, const Rgb& colour) {
        const ScreenImage image = grab(desktop_->geometry(window));
        return std::count(image.pixels.begin(), image.pixels.end(), colour);
    }
};

TEST_F(ColourPanelTest, PickShowsLiveAndOpaqueThroughToggleQuitAndRelaunch) {
    startDesktop();
    std::filesystem::create_directories(defaultsPath().parent_path());
    const auto archive =
        platform::common::archiveColor(platform::Color::colorWithDeviceRed(0.2, 0.4, 0.8, 0.5));
    ASSERT_TRUE(archive.has_value());
    ASSERT_TRUE(platform::common::DefaultsFile(defaultsPath()).setObject(*archive, kKey));
    const Rgb stored{51, 102, 204};
    const std::string storedBytes = fileText(defaultsPath());

    ASSERT_TRUE(launch());
    EXPECT_TRUE(waitUntil([&] { return monitorsShow(stored); }));
    ASSERT_TRUE(choose(kPickColor));
    const auto panel = awaitShown(kDialog);
    ASSERT_FALSE(panel.empty());
    EXPECT_TRUE(above(panel, desktop_->shown(kOverlay)));
    ASSERT_TRUE(waitUntil([&] { return desktop_->activeWindow() == panel[0]; }));
    EXPECT_TRUE(waitUntil([&] { return pixelsShowing(panel[0], stored) >= 400; }))
        << pixelsShowing(panel[0], stored) << " pixels show the stored colour";
    EXPECT_EQ(fileText(defaultsPath()), storedBytes) << "opening the dialog stored something";

    // A pick in the HTML field, live on the overlays (the second monitor's, which the dialog
    // leaves uncovered).
    const auto secondMonitorShows = [&](const Rgb& colour) {
        return waitUntil([&] { return desktop_->pixel(kSecondary.x + 10, 10) == colour; });
    };
    desktop_->run("xdotool key alt+h key ctrl+a type --delay 20 '#cc6633'");
    EXPECT_TRUE(secondMonitorShows({0xcc, 0x66, 0x33}));
    // The opacity field's mnemonic leads nowhere: the HTML field keeps the keyboard and takes
    // the next pick.
    desktop_->run("xdotool key alt+l key ctrl+a type --delay 20 '#113355'");
    const Rgb picked{0x11, 0x33, 0x55};
    EXPECT_TRUE(secondMonitorShows(picked));
    EXPECT_TRUE(waitUntil([&] { return pixelsShowing(panel[0], picked) >= 400; }));
    desktop_->run("xdotool key Escape");
    ASSERT_TRUE(waitUntil([&] { return !desktop_->viewable(panel[0]); }));
    EXPECT_TRUE(monitorsShow(picked));

    const auto data = platform::common::DefaultsFile(defaultsPath()).dataForKey(kKey);
    ASSERT_TRUE(data.has_value());
    const auto colour = platform::common::unarchiveColor(*data);
    ASSERT_TRUE(colour.has_value());
    EXPECT_EQ(colour->alphaComponent(), 1.0);
    EXPECT_NEAR(colour->displayRed(), 0x11 / 255.0, 0.002);
    EXPECT_NEAR(colour->displayGreen(), 0x33 / 255.0, 0.002);
    EXPECT_NEAR(colour->displayBlue(), 0x55 / 255.0, 0.002);

    ASSERT_TRUE(choose(kToggle));
    EXPECT_TRUE(waitUntil([&] { return desktop_->shown(kOverlay).empty(); }));
    EXPECT_NE(desktop_->pixel(kPrimary.width / 2, kPrimary.height / 2), picked);
    ASSERT_TRUE(choose(kToggle));
    EXPECT_TRUE(waitUntil([&] { return overlaysMatchMonitors() && monitorsShow(picked); }));
    for (const xcb_window_t overlay : desktop_->shown(kOverlay)) {
        EXPECT_EQ(desktop_->property(overlay, "_NET_WM_DESKTOP"), std::vector{0xFFFFFFFFU});
    }

    // Quit ends the program cleanly, its menu used with the keyboard until the end; started
    // again, it shows the pick.
    ASSERT_TRUE(choose(kQuit));
    const auto status = vellumor_->waitForExit(5s);
    ASSERT_TRUE(status.has_value()) << "Quit did not end the program";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;
    EXPECT_TRUE(waitUntil([&] { return desktop_->shown(kOverlay).empty(); }));
    ASSERT_TRUE(launch());
    EXPECT_TRUE(waitUntil([&] { return monitorsShow(picked); }));
}

}  // namespace
}  // namespace vellumor::x11test
