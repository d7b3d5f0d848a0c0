// Vellumor under openbox (which keeps a desktop layer), i3 (which knows neither desktop
// windows nor the below state) and no window manager at all: the overlays cover every
// monitor exactly, lie above the desktop and below every other window on every desktop, take
// the clicks on them without the focus, and the tray icon, light or dark tray, stands out.

#include <cmath>

#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

constexpr Rgb kGreen{0, 160, 0};

struct Session {
    const char* name;
    const char* manager;        // its command line, "" for none
    bool desktopLayer;          // whether it manages desktop windows, ours among them
    const char* switchDesktop;  // how to go to another desktop, "" where there is none
    int tray;                   // the tray's colour, 0xRRGGBB
};

const Session kSessions[] = {
    {"openbox", "openbox --sm-disable", true, "xdotool set_desktop 1", 0xDCDAD5},
    {"i3", "i3 -c i3.config", false, "i3-msg -s i3.sock workspace 5", 0x2B2B2B},
    {"none", "", false, "", 0xDCDAD5},
};

// Prints a session by its name, in test names and messages alike.
void PrintTo(const Session& session, std::ostream* out) {
    *out << session.name;
}

// WCAG 2 contrast, from 1 (the same) to 21 (black on white).
double contrast(const Rgb& a, const Rgb& b) {
    const auto luminance = [](const Rgb& c) {
        double sum = 0.05;
        for (std::size_t i = 0; i < 3; ++i) {
            const double v = c[i] / 255.0;
            sum += std::array{0.2126, 0.7152, 0.0722}[i] *
                   (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
        }
        return sum;
    };
    return std::max(luminance(a), luminance(b)) / std::min(luminance(a), luminance(b));
}

class WindowManagerTest : public DesktopTest, public ::testing::WithParamInterface<Session> {};

TEST_P(WindowManagerTest, OverlaysCoverTheDesktopBelowWindowsOnEveryDesktopAndTakeClicks) {
    const Session& session = GetParam();
    auto& desktop = startDesktop(true);
    std::ofstream(desktop.directory() / "i3.config")
        << "# i3 config file (v4)\nfont pango:DejaVu Sans 8\nfocus_follows_mouse no\n"
        << "ipc-socket " << (desktop.directory() / "i3.sock").string() << "\n";
    if (*session.manager != '\0') {
        ASSERT_TRUE(desktop.startManager(session.manager));
    }
    // A window open before the program starts, which its overlays must not cover.
    const xcb_window_t earlier = desktop.createWindow({100, 100, 300, 200}, kGreen, kNormal);
    ASSERT_TRUE(launch());
    const auto overlays = desktop.shown(kOverlay);
    EXPECT_EQ(overlayGeometries(), sorted({kPrimary, kSecondary}));
    EXPECT_NE(desktop.pixel(kSecondary.x + 10, kSecondary.height + 10), kDefaultGrey);
    for (const xcb_window_t overlay : overlays) {
        // A manager without a desktop layer would tile or float them on one workspace.
        EXPECT_EQ(contains(desktop.property(desktop.root(), "_NET_CLIENT_LIST"), overlay) ||
                      desktop.topLevel(overlay) != overlay,
                  session.desktopLayer);
    }
    // A tray started after the program takes its icon, which the tray shows above them.
    ASSERT_TRUE(desktop.startTray(session.tray));
    std::vector<xcb_window_t> icon;
    ASSERT_TRUE(waitUntil([&] { return (icon = desktop.shown(kTrayIcon)).size() == 1; }))
        << icon.size() << " tray icons shown";
    EXPECT_TRUE(waitUntil([&] { return desktop.above(icon, overlays); }));
    // A good part of the icon's place, and most of what is drawn on it (all but its smoothed
    // edges), stands out 3:1 from the tray at its corner: the two squares, not an outline.
    const Geometry area = desktop.geometry(icon[0]);
    int strong = 0, drawn = 0;
    Rgb panel{};
    EXPECT_TRUE(waitUntil([&] {
        const auto pixels = desktop.grab(area);
        panel = pixels.at(0);
        strong = drawn = 0;
        for (const Rgb& p : pixels) {
            drawn += p != panel ? 1 : 0;
            strong += contrast(p, panel) >= 3.0 ? 1 : 0;
        }
        return strong >= area.width * area.height / 4 && strong * 2 >= drawn;
    })) << strong
        << " of " << drawn << " pixels drawn stand out";
    // trayer tints to within a step of the colour asked for.
    for (std::size_t channel = 0; channel < 3; ++channel) {
        EXPECT_NEAR(panel[channel], session.tray >> (16 - 8 * channel) & 0xFF, 2);
    }

    // A file manager's desktop icons, mapped after the overlays, go below them where the
    // manager keeps a desktop layer; an ordinary window stays above them everywhere.
    if (session.desktopLayer) {
        const xcb_window_t icons =
            desktop.createWindow({200, 200, 400, 300}, {200, 0, 0}, kOverlay);
        EXPECT_TRUE(waitUntil([&] { return desktop.above(overlays, {icons}); }));
    }
    const xcb_window_t editor = desktop.createWindow({900, 300, 300, 200}, kGreen, kNormal);
    ASSERT_TRUE(waitUntil([&] { return desktop.viewable(editor); }));
    const Geometry placed = desktop.geometry(editor);
    EXPECT_TRUE(waitUntil([&] {
        return desktop.above({earlier, editor}, overlays) &&
               desktop.pixel(placed.x + placed.width / 2, placed.y + placed.height / 2) == kGreen;
    }));
    xcb_set_input_focus(desktop.connection(), XCB_INPUT_FOCUS_POINTER_ROOT, editor,
                        XCB_CURRENT_TIME);
    ASSERT_TRUE(waitUntil([&] { return desktop.inputFocus() == editor; }));

    // On another desktop the window goes and the overlays stay.
    if (*session.switchDesktop != '\0') {
        ASSERT_TRUE(desktop.run(session.switchDesktop));
        ASSERT_TRUE(waitUntil([&] { return !desktop.viewable(editor); }));
        EXPECT_TRUE(waitUntil([&] { return monitorsShow(kDefaultGrey); }));
        EXPECT_EQ(overlayGeometries(), sorted({kPrimary, kSecondary}));
    }
    // A click on an overlay lands on it (nothing shows through), and it takes the press, so
    // none travels on to the manager's frame or the root, without taking the focus.
    const xcb_window_t focused = desktop.inputFocus();
    for (const auto& [x, y] : {std::pair{400, 350}, std::pair{2500, 500}}) {
        desktop.pointer(x, y);
        const auto overlay = std::find_if(overlays.begin(), overlays.end(), [&](auto o) {
            return desktop.topLevel(o) == desktop.underPointer();
        });
        ASSERT_NE(overlay, overlays.end()) << "no overlay under the pointer at " << x << "," << y;
        EXPECT_NE(desktop.attributes(*overlay)->all_event_masks & XCB_EVENT_MASK_BUTTON_PRESS, 0U);
        desktop.run("xdotool click 1 click 3");
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(desktop.inputFocus(), focused);
    }
    EXPECT_TRUE(monitorsShow(kDefaultGrey)) << "a click opened something on the desktop";
}

INSTANTIATE_TEST_SUITE_P(Sessions, WindowManagerTest, ::testing::ValuesIn(kSessions),
                         ::testing::PrintToStringParamName());

TEST_F(DesktopTest, OverlaysAppearWhenTheWindowManagerDroppedTheirFirstMapRequests) {
    // As openbox 3.6 does until its startup is over.
    auto& desktop = startDesktop(true);
    desktop.swallowMapRequests(true);
    vellumor_ = desktop.launchVellumor();
    std::vector<xcb_window_t> overlays;
    ASSERT_TRUE(waitUntil([&] {
        overlays = desktop.vellumorWindows(kOverlay);
        return overlays.size() >= 2 && std::all_of(overlays.begin(), overlays.end(), [&](auto w) {
                   return contains(desktop.received(XCB_MAP_REQUEST), w);
               });
    }));
    EXPECT_TRUE(desktop.shown(kOverlay).empty());

    // The manager is done starting: the program maps its overlays again.
    desktop.swallowMapRequests(false);
    EXPECT_TRUE(waitUntil([&] { return overlaysMatchMonitors(); }));
    EXPECT_TRUE(monitorsShow(kDefaultGrey));
}

}  // namespace
}  // namespace vellumor::x11test
