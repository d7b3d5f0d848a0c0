// Vellumor's tray menu on openbox, entry by entry, as a user goes through it: About, a colour
// picked live on every overlay, hide and show, Quit, and the pick back at the next launch, on
// a desktop scaled to twice the size. A second launch meanwhile leaves the running one alone.

#include <sys/wait.h>

#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

// The About window's surface, as it shows where no compositor blends windows.
constexpr Rgb kAboutSurface{40, 40, 42};

class TrayMenuTest : public DesktopTest {
protected:
    // How many pixels of `window` differ from the About window's surface by more than 40 in
    // some channel, once two reads a little apart agree: how much is drawn on it.
    long ink(xcb_window_t window) {
        long last = -1, now = 0;
        waitUntil([&] {
            std::this_thread::sleep_for(100ms);
            now = std::ranges::count_if(grab(geometry(window)), [&](const Rgb& p) {
                return std::ranges::any_of(std::array<std::size_t, 3>{0, 1, 2}, [&](std::size_t i) {
                    return std::abs(p[i] - kAboutSurface[i]) > 40;
                });
            });
            return std::exchange(last, now) == now && now > 0;
        });
        return now;
    }
    // Picks an entry of the tray icon's menu: opens it with a click on the icon and goes down
    // to the entry with the keyboard; whether the menu opened and closed again.
    enum Entry : int { kAbout = 1, kPickColor, kToggle, kQuit };
    bool choose(Entry entry) {
        const Geometry at = geometry(awaitShown(kTrayIcon).at(0));
        // A press within Qt's double-click interval (400 ms) of the last one is a double click,
        // which opens no menu.
        std::this_thread::sleep_until(lastClick_ + 500ms);
        lastClick_ = std::chrono::steady_clock::now();
        // The pointer leaves the menu before the keys, lest it light an entry they start from.
        return run("xdotool mousemove " + std::to_string(at.x + at.width / 2) + " " +
                   std::to_string(at.y + at.height / 2) + " click 1") &&
               !awaitShown(kMenu).empty() &&
               run("xdotool mousemove 960 540 key" +
                   std::string(" Down Down Down Down", std::size_t(5 * entry)) + " Return") &&
               waitUntil([&] { return shown(kMenu).empty(); });
    }
    std::chrono::steady_clock::time_point lastClick_;
};

TEST_F(TrayMenuTest, EntriesWorkAndThePickIsBackAtTheNextLaunchScaled) {
    startDesktop();
    ASSERT_TRUE(launch());
    const auto windowsBefore = vellumorWindows();

    // Started again on the same display: it says so and ends, leaving the running one alone.
    auto second = launchVellumor();
    const auto status = second->waitForExit(10s);
    ASSERT_TRUE(status.has_value()) << "the second launch is still running";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_NE(fileText(dir_ / "vellumor.log").find("already running"), std::string::npos);
    EXPECT_EQ(vellumorWindows(), windowsBefore);
    EXPECT_FALSE(vellumor_->waitForExit(0ms).has_value()) << "the running one ended";

    // About: one window centred on the primary monitor in front of the overlays, active,
    // closed by Escape without ending the program.
    ASSERT_TRUE(choose(kAbout));
    auto about = awaitShown(kNormal);
    ASSERT_EQ(about.size(), 1U);
    const Geometry area = geometry(about[0]);
    EXPECT_EQ(area.width, 300);
    EXPECT_EQ(area.height, 320);
    EXPECT_NEAR(area.x + area.width / 2, kPrimary.width / 2, 2);
    EXPECT_NEAR(area.y + area.height / 2, kPrimary.height / 2, 30);
    EXPECT_TRUE(above(about, shown(kOverlay)));
    EXPECT_TRUE(waitUntil([&] { return inputFocus() == about[0]; }));
    const long drawn = ink(about[0]);
    run("xdotool key Escape");
    EXPECT_TRUE(waitUntil([&] { return shown(kNormal).empty(); }));

    // Pick Color: the dialog in front, a colour typed in its HTML field shows at once on the
    // second monitor's overlay (the dialog leaves it uncovered), then on every overlay.
    ASSERT_TRUE(choose(kPickColor));
    const auto panel = awaitShown(kDialog);
    ASSERT_FALSE(panel.empty());
    EXPECT_TRUE(above(panel, shown(kOverlay)));
    ASSERT_TRUE(waitUntil([&] { return inputFocus() == panel[0]; }));
    run("xdotool key alt+h key ctrl+a type --delay 20 '#113355'");
    const Rgb picked{0x11, 0x33, 0x55};
    EXPECT_TRUE(waitUntil([&] { return pixel(kSecondary.x + 10, 10) == picked; }));
    run("xdotool key Escape");
    ASSERT_TRUE(waitUntil([&] { return !viewable(panel[0]); }));
    EXPECT_TRUE(waitUntil([&] { return monitorsShow(picked); }));

    // Toggle hides every overlay, and again shows them all.
    ASSERT_TRUE(choose(kToggle));
    EXPECT_TRUE(waitUntil([&] { return shown(kOverlay).empty(); }));
    ASSERT_TRUE(choose(kToggle));
    EXPECT_TRUE(waitUntil([&] { return overlaysMatchMonitors() && monitorsShow(picked); }));

    // Quit ends the program cleanly and takes its windows.
    ASSERT_TRUE(choose(kQuit));
    const auto quit = vellumor_->waitForExit(5s);
    ASSERT_TRUE(quit.has_value()) << "Quit did not end the program";
    EXPECT_TRUE(WIFEXITED(*quit) && WEXITSTATUS(*quit) == 0) << *quit;
    EXPECT_TRUE(waitUntil([&] { return vellumorWindows().empty(); }));
    // The pick's look is what the next start shows first.
    EXPECT_EQ(fileText(dir_ / ".cache" / "vellumor" / "desktop-look"),
              "00113355 00ff0000 0000ff00 000000ff\n");

    // Started again on a desktop at 192 dpi, as desktops scale: the overlays cover each
    // monitor's pixels in the stored pick, and the About window and its content are twice the
    // size: four times as much is drawn, none of it cut off.
    ASSERT_TRUE(run("sh -c 'echo Xft.dpi: 192 | xrdb -merge'"));
    ASSERT_TRUE(launch());
    EXPECT_TRUE(waitUntil([&] { return monitorsShow(picked); }));
    ASSERT_TRUE(choose(kAbout));
    ASSERT_EQ((about = awaitShown(kNormal)).size(), 1U);
    const Geometry scaled = geometry(about[0]);
    EXPECT_EQ(scaled.width, 2 * area.width);
    EXPECT_EQ(scaled.height, 2 * area.height);
    const long grown = ink(about[0]);
    EXPECT_NEAR(double(grown) / double(drawn), 4.0, 0.5) << grown << " pixels drawn, " << drawn;
}

}  // namespace
}  // namespace vellumor::x11test
