// Vellumor where no window manager keeps a desktop layer: under i3, which knows neither the
// desktop window type nor the below state, with no window manager at all, and across a
// manager that starts or is replaced while the program runs. The overlays lie above the root
// and below every other window on every monitor and workspace, and take the clicks on them.

#include "tests/x11/WindowManagers.h"

namespace vellumor::x11test {
namespace {

constexpr Rgb kRed{200, 0, 0};
constexpr Rgb kGreen{0, 160, 0};

class WindowManagerTest : public DesktopTest {
protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (!IsSkipped() && std::system("which i3 i3-msg >/dev/null") != 0) {
            GTEST_SKIP() << "i3 is not installed";
        }
    }
    void TearDown() override {
        for (const char* name : {"i3.log", "openbox.log"}) {
            // An empty stream would put std::cerr in a failed state for the output after it.
            std::ifstream log(desktop_ ? desktop_->directory() / name : "");
            if (HasFailure() && log.peek() != std::ifstream::traits_type::eof()) {
                std::cerr << "--- " << name << " ---\n" << log.rdbuf();
            }
        }
        manager_.reset();
        DesktopTest::TearDown();
    }

    // Whether the window manager has taken `window` on: it lists it among its clients, or
    // has put it in a frame of its own.
    bool managed(xcb_window_t window) {
        return X11Desktop::contains(desktop_->property(desktop_->root(), "_NET_CLIENT_LIST"),
                                    window) ||
               desktop_->topLevel(window) != window;
    }
    bool noneManaged(const std::vector<xcb_window_t>& windows) {
        return std::none_of(windows.begin(), windows.end(), [&](auto w) { return managed(w); });
    }
    // The colour at the centre of `window`.
    Rgb centreOf(xcb_window_t window) {
        const Geometry g = desktop_->geometry(window);
        return desktop_->pixel(g.x + g.width / 2, g.y + g.height / 2);
    }
    // The top-level window under the pointer at a point, as xdotool finds it.
    bool pointerOver(int x, int y, xcb_window_t window) {
        const auto found = desktop_->directory() / "under-pointer";
        desktop_->pointer(x, y);
        desktop_->run("sh -c 'xdotool getmouselocation --shell >" + found.string() + "'");
        std::ifstream in(found);
        for (std::string line; std::getline(in, line);) {
            if (line.starts_with("WINDOW=")) {
                return std::stoul(line.substr(7)) == desktop_->topLevel(window);
            }
        }
        return false;
    }

