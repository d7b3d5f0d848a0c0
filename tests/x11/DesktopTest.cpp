// Vellumor on a real X11 desktop (Xvfb, openbox, trayer), driven and inspected as a user
// would: through the screen's pixels, the window manager's view of the windows, the mouse and
// the keyboard.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

constexpr Geometry kPrimary{0, 0, 1920, 1080};
constexpr Geometry kSecondary{1920, 0, 1280, 1024};
// The stored colour's default: a grey of 0.1, as the screen shows it.
constexpr Rgb kDefaultGrey{26, 26, 26};
// The About window's surface where no compositor blends windows.
constexpr Rgb kAboutSurface{40, 40, 42};

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The text without the blanks around it, as a title bar shows it.
std::string shownText(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string()
                                      : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool containsGeometry(const std::vector<Geometry>& geometries, const Geometry& geometry) {
    return std::find(geometries.begin(), geometries.end(), geometry) != geometries.end();
}

std::vector<Geometry> sorted(std::vector<Geometry> geometries) {
    std::sort(geometries.begin(), geometries.end(), [](const Geometry& a, const Geometry& b) {
        return std::tie(a.x, a.y, a.width, a.height) < std::tie(b.x, b.y, b.width, b.height);
    });
    return geometries;
}

// Points spread over a monitor: its corners (but the bottom-right one, where the tray sits
// on the primary monitor), its edges' middles and its centre.
std::vector<std::pair<int, int>> samplePoints(const Geometry& g) {
    const int left = g.x;
    const int top = g.y;
    const int right = g.x + g.width - 1;
    const int bottom = g.y + g.height - 1;
    return {{left, top},
            {right, top},
            {left, bottom},
            {g.x + g.width / 2, g.y + g.height / 2},
            {left, g.y + g.height / 2},
            {right, g.y + g.height / 2},
            {g.x + g.width / 2, top},
            {g.x + g.width / 2, bottom - 40}};
}

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto missing = missingDesktopPrograms();
        if (!missing.empty()) {
            std::string names;
            for (const auto& name : missing) {
                names += " " + name;
            }
            GTEST_SKIP() << "not installed:" << names;
        }
    }

    void TearDown() override {
        if (HasFailure() && desktop_) {
            std::cerr << "--- vellumor output ---\n" << desktop_->vellumorLog();
        }
        // The program goes before the desktop it runs on.
        vellumor_.reset();
        desktop_.reset();
    }

    X11Desktop& startDesktop(bool tray = true, bool windowManager = true) {
        desktop_ = std::make_unique<X11Desktop>(X11Desktop::Options{
            {{"A", kPrimary, true}, {"B", kSecondary, false}}, tray, windowManager});
        return *desktop_;
    }

    X11Desktop& desktop() { return *desktop_; }

    // Starts vellumor and waits until it covers every monitor.
    ::testing::AssertionResult launch() {
        vellumor_ = desktop_->launchVellumor();
        if (waitUntil([&] { return overlaysMatchMonitors(); }, 10s)) {
            return ::testing::AssertionSuccess();
        }
        auto failure = ::testing::AssertionFailure()
                       << "overlays " << ::testing::PrintToString(overlayGeometries())
                       << " for monitors " << ::testing::PrintToString(desktop_->monitors());
        if (const auto status = vellumor_->waitForExit(0ms)) {
            failure << "; vellumor ended with status " << *status
                    << (WIFSIGNALED(*status) ? " (signal " + std::to_string(WTERMSIG(*status)) + ")"
                                             : std::string());
        }
        return failure;
    }

    std::vector<Geometry> overlayGeometries() {
        std::vector<Geometry> result;
        for (const xcb_window_t overlay : desktop_->shownOverlays()) {
            result.push_back(desktop_->geometry(overlay));
        }
        return sorted(result);
    }

    bool overlaysMatchMonitors() { return overlayGeometries() == sorted(desktop_->monitors()); }

    // Whether every sample point of every monitor shows `colour`, but those under the frames
    // of the windows in `covering`.
    bool monitorsShow(const Rgb& colour, const std::vector<xcb_window_t>& covering = {}) {
        std::vector<Geometry> frames;
        for (const xcb_window_t window : covering) {
            frames.push_back(desktop_->geometry(desktop_->topLevelOf(window)));
        }
        for (const Geometry& monitor : desktop_->monitors()) {
            for (const auto& [x, y] : samplePoints(monitor)) {
                const bool covered = std::any_of(frames.begin(), frames.end(), [&](auto& f) {
                    return x >= f.x && x < f.x + f.width && y >= f.y && y < f.y + f.height;
                });
                if (!covered && desktop_->pixel(x, y) != colour) {
                    return false;
                }
            }
        }
        return true;
    }

    // --- The status item's menu, used with the mouse.

    xcb_window_t trayIcon() {
        for (const xcb_window_t window : desktop_->vellumorWindows()) {
            const Geometry g = desktop_->geometry(window);
            if (desktop_->isViewable(window) && g.width <= 64 && g.height <= 64) {
                return window;
            }
        }
        return XCB_WINDOW_NONE;
    }

    xcb_window_t shownMenu() {
        for (const xcb_window_t window : desktop_->vellumorWindows()) {
            if (desktop_->isViewable(window) &&
                contains(desktop_->atomNames(window, "_NET_WM_WINDOW_TYPE"),
                         "_NET_WM_WINDOW_TYPE_POPUP_MENU")) {
                return window;
            }
        }
        return XCB_WINDOW_NONE;
    }

    // Clicks the tray icon with `button` and gives the centres (x, y) of the menu's entries,
    // top to bottom, found by hovering over the menu and seeing which rows light up.
    std::vector<std::pair<int, int>> openMenu(int button = 1) {
        const xcb_window_t icon = trayIcon();
        if (icon == XCB_WINDOW_NONE) {
            ADD_FAILURE() << "no tray icon";
            return {};
        }
        const Geometry iconArea = desktop_->geometry(icon);
        desktop_->click(iconArea.x + iconArea.width / 2, iconArea.y + iconArea.height / 2, button);
        xcb_window_t menu = XCB_WINDOW_NONE;
        if (!waitUntil([&] { return (menu = shownMenu()) != XCB_WINDOW_NONE; })) {
            ADD_FAILURE() << "the tray icon opened no menu";
            return {};
        }
        const Geometry area = desktop_->geometry(menu);
        // Inside an entry's highlight, left of any text.
        const int probeX = area.x + 4;
        // The menu as it opened, nothing lit: the pointer has not moved over it yet.
        std::this_thread::sleep_for(100ms);
        const auto plain = desktop_->column(probeX, area.y, area.height);
        std::set<std::pair<int, int>> bands;
        for (int y = 1; y < area.height - 1; y += 3) {
            desktop_->warpPointer(area.x + area.width / 2, area.y + y);
            std::this_thread::sleep_for(30ms);
            const auto lit = desktop_->column(probeX, area.y, area.height);
            const auto differs = [&](int row) {
                const auto index = static_cast<std::size_t>(row);
                return index < lit.size() && index < plain.size() && lit[index] != plain[index];
            };
            if (!differs(y)) {
                continue;  // over a separator or the frame
            }
            // The lit run of rows around the pointer is the entry under it.
            int first = y;
            int last = y;
            while (first > 0 && differs(first - 1)) {
                --first;
            }
            while (last + 1 < area.height && differs(last + 1)) {
                ++last;
            }
            bands.insert({first, last});
        }
        std::vector<std::pair<int, int>> centres;
        for (const auto& [first, last] : bands) {
            centres.emplace_back(area.x + area.width / 2, area.y + (first + last) / 2);
        }
        return centres;
    }

    // Opens the menu and clicks the entry at `index` (separators do not count).
    bool chooseMenuEntry(std::size_t index) {
        const auto entries = openMenu();
        if (entries.size() != 4) {
            std::string rows;
            for (const auto& [x, y] : entries) {
                rows += " " + std::to_string(y);
            }
            ADD_FAILURE() << "the menu has " << entries.size() << " entries, not 4, at" << rows;
            return false;
        }
        desktop_->click(entries[index].first, entries[index].second);
        return waitUntil([&] { return shownMenu() == XCB_WINDOW_NONE; });
    }

    // The shown vellumor window of ordinary type (or a dialog) whose title shows `title`;
    // an empty `title` stands for a title that shows no text.
    xcb_window_t shownWindowTitled(const std::string& title, bool dialog) {
        for (const xcb_window_t window : desktop_->vellumorWindows()) {
            const auto types = desktop_->atomNames(window, "_NET_WM_WINDOW_TYPE");
            if (desktop_->isViewable(window) &&
                contains(types, "_NET_WM_WINDOW_TYPE_DIALOG") == dialog &&
                contains(types, "_NET_WM_WINDOW_TYPE_NORMAL") &&
                !contains(types, "_KDE_NET_WM_WINDOW_TYPE_OVERRIDE") &&
                shownText(desktop_->propertyText(window, "_NET_WM_NAME")) == title) {
                return window;
            }
        }
        return XCB_WINDOW_NONE;
    }

    static constexpr std::size_t kAbout = 0;
    static constexpr std::size_t kPickColor = 1;
    static constexpr std::size_t kToggle = 2;
    static constexpr std::size_t kQuit = 3;

    std::unique_ptr<X11Desktop> desktop_;
    std::unique_ptr<ChildProcess> vellumor_;
};

