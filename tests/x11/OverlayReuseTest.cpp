// Vellumor across a change of one monitor while others stay as they were: the overlays of the
// unchanged monitors never leave the screen, while the changed monitor's overlay is made or
// destroyed, and the colour and the stacking are right afterwards.

#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

class OverlayReuseTest : public DesktopTest {
protected:
    // The shown overlay covering `monitor`, or none.
    xcb_window_t overlayOn(const Geometry& monitor) {
        for (const xcb_window_t overlay : desktop_->shown(kOverlay)) {
            if (desktop_->geometry(overlay) == monitor) {
                return overlay;
            }
        }
        return XCB_WINDOW_NONE;
    }
    bool covered(const std::vector<Geometry>& monitors) {
        return waitUntil([&] { return overlayGeometries() == sorted(monitors); });
    }
};

TEST_F(OverlayReuseTest, UnchangedMonitorsKeepTheirOverlayOnScreenWhileAnotherChanges) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());
    // A file manager's icons on the primary monitor, below the overlays from the start.
    const xcb_window_t icons = desktop.createWindow({200, 200, 400, 300}, {200, 0, 0}, kOverlay);
    const xcb_window_t primary = overlayOn(kPrimary);
    const xcb_window_t secondary = overlayOn(kSecondary);
    ASSERT_NE(primary, XCB_WINDOW_NONE);
    ASSERT_NE(secondary, XCB_WINDOW_NONE);
    ASSERT_TRUE(waitUntil([&] { return above({primary}, {icons}); }));
    EventLog log(desktop.display());
    ASSERT_TRUE(log.watch(primary, XCB_EVENT_MASK_STRUCTURE_NOTIFY) &&
                log.watch(secondary, XCB_EVENT_MASK_STRUCTURE_NOTIFY));

    // A third monitor comes: only it gets a new overlay.
    const Geometry third{3200, 0, 1024, 768};
    ASSERT_TRUE(
        desktop.run("xrandr --setmonitor C " + X11Desktop::xrandrGeometry(third) + " none"));
    ASSERT_TRUE(covered({kPrimary, kSecondary, third}))
        << ::testing::PrintToString(overlayGeometries());
    EXPECT_EQ(overlayOn(kPrimary), primary);
    EXPECT_EQ(overlayOn(kSecondary), secondary);
    EXPECT_TRUE(monitorsShow(kDefaultGrey));
    const xcb_window_t added = overlayOn(third);
    ASSERT_NE(added, XCB_WINDOW_NONE);
    ASSERT_TRUE(log.watch(added, XCB_EVENT_MASK_STRUCTURE_NOTIFY));

    // It moves and shrinks: the server takes a monitor's new rectangle only after deleting it,
    // so this is two changes in one run of xrandr. Then the second monitor goes.
    const Geometry moved{3300, 100, 800, 600};
    ASSERT_TRUE(desktop.run("xrandr --delmonitor C --setmonitor C " +
                            X11Desktop::xrandrGeometry(moved) + " none"));
    ASSERT_TRUE(covered({kPrimary, kSecondary, moved}))
        << ::testing::PrintToString(overlayGeometries());
    EXPECT_EQ(overlayOn(kSecondary), secondary);
    EXPECT_EQ(log.count(XCB_UNMAP_NOTIFY, secondary), 0)
        << "the second monitor's overlay left the screen";
    ASSERT_TRUE(desktop.run("xrandr --delmonitor B"));
    ASSERT_TRUE(covered({kPrimary, moved})) << ::testing::PrintToString(overlayGeometries());
    // Whatever the program still does about these changes is done by then.
    std::this_thread::sleep_for(500ms);

    EXPECT_EQ(overlayOn(kPrimary), primary);
    EXPECT_EQ(log.count(XCB_UNMAP_NOTIFY, primary), 0)
        << "the primary monitor's overlay left the screen";
    EXPECT_EQ(log.count(XCB_DESTROY_NOTIFY, primary), 0);
    // The second monitor's overlay went with its monitor.
    EXPECT_EQ(log.count(XCB_DESTROY_NOTIFY, secondary), 1);
    EXPECT_EQ(log.count(XCB_DESTROY_NOTIFY, added), 1) << "the moved monitor kept its old overlay";
    // No overlay window is left behind, shown or not.
    EXPECT_EQ(desktop.vellumorWindows(kOverlay).size(), 2U);
    EXPECT_NE(desktop.pixel(2500, 500), kDefaultGrey);

    // The stacking: the icons stay below the kept and the new overlay, and a desktop window
    // mapped now goes below them too, while an ordinary window stays above.
    const auto overlays = desktop.shown(kOverlay);
    const xcb_window_t moreIcons =
        desktop.createWindow({3400, 200, 300, 200}, {200, 0, 0}, kOverlay);
    const xcb_window_t editor = desktop.createWindow({900, 300, 300, 200}, {0, 160, 0}, kNormal);
    EXPECT_TRUE(waitUntil([&] {
        return above(overlays, {icons, moreIcons});
    })) << "an overlay lies below desktop icons";
    ASSERT_TRUE(waitUntil([&] { return desktop.viewable(editor); }));
    EXPECT_TRUE(above({editor}, overlays));
    EXPECT_TRUE(waitUntil([&] { return monitorsShow(kDefaultGrey); }));
    EXPECT_EQ(desktop.pixel(1050, 400), (Rgb{0, 160, 0}));

    // The kept overlay follows the colour as the new one does.
    ASSERT_TRUE(choose(kPickColor));
    ASSERT_FALSE(awaitShown(kDialog).empty());
    desktop.run("xdotool key alt+h key ctrl+a type --delay 20 '#3366cc'");
    desktop.run("xdotool key Escape");
    const Rgb picked{0x33, 0x66, 0xcc};
    EXPECT_TRUE(waitUntil([&] {
        return desktop.pixel(10, 10) == picked &&
               desktop.pixel(moved.x + 10, moved.y + 10) == picked;
    }));
    EXPECT_EQ(log.count(XCB_UNMAP_NOTIFY, primary), 0);
}

}  // namespace
}  // namespace vellumor::x11test
