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
    startDesktop(true);
    std::ofstream(dir_ / "i3.config")
        << "# i3 config file (v4)\nfont pango:DejaVu Sans 8\nfocus_follows_mouse no\n"
        << "ipc-socket " << (dir_ / "i3.sock").string() << "\n";
    if (*session.manager != '\0') {
        ASSERT_TRUE(startManager(session.manager));
    }
    // A window open before the program starts, which its overlays must not cover.
    const xcb_window_t earlier = createWindow({100, 100, 300, 200}, kGreen, kNormal);
    ASSERT_TRUE(launch());
    const auto overlays = shown(kOverlay);
    EXPECT_EQ(overlayGeometries(), (Geometries{kPrimary, kSecondary}));
    EXPECT_NE(pixel(kSecondary.x + 10, kSecondary.height + 10), kDefaultGrey);
    for (const xcb_window_t overlay : overlays) {
        // A manager without a desktop layer would tile or float them on one workspace.
        EXPECT_EQ(
            contains(property(root(), "_NET_CLIENT_LIST"), overlay) || topLevel(overlay) != overlay,
            session.desktopLayer);
    }
    // A tray started after the program takes its icon, which the tray shows above them.
    ASSERT_TRUE(startTray(session.tray));
    std::vector<xcb_window_t> icon;
    ASSERT_TRUE(waitUntil([&] { return (icon = shown(kTrayIcon)).size() == 1; }))
        << icon.size() << " tray icons shown";
    EXPECT_TRUE(waitUntil([&] { return above(icon, overlays); }));
    // A good part of the icon's place, and most of what is drawn on it (all but its smoothed
    // edges), stands out 3:1 from the tray at its corner: the two squares, not an outline.
    const Geometry area = geometry(icon[0]);
    int strong = 0, drawn = 0;
    Rgb panel{};
    EXPECT_TRUE(waitUntil([&] {
        const auto pixels = grab(area);
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
        const xcb_window_t icons = createWindow({200, 200, 400, 300}, {200, 0, 0}, kOverlay);
        EXPECT_TRUE(waitUntil([&] { return above(overlays, {icons}); }));
    }
    const xcb_window_t editor = createWindow({900, 300, 300, 200}, kGreen, kNormal);
    ASSERT_TRUE(waitUntil([&] { return viewable(editor); }));
    const Geometry placed = geometry(editor);
    EXPECT_TRUE(waitUntil([&] {
        return above({earlier, editor}, overlays) &&
               pixel(placed.x + placed.width / 2, placed.y + placed.height / 2) == kGreen;
    }));
    xcb_set_input_focus(c_, XCB_INPUT_FOCUS_POINTER_ROOT, editor, XCB_CURRENT_TIME);
    ASSERT_TRUE(waitUntil([&] { return inputFocus() == editor; }));

    // On another desktop the window goes and the overlays stay.
    if (*session.switchDesktop != '\0') {
        ASSERT_TRUE(run(session.switchDesktop));
        ASSERT_TRUE(waitUntil([&] { return !viewable(editor); }));
        EXPECT_TRUE(waitUntil([&] { return monitorsShow(kDefaultGrey); }));
        EXPECT_EQ(overlayGeometries(), (Geometries{kPrimary, kSecondary}));
    }
    // With the test's windows gone, a click on an overlay lands on it (nothing shows through),
    // and it takes the press, so none travels on to the manager's frame or the root, without
    // taking the focus.
    xcb_destroy_window(c_, earlier);
    xcb_destroy_window(c_, editor);
    const xcb_window_t focused = inputFocus();
    for (const auto& [x, y] : {std::pair{400, 350}, std::pair{2500, 500}}) {
        run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
            " click 1 click 3");
        const xcb_window_t under = X11_REPLY(query_pointer, root())->child;
        EXPECT_TRUE(
            std::ranges::any_of(overlays,
                                [&](auto o) {
                                    return topLevel(o) == under &&
                                           (X11_REPLY(get_window_attributes, o)->all_event_masks &
                                            XCB_EVENT_MASK_BUTTON_PRESS) != 0;
                                }))
            << "no overlay taking presses under the pointer at " << x << "," << y;
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(inputFocus(), focused);
    }
    EXPECT_TRUE(waitUntil([&] { return monitorsShow(kDefaultGrey); }))
        << "a click opened something on the desktop";
}

INSTANTIATE_TEST_SUITE_P(Sessions, WindowManagerTest, ::testing::ValuesIn(kSessions),
                         ::testing::PrintToStringParamName());

TEST_F(DesktopTest, OverlaysAppearWhenTheWindowManagerDroppedTheirFirstMapRequests) {
    // The test plays a window manager in the middle of its startup, as openbox 3.6 is: it has
    // named its check window and what it supports (desktop windows) but takes every map
    // request and does nothing with it.
    startDesktop(true);
    listen(root(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT);
    const xcb_window_t check = createWindow({-20, -20, 10, 10}, {}, kNormal);
    setProperty(root(), "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
    setProperty(check, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
    setProperty(root(), "_NET_SUPPORTED", XCB_ATOM_ATOM,
                {atom(kOverlay), atom("_NET_WM_STATE_BELOW")});
    vellumor_ = launchVellumor();
    ASSERT_TRUE(waitUntil([&] {
        const auto overlays = vellumorWindows(kOverlay);
        return overlays.size() >= 2 && std::ranges::all_of(overlays, [&](auto w) {
                   return contains(received(XCB_MAP_REQUEST), w);
               });
    }));
    EXPECT_TRUE(shown(kOverlay).empty());

    // The manager is done starting: the program maps its overlays again.
    listen(root(), 0);
    EXPECT_TRUE(waitUntil([&] { return overlaysMatchMonitors(); }));
    EXPECT_TRUE(monitorsShow(kDefaultGrey));
}

}  // namespace
}  // namespace vellumor::x11test