TEST_F(DesktopTest, OverlaysCoverEachMonitorExactlyInTheStoredColour) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());

    EXPECT_EQ(overlayGeometries(), sorted({kPrimary, kSecondary}));
    for (const xcb_window_t overlay : desktop.shownOverlays()) {
        const auto states = desktop.atomNames(overlay, "_NET_WM_STATE");
        EXPECT_TRUE(contains(states, "_NET_WM_STATE_BELOW"));
        EXPECT_TRUE(contains(states, "_NET_WM_STATE_SKIP_TASKBAR"));
        EXPECT_TRUE(contains(states, "_NET_WM_STATE_SKIP_PAGER"));
        // On every virtual desktop.
        EXPECT_EQ(desktop.property32(overlay, "_NET_WM_DESKTOP"),
                  std::vector<std::uint32_t>{0xFFFFFFFF});
        // WM_HINTS: the input hint is set, and says no.
        const auto hints = desktop.property32(overlay, "WM_HINTS");
        ASSERT_GE(hints.size(), 2U);
        EXPECT_NE(hints[0] & 1U, 0U);
        EXPECT_EQ(hints[1], 0U);
    }
    EXPECT_TRUE(monitorsShow(kDefaultGrey));
    // Nothing beyond the monitors is covered.
    EXPECT_NE(desktop.pixel(kSecondary.x + kSecondary.width + 10, 10), kDefaultGrey);
    EXPECT_NE(desktop.pixel(kSecondary.x + 10, kSecondary.height + 10), kDefaultGrey);
}

