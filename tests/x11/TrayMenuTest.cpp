// Vellumor's tray menu on openbox, entry by entry, as a user goes through it: About, a colour
// picked live on every overlay, hide and show, Quit, and the pick back at the next launch, on
// a desktop scaled to twice the size. A second launch meanwhile leaves the running one alone.

#include <sys/wait.h>

#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

TEST_F(DesktopTest, TrayMenuEntriesWorkAndThePickIsBackAtTheNextLaunchScaled) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());
    const auto windowsBefore = desktop.vellumorWindows();

    // Started again on the same display: it says so and ends, leaving the running one alone.
    auto second = desktop.launchVellumor();
    const auto status = second->waitForExit(10s);
    ASSERT_TRUE(status.has_value()) << "the second launch is still running";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_NE(fileText(desktop.directory() / "vellumor.log").find("already running"),
              std::string::npos);
    EXPECT_EQ(desktop.vellumorWindows(), windowsBefore);
    EXPECT_FALSE(vellumor_->waitForExit(0ms).has_value()) << "the running one ended";

    // About: one window centred on the primary monitor in front of the overlays, active,
    // closed by Escape without ending the program.
    ASSERT_TRUE(choose(kAbout));
    auto about = awaitShown(kNormal);
    ASSERT_EQ(about.size(), 1U);
    const Geometry area = desktop.geometry(about[0]);
    EXPECT_EQ(area.width, 300);
    EXPECT_EQ(area.height, 320);
    EXPECT_NEAR(area.x + area.width / 2, kPrimary.width / 2, 2);
    EXPECT_NEAR(area.y + area.height / 2, kPrimary.height / 2, 30);
    EXPECT_TRUE(desktop.above(about, desktop.shown(kOverlay)));
    EXPECT_TRUE(waitUntil([&] { return desktop.inputFocus() == about[0]; }));
    const long ink = inkWithin(about[0], kAboutSurface);
    desktop.run("xdotool key Escape");
    EXPECT_TRUE(waitUntil([&] { return desktop.shown(kNormal).empty(); }));

    // Pick Color: the dialog in front, a colour typed in its HTML field shows at once on the
    // second monitor's overlay (the dialog leaves it uncovered), then on every overlay.
    ASSERT_TRUE(choose(kPickColor));
    const auto panel = awaitShown(kDialog);
    ASSERT_FALSE(panel.empty());
    EXPECT_TRUE(desktop.above(panel, desktop.shown(kOverlay)));
    ASSERT_TRUE(waitUntil([&] { return desktop.inputFocus() == panel[0]; }));
    desktop.run("xdotool key alt+h key ctrl+a type --delay 20 '#113355'");
    const Rgb picked{0x11, 0x33, 0x55};
    EXPECT_TRUE(waitUntil([&] { return desktop.pixel(kSecondary.x + 10, 10) == picked; }));
    desktop.run("xdotool key Escape");
    ASSERT_TRUE(waitUntil([&] { return !desktop.viewable(panel[0]); }));
    EXPECT_TRUE(waitUntil([&] { return monitorsShow(picked); }));

    // Toggle hides every overlay, and again shows them all.
    ASSERT_TRUE(choose(kToggle));
    EXPECT_TRUE(waitUntil([&] { return desktop.shown(kOverlay).empty(); }));
    ASSERT_TRUE(choose(kToggle));
    EXPECT_TRUE(waitUntil([&] { return overlaysMatchMonitors() && monitorsShow(picked); }));

    // Quit ends the program cleanly and takes its windows.
    ASSERT_TRUE(choose(kQuit));
    const auto quit = vellumor_->waitForExit(5s);
    ASSERT_TRUE(quit.has_value()) << "Quit did not end the program";
    EXPECT_TRUE(WIFEXITED(*quit) && WEXITSTATUS(*quit) == 0) << *quit;
    EXPECT_TRUE(waitUntil([&] { return desktop.vellumorWindows().empty(); }));

    // Started again on a desktop at 192 dpi, as desktops scale: the overlays cover each
    // monitor's pixels in the stored pick, and the About window and its content are twice the
    // size: four times as much is drawn, none of it cut off.
    ASSERT_TRUE(desktop.run("sh -c 'echo Xft.dpi: 192 | xrdb -merge'"));
    ASSERT_TRUE(launch());
    EXPECT_TRUE(waitUntil([&] { return monitorsShow(picked); }));
    ASSERT_TRUE(choose(kAbout));
    ASSERT_EQ((about = awaitShown(kNormal)).size(), 1U);
    const Geometry scaled = desktop.geometry(about[0]);
    EXPECT_EQ(scaled.width, 2 * area.width);
    EXPECT_EQ(scaled.height, 2 * area.height);
    const long grown = inkWithin(about[0], kAboutSurface);
    EXPECT_NEAR(double(grown) / double(ink), 4.0, 0.5) << grown << " pixels drawn, " << ink;
}

}  // namespace
}  // namespace vellumor::x11test
