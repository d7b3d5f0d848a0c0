// Vellumor's tray icon when no tray runs: a few seconds after launch one line on stderr says
// so and how to end the program, and the icon still docks in a tray started later. Each test
// but the last waits out the program's 5 s grace for a tray, which is most of its cost. The
// last: at start the icon is made only once the overlays are on screen.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/x11/ShortRun.h"
#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

constexpr char kNoTray[] = "vellumor: no system tray shows the Vellumor icon";

class TrayHostTest : public DesktopTest {
protected:
    // The lines vellumor wrote that say there is no tray.
    std::vector<std::string> noTrayLines() {
        std::vector<std::string> found;
        for (const std::string& line : lines(fileText(desktop_->directory() / "vellumor.log"))) {
            if (line.find(kNoTray) != std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }
};

TEST_F(TrayHostTest, WithoutATrayOneLineSaysHowToEndTheProgramAndALaterTrayTakesTheIcon) {
    // Xvfb alone: no window manager and no tray.
    auto& desktop = startDesktop(true);
    ASSERT_TRUE(launch());
    const auto launched = std::chrono::steady_clock::now();

    // Not at once: a session's tray may still be starting.
    std::this_thread::sleep_until(launched + 3s);
    EXPECT_TRUE(noTrayLines().empty());
    ASSERT_TRUE(waitUntil([&] { return !noTrayLines().empty(); }, 10s));
    const std::string line = noTrayLines().at(0);
    EXPECT_NE(line.find("menu cannot be reached"), std::string::npos) << line;
    // The way it gives to end the program names this program.
    const auto kill = line.rfind("kill ");
    ASSERT_NE(kill, std::string::npos) << line;
    EXPECT_EQ(line.substr(kill), "kill " + std::to_string(vellumor_->pid())) << line;

    // A tray started now takes the icon, whose menu works.
    Process tray("env " + desktop.environment() +
                     " trayer --edge bottom --align right --widthtype request --height 28"
                     " --SetDockType true --transparent false --tint 0x303030",
                 desktop.directory() / "trayer.log");
    EXPECT_FALSE(awaitShown(kTrayIcon).empty()) << "the icon did not dock in the later tray";
    ASSERT_TRUE(choose(kQuit));
    const auto status = vellumor_->waitForExit(5s);
    ASSERT_TRUE(status.has_value()) << "Quit did not end the program";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;
    EXPECT_EQ(noTrayLines().size(), 1U);
}

TEST_F(TrayHostTest, WithATraySaysNothing) {
    startDesktop();
    ASSERT_TRUE(launch());
    const auto launched = std::chrono::steady_clock::now();
    EXPECT_FALSE(awaitShown(kTrayIcon).empty());
    std::this_thread::sleep_until(launched + 7s);
    EXPECT_TRUE(noTrayLines().empty()) << noTrayLines().at(0);
    EXPECT_FALSE(vellumor_->waitForExit(0ms).has_value());
}

TEST_F(TrayHostTest, AtStartTheIconIsMadeOnlyOnceEveryOverlayIsMapped) {
    // No window manager: each overlay maps itself, so the root hears of that map at once.
    auto& desktop = startDesktop(true);
    Process tray("env " + desktop.environment() +
                     " trayer --edge bottom --align right --widthtype request --height 28"
                     " --SetDockType true --transparent false --tint 0x303030",
                 desktop.directory() / "trayer.log");
    xcb_connection_t* c = desktop.connection();
    const xcb_atom_t trayName = desktop.atom("_NET_SYSTEM_TRAY_S0");
    ASSERT_TRUE(waitUntil([&] {
        auto* owner =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, trayName), nullptr);
        const bool docks = owner != nullptr && owner->owner != XCB_WINDOW_NONE;
        std::free(owner);
        return docks;
    })) << "trayer did not start";
    // From here the log hears, in the server's order, of every window made on the root (the
    // icon is made there before the tray takes it in) and every map there.
    EventLog log(desktop.display());
    ASSERT_TRUE(log.watch(desktop.root(), XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY));

    ASSERT_TRUE(launch());
    const auto icon = awaitShown(kTrayIcon);
    ASSERT_EQ(icon.size(), 1U) << "the icon did not dock";
    const auto overlays = desktop.shown(kOverlay);
    ASSERT_EQ(overlays.size(), desktop.monitors().size());

    const auto iconMade = log.first(XCB_CREATE_NOTIFY, icon[0]);
    ASSERT_LT(iconMade, std::ssize(log.heard())) << "the root never heard of the icon being made";
    for (const xcb_window_t overlay : overlays) {
        EXPECT_LT(log.first(XCB_MAP_NOTIFY, overlay), iconMade) << "overlay " << overlay;
    }
}

}  // namespace
}  // namespace vellumor::x11test