TEST_F(DesktopTest, OverlaysLieAboveDesktopWindowsAndBelowWindowsAndDocks) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());

    // A file manager's desktop icons, mapped after the overlays, and an ordinary window.
    const Geometry iconsArea{200, 200, 400, 300};
    const xcb_window_t icons =
        desktop.createWindow(iconsArea, {200, 0, 0}, "_NET_WM_WINDOW_TYPE_DESKTOP");
    const Geometry editorArea{900, 300, 300, 200};
    const xcb_window_t editor =
        desktop.createWindow(editorArea, {0, 160, 0}, "_NET_WM_WINDOW_TYPE_NORMAL");
    const auto overlays = desktop.shownOverlays();
    ASSERT_EQ(overlays.size(), 2U);

    EXPECT_TRUE(waitUntil([&] {
        return std::all_of(overlays.begin(), overlays.end(),
                           [&](xcb_window_t overlay) { return desktop.isAbove(overlay, icons); });
    })) << "an overlay stays below the desktop icons";
    EXPECT_TRUE(waitUntil([&] { return desktop.pixel(400, 350) == kDefaultGrey; }));

    ASSERT_TRUE(waitUntil([&] { return desktop.isViewable(editor); }));
    const Geometry editorShown = desktop.geometry(editor);
    for (const xcb_window_t overlay : overlays) {
        EXPECT_TRUE(desktop.isAbove(editor, overlay));
    }
    EXPECT_EQ(desktop.pixel(editorShown.x + 150, editorShown.y + 100), (Rgb{0, 160, 0}));

    // The tray is a dock: it stays above the overlays.
    xcb_window_t dock = XCB_WINDOW_NONE;
    for (const xcb_window_t window : desktop.managedWindows()) {
        if (contains(desktop.atomNames(window, "_NET_WM_WINDOW_TYPE"),
                     "_NET_WM_WINDOW_TYPE_DOCK")) {
            dock = window;
        }
    }
    ASSERT_NE(dock, XCB_WINDOW_NONE);
    for (const xcb_window_t overlay : overlays) {
        EXPECT_TRUE(desktop.isAbove(dock, overlay));
    }
}

