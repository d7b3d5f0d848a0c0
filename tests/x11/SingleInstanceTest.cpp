// Vellumor started again while it runs on the same display: the running one stays as it is,
// the second says so and ends. And a window of another Vellumor in the desktop layer is never
// taken for a foreign desktop window to climb above.

#include "tests/x11/ShortRun.h"
#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

bool exitedWith(const std::optional<int>& status, int code) {
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

std::vector<xcb_window_t> sortedWindows(std::vector<xcb_window_t> windows) {
    std::sort(windows.begin(), windows.end());
    return windows;
}

class SingleInstanceTest : public DesktopTest {
protected:
    // The stacking order the window manager reports, bottom to top.
    std::vector<std::uint32_t> stacking() {
        return desktop_->property(desktop_->root(), "_NET_CLIENT_LIST_STACKING");
    }
    // Whether the manager's stacking order stays as it is for `period`.
    bool stackingStaysFor(std::chrono::milliseconds period) {
        const auto before = stacking();
        return !waitUntil([&] { return stacking() != before; }, period);
    }
};

TEST_F(SingleInstanceTest, SecondLaunchSaysSoAndLeavesTheRunningOneAsItIs) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());
    const auto trayIcons = awaitShown(kTrayIcon);
    ASSERT_EQ(trayIcons.size(), 1U);
    const auto windowsBefore = sortedWindows(desktop.vellumorWindows());
    const auto overlaysBefore = sortedWindows(desktop.shown(kOverlay));
    const auto stackingBefore = stacking();

    auto second = desktop.launchVellumor();
    // Watched while it runs: it never shows a window of its own.
    std::size_t mostShown = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            mostShown = std::max(mostShown, desktop.vellumorWindows("", true).size());
            return second->waitForExit(0ms).has_value();
        },
        10s))
        << "the second launch is still running";
    EXPECT_TRUE(exitedWith(second->waitForExit(0ms), 0)) << *second->waitForExit(0ms);
    EXPECT_NE(fileText(desktop.directory() / "vellumor.log").find("already running"),
              std::string::npos)
        << fileText(desktop.directory() / "vellumor.log");
    EXPECT_EQ(mostShown, overlaysBefore.size() + trayIcons.size());

    ASSERT_FALSE(vellumor_->waitForExit(0ms).has_value()) << "the running one ended";
    EXPECT_EQ(sortedWindows(desktop.vellumorWindows()), windowsBefore);
    EXPECT_EQ(sortedWindows(desktop.shown(kOverlay)), overlaysBefore);
    EXPECT_EQ(desktop.shown(kTrayIcon), trayIcons);
    EXPECT_EQ(stacking(), stackingBefore);

    // A crash leaves no claim behind: the next launch runs.
    ::kill(vellumor_->pid(), SIGKILL);
    ASSERT_TRUE(vellumor_->waitForExit(5s).has_value());
    ASSERT_TRUE(waitUntil([&] { return desktop.vellumorWindows().empty(); }));
    ASSERT_TRUE(launch());
    EXPECT_EQ(awaitShown(kTrayIcon).size(), 1U);
    EXPECT_FALSE(vellumor_->waitForExit(0ms).has_value());
}

TEST_F(SingleInstanceTest, OfTwoLaunchedTogetherOneRunsAndTheOtherEnds) {
    auto& desktop = startDesktop();
    auto first = desktop.launchVellumor();
    auto second = desktop.launchVellumor();
    ASSERT_TRUE(waitUntil(
        [&] { return first->waitForExit(0ms).has_value() || second->waitForExit(0ms).has_value(); },
        10s))
        << "both are still running";
    std::unique_ptr<Process>& ended = first->waitForExit(0ms) ? first : second;
    EXPECT_TRUE(exitedWith(ended->waitForExit(0ms), 0)) << *ended->waitForExit(0ms);
    vellumor_ = std::move(&ended == &first ? second : first);
    ASSERT_FALSE(vellumor_->waitForExit(0ms).has_value()) << "both ended";

    ASSERT_TRUE(waitUntil([&] { return overlaysMatchMonitors(); }, 10s))
        << ::testing::PrintToString(overlayGeometries());
    EXPECT_EQ(desktop.vellumorWindows(kOverlay).size(), 2U);
    EXPECT_EQ(awaitShown(kTrayIcon).size(), 1U);
    EXPECT_TRUE(stackingStaysFor(1s)) << "the windows are still being restacked";
    EXPECT_TRUE(monitorsShow(kDefaultGrey));
}

// Such as the overlays of a Vellumor that another user runs on the same display.
TEST_F(SingleInstanceTest, AnotherVellumorsOverlayIsNotTakenForADesktopWindow) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());
    const auto overlays = desktop.shown(kOverlay);
    xcb_connection_t* c = desktop.connection();
    const xcb_window_t theirs = xcb_generate_id(c);
    const std::uint32_t colour = 0x804000;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, theirs, desktop.root(), 100, 100, 400, 300, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL,
                      &colour);
    const std::string vellumorClass("vellumor\0Vellumor\0", 18);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, theirs, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        std::uint32_t(vellumorClass.size()), vellumorClass.data());
    const xcb_atom_t desktopType = desktop.atom(kOverlay);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, theirs, desktop.atom("_NET_WM_WINDOW_TYPE"),
                        XCB_ATOM_ATOM, 32, 1, &desktopType);
    xcb_map_window(c, theirs);
    xcb_flush(c);
    ASSERT_TRUE(waitUntil([&] { return X11Desktop::contains(stacking(), theirs); }));

    // The window manager puts the newest desktop window on top of its layer; ours leave it
    // there rather than climbing over it.
    EXPECT_TRUE(stackingStaysFor(1s)) << "the windows are still being restacked";
    EXPECT_TRUE(above({theirs}, overlays));
    const Geometry placed = desktop.geometry(theirs);
    EXPECT_EQ(desktop.pixel(placed.x + placed.width / 2, placed.y + placed.height / 2),
              (Rgb{0x80, 0x40, 0x00}));
}

}  // namespace
}  // namespace vellumor::x11test
