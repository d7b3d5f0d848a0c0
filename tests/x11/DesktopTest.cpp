// Vellumor on a real X11 desktop (Xvfb, openbox, trayer), driven and inspected as a user
// would: through the screen's pixels, the window manager's view of the windows, the mouse and
// the keyboard.

#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

TEST_F(DesktopTest, OverlaysCoverEachMonitorExactlyInTheStoredColour) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());

    EXPECT_EQ(overlayGeometries(), sorted({kPrimary, kSecondary}));
    for (const xcb_window_t overlay : desktop.shown(kOverlay)) {
        for (const char* state :
             {"_NET_WM_STATE_BELOW", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
            EXPECT_TRUE(X11Desktop::contains(desktop.property(overlay, "_NET_WM_STATE"),
                                             desktop.atom(state)))
                << state;
        }
        // On every virtual desktop, and refusing keyboard focus: WM_HINTS' input hint is set
        // and says no.
        EXPECT_EQ(desktop.property(overlay, "_NET_WM_DESKTOP"), std::vector{0xFFFFFFFFU});
        const auto hints = desktop.property(overlay, "WM_HINTS");
        ASSERT_GE(hints.size(), 2U);
        EXPECT_EQ(hints[0] & 1U, 1U);
        EXPECT_EQ(hints[1], 0U);
    }
    EXPECT_TRUE(monitorsShow(kDefaultGrey));
    // Nothing beyond the monitors is covered.
    EXPECT_NE(desktop.pixel(kSecondary.x + kSecondary.width + 10, 10), kDefaultGrey);
    EXPECT_NE(desktop.pixel(kSecondary.x + 10, kSecondary.height + 10), kDefaultGrey);
}

TEST_F(DesktopTest, OverlaysLieBetweenDesktopAndOrdinaryWindowsAndTakeClicksWithoutFocus) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());
    // A file manager's desktop icons, mapped after the overlays, and an ordinary window.
    const xcb_window_t icons =
        desktop.createWindow({200, 200, 400, 300}, {200, 0, 0}, kOverlay, true);
    const xcb_window_t editor = desktop.createWindow({900, 300, 300, 200}, {0, 160, 0}, kNormal);
    const auto overlays = desktop.shown(kOverlay);
    ASSERT_EQ(overlays.size(), 2U);

    EXPECT_TRUE(waitUntil([&] { return above(overlays, {icons}); }))
        << "an overlay stays below the desktop icons";
    EXPECT_TRUE(waitUntil([&] { return desktop.pixel(400, 350) == kDefaultGrey; }));
    ASSERT_TRUE(waitUntil([&] { return desktop.viewable(editor); }));
    EXPECT_TRUE(above({editor}, overlays));
    EXPECT_EQ(desktop.pixel(1050, 400), (Rgb{0, 160, 0}));
    // The tray, a dock, stays above them too.
    EXPECT_TRUE(above(desktop.shown(kTrayIcon), overlays));

    desktop.run("xdotool mousemove 1050 400 click 1");
    ASSERT_TRUE(waitUntil([&] { return desktop.activeWindow() == editor; }));
    const auto shownWindows = [&] {
        const auto all = desktop.children(desktop.root());
        return std::count_if(all.begin(), all.end(), [&](auto w) { return desktop.viewable(w); });
    };
    const auto shownBefore = shownWindows();
    desktop.received(XCB_BUTTON_PRESS).clear();
    // Left and right clicks on the overlay over the icons, and one on the second monitor.
    desktop.run("xdotool mousemove 400 350 click 1 click 3 mousemove 2500 500 click 1");
    std::this_thread::sleep_for(300ms);
    for (const xcb_window_t overlay : overlays) {
        EXPECT_NE(desktop.activeWindow(), overlay);
        EXPECT_NE(desktop.inputFocus(), overlay);
        // The program takes the overlay's button presses, so none travels on to the window
        // manager's frame or the root (the desktop).
        EXPECT_NE(desktop.attributes(overlay)->all_event_masks & XCB_EVENT_MASK_BUTTON_PRESS, 0U);
    }
    EXPECT_TRUE(desktop.received(XCB_BUTTON_PRESS).empty()) << "a click reached the icons";
    // No root menu or other window opened from a click that reached the desktop.
    EXPECT_EQ(shownWindows(), shownBefore);
    EXPECT_TRUE(monitorsShow(kDefaultGrey));
}