TEST_F(DesktopTest, ClicksOnOverlaysTakeNoFocusAndReachNothingBelow) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());
    const xcb_window_t icons = desktop.createWindow({200, 200, 400, 300}, {200, 0, 0},
                                                    "_NET_WM_WINDOW_TYPE_DESKTOP", true);
    const xcb_window_t editor =
        desktop.createWindow({900, 300, 300, 200}, {0, 160, 0}, "_NET_WM_WINDOW_TYPE_NORMAL");
    const auto overlays = desktop.shownOverlays();
    ASSERT_TRUE(waitUntil([&] { return desktop.isAbove(overlays.front(), icons); }));
    ASSERT_TRUE(waitUntil([&] { return desktop.isViewable(editor); }));
    const Geometry editorShown = desktop.geometry(editor);
    desktop.click(editorShown.x + 150, editorShown.y + 100);
    ASSERT_TRUE(waitUntil([&] { return desktop.activeWindow() == editor; }));
    desktop.takeButtonPresses();
    const auto before = desktop.stackingOrder();
    std::vector<xcb_window_t> shownBefore;
    for (const xcb_window_t window : before) {
        if (desktop.isViewable(window)) {
            shownBefore.push_back(window);
        }
    }

    // Left and right clicks on the overlay over the icons, and on the second monitor.
    desktop.click(400, 350, 1);
    desktop.click(400, 350, 3);
    desktop.click(2500, 500, 1);
    std::this_thread::sleep_for(300ms);

    for (const xcb_window_t overlay : overlays) {
        EXPECT_NE(desktop.activeWindow(), overlay);
        EXPECT_NE(desktop.inputFocus(), overlay);
        // A client takes the overlay's button presses, so none travels on to the window
        // manager's frame or the root (the desktop).
        EXPECT_NE(desktop.selectedEvents(overlay) & XCB_EVENT_MASK_BUTTON_PRESS, 0U);
    }
    const auto presses = desktop.takeButtonPresses();
    EXPECT_EQ(std::count(presses.begin(), presses.end(), icons), 0)
        << "a click reached the desktop icons under the overlay";
    // No root menu or other window opened from a click that reached the desktop.
    std::vector<xcb_window_t> shownAfter;
    for (const xcb_window_t window : desktop.stackingOrder()) {
        if (desktop.isViewable(window)) {
            shownAfter.push_back(window);
        }
    }
    EXPECT_EQ(shownAfter.size(), shownBefore.size());
    EXPECT_TRUE(monitorsShow(kDefaultGrey));
}

