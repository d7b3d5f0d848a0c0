// Vellumor while the monitors change under it, until the X server goes:
// each change is followed, an unchanged monitor's overlay never leaves the screen, a storm of
// changes leaves nothing behind, and the loss of the server ends the program cleanly.

#include <sys/wait.h>

#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

using MonitorChangeTest = DesktopTest;

TEST_F(MonitorChangeTest, ChangesAreFollowedReusingUnchangedOverlaysUntilTheServerGoes) {
    startDesktop();
    ASSERT_TRUE(launch());
    // The shown overlay covering a monitor, or none.
    const auto overlayOn = [&](const Geometry& monitor) {
        const auto on = shown(kOverlay);
        const auto it = std::ranges::find_if(on, [&](auto o) { return geometry(o) == monitor; });
        return it != on.end() ? *it : xcb_window_t{XCB_WINDOW_NONE};
    };
    const auto covered = [&](const Geometries& monitors) {
        return waitUntil([&] { return overlayGeometries() == monitors; }, 30s);
    };
    const auto setMonitor = [&](const Geometry& g) {
        return run("xrandr --setmonitor C " + xrandrGeometry(g) + " none");
    };
    const xcb_window_t primary = overlayOn(kPrimary), secondary = overlayOn(kSecondary);
    ASSERT_NE(primary, XCB_WINDOW_NONE);
    ASSERT_NE(secondary, XCB_WINDOW_NONE);
    listen(primary, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    listen(secondary, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    const auto unmapped = [&](xcb_window_t w) { return contains(received(XCB_UNMAP_NOTIFY), w); };

    // A third monitor comes, moves and shrinks (the server takes a monitor's new rectangle
    // only after deleting it: two changes in one run of xrandr), then the second one goes.
    const Geometry third{3200, 0, 1024, 768}, moved{3300, 100, 800, 600};
    ASSERT_TRUE(setMonitor(third));
    ASSERT_TRUE(covered({kPrimary, kSecondary, third}));
    EXPECT_TRUE(monitorsShow(kDefaultGrey));
    ASSERT_TRUE(run("xrandr --delmonitor C --setmonitor C " + xrandrGeometry(moved) + " none"));
    ASSERT_TRUE(covered({kPrimary, kSecondary, moved}));
    EXPECT_EQ(overlayOn(kSecondary), secondary);
    EXPECT_FALSE(unmapped(secondary)) << "the second monitor's overlay left the screen";
    ASSERT_TRUE(run("xrandr --delmonitor B"));
    ASSERT_TRUE(covered({kPrimary, moved}));
    // Whatever the program still does about these changes is done by then.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(overlayOn(kPrimary), primary);
    EXPECT_FALSE(unmapped(primary)) << "the primary monitor's overlay left the screen";
    EXPECT_TRUE(contains(received(XCB_DESTROY_NOTIFY), secondary));
    EXPECT_EQ(vellumorWindows(kOverlay).size(), 2U) << "an overlay window is left";
    EXPECT_TRUE(monitorsShow(kDefaultGrey));
    EXPECT_NE(pixel(2500, 500), kDefaultGrey);

    // A storm: the third monitor goes and comes a hundred times, a little narrower each time
    // it comes. Once caught up, the program has as many windows as before.
    const std::size_t windowsBefore = vellumorWindows().size();
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(i % 2 == 0 ? run("xrandr --delmonitor C")
                               : setMonitor({3200, 0, 1024 - i % 16 * 32, 768}));
    }
    ASSERT_TRUE(run("xrandr --delmonitor C") && setMonitor(moved));
    EXPECT_TRUE(covered({kPrimary, moved}));
    EXPECT_TRUE(waitUntil([&] { return vellumorWindows().size() == windowsBefore; }));
    EXPECT_EQ(vellumorWindows(kOverlay).size(), 2U);
    EXPECT_FALSE(unmapped(primary));
    EXPECT_TRUE(waitUntil([&] { return monitorsShow(kDefaultGrey); }));

    // The server goes: the program ends at once with status 1 and says why.
    xvfb_.reset();
    const auto status = vellumor_->waitForExit(5s);
    ASSERT_TRUE(status.has_value()) << "vellumor still runs without its X server";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << "wait status " << *status;
    EXPECT_NE(fileText(dir_ / "vellumor.log").find("X11 connection"), std::string::npos);
}

}  // namespace
}  // namespace vellumor::x11test