TEST_F(DesktopTest, AboutEntryShowsOneWindowInFrontOfTheOverlaysThatClosesByKeyAndComesBack) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());

    ASSERT_TRUE(choose(kAbout));
    auto about = awaitShown(kNormal);
    ASSERT_FALSE(about.empty());
    const Geometry area = desktop.geometry(about[0]);
    EXPECT_EQ(area.width, 300);
    EXPECT_EQ(area.height, 320);
    // Centred on the primary monitor, within the height of a title bar.
    EXPECT_NEAR(area.x + area.width / 2, kPrimary.width / 2, 2);
    EXPECT_NEAR(area.y + area.height / 2, kPrimary.height / 2, 30);
    EXPECT_TRUE(above(about, desktop.shown(kOverlay)));
    // Its own surface, as it shows where no compositor blends windows.
    EXPECT_TRUE(waitUntil([&] {
        return desktop.pixel(area.x + 8, area.y + 8) == Rgb{40, 40, 42};
    })) << ::testing::PrintToString(desktop.pixel(area.x + 8, area.y + 8));
    EXPECT_TRUE(waitUntil([&] { return desktop.activeWindow() == about[0]; }));
    // Moved and closed but neither resized nor maximised: the actions the manager allows it
    // and draws buttons for. (openbox 3.6 allows minimising every normal window whatever its
    // hints say, so that one is not asked about.)
    const auto actions = desktop.property(about[0], "_NET_WM_ALLOWED_ACTIONS");
    for (const std::string action : {"CLOSE", "MOVE", "RESIZE", "MAXIMIZE_HORZ", "MAXIMIZE_VERT"}) {
        EXPECT_EQ(X11Desktop::contains(actions, desktop.atom("_NET_WM_ACTION_" + action)),
                  action == "CLOSE" || action == "MOVE")
            << action;
    }

    // A drag anywhere on its background moves it by as much as the pointer went.
    std::string drag = " mousedown 1";
    for (int step = 1; step <= 10; ++step) {
        drag += " sleep 0.02 mousemove " + std::to_string(area.x + 12 - 50 * step) + " " +
                std::to_string(area.y + 12 - 20 * step);
    }
    desktop.pointer(area.x + 12, area.y + 12, drag + " mouseup 1");
    const Geometry moved{area.x - 500, area.y - 200, area.width, area.height};
    EXPECT_TRUE(waitUntil([&] { return desktop.geometry(about[0]) == moved; }))
        << desktop.geometry(about[0]);

    // Other keys leave it open; the manager's close, Escape and Ctrl+W (as small windows on
    // Linux desktops close) each close it. Chosen again, it comes back where it was left,
    // still the only one (Qt gives it a new X window each time it is shown after a close).
    desktop.run("xdotool key w key Return key shift+Escape");
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(desktop.viewable(about[0])) << "a key other than Escape or Ctrl+W closed it";
    for (const char* close : {"alt+F4", "Escape", "ctrl+w"}) {
        SCOPED_TRACE(close);
        desktop.run(std::string("xdotool key ") + close);
        ASSERT_TRUE(waitUntil([&] { return desktop.shown(kNormal).empty(); }));
        ASSERT_TRUE(choose(kAbout));
        ASSERT_FALSE((about = awaitShown(kNormal)).empty());
        ASSERT_TRUE(waitUntil([&] { return desktop.activeWindow() == about[0]; }));
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(desktop.shown(kNormal).size(), 1U);
        EXPECT_EQ(desktop.geometry(about[0]), moved);
    }
    EXPECT_FALSE(vellumor_->waitForExit(0ms).has_value()) << "closing it ended the program";
}

TEST_F(DesktopTest, OverlaysAppearWhenTheWindowManagerDroppedTheirFirstMapRequests) {
    // As openbox 3.6 does until its startup is over.
    auto& desktop = startDesktop(true);
    desktop.swallowMapRequests(true);
    vellumor_ = desktop.launchVellumor();
    // Each overlay window asked to be mapped, and there are two of them.
    std::vector<xcb_window_t> overlays;
    ASSERT_TRUE(waitUntil([&] {
        overlays = desktop.vellumorWindows(kOverlay);
        return overlays.size() >= 2 && std::all_of(overlays.begin(), overlays.end(), [&](auto w) {
                   return X11Desktop::contains(desktop.received(XCB_MAP_REQUEST), w);
               });
    })) << overlays.size()
        << " overlay windows, " << desktop.received(XCB_MAP_REQUEST).size() << " map requests";
    EXPECT_EQ(overlays.size(), 2U);
    EXPECT_TRUE(desktop.shown(kOverlay).empty());

    // The manager is done starting: the program maps its overlays again.
    desktop.swallowMapRequests(false);
    EXPECT_TRUE(waitUntil([&] { return overlaysMatchMonitors(); }))
        << ::testing::PrintToString(overlayGeometries());
    EXPECT_TRUE(monitorsShow(kDefaultGrey));
}

}  // namespace
}  // namespace vellumor::x11test