TEST_F(DesktopTest, MonitorChangesLeaveOneFreshOverlayPerMonitor) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());
    const xcb_window_t sample = desktop.shownOverlays().front();
    desktop.watchWindowCreation();

    // Attach a third monitor.
    ASSERT_TRUE(desktop.run({"xrandr", "--setmonitor", "C", "1024/271x768/203+3200+0", "none"}));
    EXPECT_TRUE(waitUntil([&] { return overlaysMatchMonitors(); }))
        << ::testing::PrintToString(overlayGeometries());
    EXPECT_EQ(overlayGeometries().size(), 3U);
    // The burst of server events for the change makes one rebuild: three new windows.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(desktop.takeWindowsCreatedByOwnerOf(sample).size(), 3U);
    EXPECT_TRUE(monitorsShow(kDefaultGrey));

    // Move and resize it (this server sets a monitor anew only after deleting it).
    ASSERT_TRUE(desktop.run({"xrandr", "--delmonitor", "C"}));
    ASSERT_TRUE(desktop.run({"xrandr", "--setmonitor", "C", "800/212x600/159+3300+100", "none"}));
    EXPECT_TRUE(waitUntil([&] {
        return overlaysMatchMonitors() &&
               containsGeometry(overlayGeometries(), Geometry{3300, 100, 800, 600});
    })) << ::testing::PrintToString(overlayGeometries());
    EXPECT_EQ(overlayGeometries().size(), 3U);

    // Detach the second one.
    ASSERT_TRUE(desktop.run({"xrandr", "--delmonitor", "B"}));
    EXPECT_TRUE(waitUntil([&] { return overlayGeometries().size() == 2U; }));
    EXPECT_EQ(overlayGeometries(), sorted({kPrimary, Geometry{3300, 100, 800, 600}}));
    EXPECT_TRUE(monitorsShow(kDefaultGrey));
    // The second monitor's area is bare again.
    EXPECT_NE(desktop.pixel(2500, 500), kDefaultGrey);
}

TEST_F(DesktopTest, AboutEntryShowsOneWindowInFrontOfTheOverlays) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());

    ASSERT_TRUE(chooseMenuEntry(kAbout));
    xcb_window_t about = XCB_WINDOW_NONE;
    ASSERT_TRUE(waitUntil([&] { return (about = shownWindowTitled("", false)) != 0; }));
    const Geometry area = desktop.geometry(about);
    EXPECT_EQ(area.width, 300);
    EXPECT_EQ(area.height, 320);
    // Centred on the primary monitor, within the height of a title bar.
    EXPECT_NEAR(area.x + area.width / 2, kPrimary.width / 2, 2);
    EXPECT_NEAR(area.y + area.height / 2, kPrimary.height / 2, 30);
    for (const xcb_window_t overlay : desktop.shownOverlays()) {
        EXPECT_TRUE(desktop.isAbove(about, overlay));
    }
    EXPECT_TRUE(waitUntil([&] { return desktop.pixel(area.x + 8, area.y + 8) == kAboutSurface; }))
        << desktop.pixel(area.x + 8, area.y + 8);
    EXPECT_TRUE(waitUntil([&] { return desktop.activeWindow() == about; }));
    // The window is moved and closed but neither resized nor maximised: the actions the
    // manager allows it, and draws buttons for. (openbox 3.6 allows minimising every normal
    // or dialog window whatever its hints say, so that one is not asked about.)
    const auto actions = desktop.atomNames(about, "_NET_WM_ALLOWED_ACTIONS");
    EXPECT_TRUE(contains(actions, "_NET_WM_ACTION_CLOSE")) << ::testing::PrintToString(actions);
    EXPECT_TRUE(contains(actions, "_NET_WM_ACTION_MOVE")) << ::testing::PrintToString(actions);
    for (const char* refused : {"_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ",
                                "_NET_WM_ACTION_MAXIMIZE_VERT"}) {
        EXPECT_FALSE(contains(actions, refused)) << ::testing::PrintToString(actions);
    }

    // A drag anywhere on its background moves it by as much as the pointer went.
    desktop.drag(area.x + 12, area.y + 12, area.x + 12 - 500, area.y + 12 - 200);
    EXPECT_TRUE(waitUntil([&] {
        return desktop.geometry(about) ==
               Geometry{area.x - 500, area.y - 200, area.width, area.height};
    })) << desktop.geometry(about);
    const Geometry moved = desktop.geometry(about);

    // Closed and chosen again: the window comes back where it was left, still the only one
    // (Qt gives it a new X window each time it is shown after a close).
    desktop.key("alt+F4");
    ASSERT_TRUE(waitUntil([&] { return shownWindowTitled("", false) == XCB_WINDOW_NONE; }));
    ASSERT_TRUE(chooseMenuEntry(kAbout));
    xcb_window_t again = XCB_WINDOW_NONE;
    ASSERT_TRUE(waitUntil([&] { return (again = shownWindowTitled("", false)) != 0; }));
    EXPECT_EQ(desktop.geometry(again), moved);
    std::size_t shown = 0;
    for (const xcb_window_t window : desktop.vellumorWindows()) {
        shown += desktop.isViewable(window) && desktop.geometry(window).width == 300 ? 1U : 0U;
    }
    EXPECT_EQ(shown, 1U);
}