    std::unique_ptr<Process> manager_;
};

TEST_F(WindowManagerTest, UnderI3OverlaysCoverEveryMonitorAndWorkspaceBelowItsWindows) {
    auto& desktop = startDesktop(true);
    ASSERT_TRUE(manager_ = startI3(desktop)) << "i3 did not start";
    ASSERT_TRUE(launch());
    const auto overlays = desktop.shown(kOverlay);
    // i3 would tile or float them on one workspace: they are none of its windows.
    EXPECT_TRUE(noneManaged(overlays));
    EXPECT_TRUE(monitorsShow(kDefaultGrey));

    // i3 tiles a new window over the whole of the focused workspace's monitor: the first
    // workspace, on the primary monitor.
    ASSERT_TRUE(i3Command(desktop, "workspace 1"));
    const xcb_window_t editor = desktop.createWindow({100, 100, 300, 200}, kGreen, kNormal);
    ASSERT_TRUE(waitUntil([&] { return desktop.viewable(editor) && managed(editor); }));
    EXPECT_TRUE(waitUntil([&] { return above({editor}, overlays) && centreOf(editor) == kGreen; }))
        << ::testing::PrintToString(centreOf(editor));
    const Geometry tiled = desktop.geometry(editor);

    // Another workspace on that monitor: the window goes, the overlays stay.
    ASSERT_TRUE(i3Command(desktop, "workspace 5"));
    ASSERT_TRUE(waitUntil([&] { return !desktop.viewable(editor); }));
    EXPECT_TRUE(waitUntil([&] { return monitorsShow(kDefaultGrey); }));
    EXPECT_EQ(desktop.pixel(tiled.x + tiled.width / 2, tiled.y + tiled.height / 2), kDefaultGrey);
    EXPECT_EQ(sorted(overlayGeometries()), sorted({kPrimary, kSecondary}));

    // A click lands on the overlay beneath the pointer, which takes it without the focus.
    for (const auto& [x, y] : {std::pair{400, 400}, std::pair{2500, 500}}) {
        const auto under = std::find_if(overlays.begin(), overlays.end(),
                                        [&](auto o) { return pointerOver(x, y, o); });
        ASSERT_NE(under, overlays.end()) << "no overlay under the pointer at " << x << "," << y;
        EXPECT_NE(desktop.attributes(*under)->all_event_masks & XCB_EVENT_MASK_BUTTON_PRESS, 0U);
        desktop.run("xdotool click 1");
        EXPECT_NE(desktop.inputFocus(), *under);
    }
    ASSERT_TRUE(i3Command(desktop, "workspace 1"));
    EXPECT_TRUE(waitUntil([&] { return desktop.viewable(editor) && centreOf(editor) == kGreen; }));
}

TEST_F(WindowManagerTest, OverlaysFollowAWindowManagerThatStartsOrIsReplacedLater) {
    auto& desktop = startDesktop(true);
    // With no manager at all: a window shown before the program and one shown after.
    const xcb_window_t before = desktop.createWindow({100, 100, 300, 200}, kRed, kNormal);
    ASSERT_TRUE(launch());
    const xcb_window_t after = desktop.createWindow({2200, 300, 300, 200}, kGreen, kNormal);
    const auto windowsAboveOverlays = [&] {
        const auto overlays = desktop.shown(kOverlay);
        return overlays.size() == 2 && above({before, after}, overlays) &&
               centreOf(before) == kRed && centreOf(after) == kGreen;
    };
    EXPECT_TRUE(waitUntil([&] { return windowsAboveOverlays() && monitorsShow(kDefaultGrey); }))
        << "with no window manager";

    // Nothing else takes the clicks on an overlay: none reaches the root.
    const std::uint32_t pressMask = XCB_EVENT_MASK_BUTTON_PRESS;
    xcb_connection_t* c = desktop.connection();
    ASSERT_EQ(xcb_request_check(c, xcb_change_window_attributes_checked(
                                       c, desktop.root(), XCB_CW_EVENT_MASK, &pressMask)),
              nullptr);
    desktop.run("xdotool mousemove 700 700 click 1 mousemove 3000 900 click 3");
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(desktop.received(XCB_BUTTON_PRESS).empty()) << "a click reached the root";
    const std::uint32_t noEvents = 0;
    xcb_change_window_attributes(c, desktop.root(), XCB_CW_EVENT_MASK, &noEvents);

    // openbox starts: it keeps a desktop layer, and the overlays are its desktop windows.
    ASSERT_TRUE(manager_ = startOpenbox(desktop)) << "openbox did not start";
    EXPECT_TRUE(waitUntil([&] {
        const auto overlays = desktop.shown(kOverlay);
        return overlays.size() == 2 &&
               std::all_of(overlays.begin(), overlays.end(), [&](auto o) { return managed(o); });
    })) << "openbox does not manage the overlays";
    EXPECT_TRUE(waitUntil([&] { return windowsAboveOverlays() && monitorsShow(kDefaultGrey); }))
        << "under openbox";
    EXPECT_TRUE(overlaysMatchMonitors());

    // i3 takes its place, does not know desktop windows, and tiles the two windows over a
    // monitor.
    manager_.reset();
    ASSERT_TRUE(manager_ = startI3(desktop)) << "i3 did not start";
    EXPECT_TRUE(waitUntil([&] {
        const auto overlays = desktop.shown(kOverlay);
        return overlays.size() == 2 && noneManaged(overlays) && managed(before);
    })) << "i3 manages the overlays";
    EXPECT_TRUE(waitUntil([&] { return windowsAboveOverlays() && overlaysMatchMonitors(); }))
        << "under i3";
    EXPECT_EQ(desktop.vellumorWindows(kOverlay).size(), 2U);
}

// As when a manager ends and hands its windows back to the root in some order: the program's
// own windows are ordinary windows, never let lie below the overlays.
TEST_F(WindowManagerTest, WithNoManagerTheAboutWindowIsNotLeftBelowTheOverlays) {
    auto& desktop = startDesktop(true);
    auto tray = startTray(desktop);
    ASSERT_TRUE(tray) << "trayer did not start";
    ASSERT_TRUE(launch());
    ASSERT_TRUE(choose(kAbout));
    const auto about = awaitShown(kNormal);
    ASSERT_EQ(about.size(), 1U);
    const auto overlays = desktop.shown(kOverlay);
    const Rgb surface{40, 40, 42};
    const Geometry area = desktop.geometry(about[0]);
    const auto aboutShows = [&] { return desktop.pixel(area.x + 8, area.y + 8) == surface; };
    ASSERT_TRUE(waitUntil([&] { return above(about, overlays) && aboutShows(); }));

    xcb_connection_t* c = desktop.connection();
    const std::uint32_t bottom = XCB_STACK_MODE_BELOW;
    xcb_configure_window(c, about[0], XCB_CONFIG_WINDOW_STACK_MODE, &bottom);
    xcb_flush(c);
    ASSERT_TRUE(waitUntil([&] { return above(overlays, about); }));
    // Anything that makes the program look at the stack again: here what a manager lists as
    // supported changes.
    const xcb_atom_t below = desktop.atom("_NET_WM_STATE_BELOW");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, desktop.root(), desktop.atom("_NET_SUPPORTED"),
                        XCB_ATOM_ATOM, 32, 1, &below);
    xcb_flush(c);
    EXPECT_TRUE(waitUntil([&] { return above(about, overlays) && aboutShows(); }))
        << "the About window stays below the overlays";
    EXPECT_TRUE(overlaysMatchMonitors());
}

}  // namespace
}  // namespace vellumor::x11test