TEST_F(DesktopTest, PickedColourRepaintsEveryOverlayAndIsBackAfterRelaunch) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());

    ASSERT_TRUE(chooseMenuEntry(kPickColor));
    xcb_window_t panel = XCB_WINDOW_NONE;
    ASSERT_TRUE(waitUntil([&] { return (panel = shownWindowTitled("Colors", true)) != 0; }));
    for (const xcb_window_t overlay : desktop.shownOverlays()) {
        EXPECT_TRUE(desktop.isAbove(panel, overlay));
    }
    ASSERT_TRUE(waitUntil([&] { return desktop.activeWindow() == panel; }));
    // The dialog's HTML field, reached by its mnemonic; each keystroke is a live pick.
    desktop.key("alt+h");
    desktop.key("ctrl+a");
    desktop.typeText("#3366cc");
    EXPECT_TRUE(waitUntil([&] { return monitorsShow({0x33, 0x66, 0xcc}, {panel}); }));
    // Closing the panel keeps the pick.
    desktop.key("Escape");
    ASSERT_TRUE(waitUntil([&] { return !desktop.isViewable(panel); }));
    EXPECT_TRUE(monitorsShow({0x33, 0x66, 0xcc}));

    const auto defaults =
        desktop.directory() / "vellumor-config" / "vellumor" / "org.vellumor.Vellumor.plist";
    struct stat info {};
    ASSERT_EQ(::stat(defaults.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600U);
    ASSERT_EQ(::stat(defaults.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700U);

    ASSERT_TRUE(chooseMenuEntry(kQuit));
    const auto status = vellumor_->waitForExit(5s);
    ASSERT_TRUE(status.has_value()) << "Quit did not end the program";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_TRUE(waitUntil([&] { return desktop.shownOverlays().empty(); }));

    ASSERT_TRUE(launch());
    EXPECT_TRUE(waitUntil([&] { return monitorsShow({0x33, 0x66, 0xcc}); }));
}

TEST_F(DesktopTest, ToggleEntryHidesAndShowsEveryOverlay) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());

    ASSERT_TRUE(chooseMenuEntry(kToggle));
    EXPECT_TRUE(waitUntil([&] { return desktop.shownOverlays().empty(); }));
    EXPECT_NE(desktop.pixel(kPrimary.width / 2, kPrimary.height / 2), kDefaultGrey);

    ASSERT_TRUE(chooseMenuEntry(kToggle));
    EXPECT_TRUE(waitUntil([&] { return overlaysMatchMonitors(); }));
    EXPECT_TRUE(waitUntil([&] { return monitorsShow(kDefaultGrey); }));
    for (const xcb_window_t overlay : desktop.shownOverlays()) {
        EXPECT_EQ(desktop.property32(overlay, "_NET_WM_DESKTOP"),
                  std::vector<std::uint32_t>{0xFFFFFFFF});
    }
}

TEST_F(DesktopTest, OverlaysAppearWhenTheWindowManagerDroppedTheirFirstMapRequests) {
    // A window manager in the middle of its startup: it has named its check window but drops
    // the map requests it gets, as openbox 3.6 does until its startup is over.
    auto& desktop = startDesktop(false, false);
    desktop.swallowMapRequests();
    vellumor_ = desktop.launchVellumor();
    std::vector<xcb_window_t> swallowed;
    ASSERT_TRUE(waitUntil([&] {
        for (const xcb_window_t window : desktop.takeMapRequests()) {
            swallowed.push_back(window);
        }
        return swallowed.size() >= 2;
    }));
    EXPECT_TRUE(desktop.shownOverlays().empty());

    // The manager is done starting: the program maps its overlays again.
    desktop.stopSwallowingMapRequests();
    EXPECT_TRUE(waitUntil([&] { return overlaysMatchMonitors(); }))
        << ::testing::PrintToString(overlayGeometries());
    EXPECT_TRUE(monitorsShow(kDefaultGrey));
}

}  // namespace
}  // namespace vellumor::x11test
