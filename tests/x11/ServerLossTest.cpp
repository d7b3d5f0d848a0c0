// Vellumor when the X server goes away under it, after its tray icon has been through a
// restart of the tray: it ends at once with status 1 and says why, without crashing on
// the way out.

#include "tests/x11/WindowManagers.h"

#include <sstream>

namespace vellumor::x11test {
namespace {

TEST_F(DesktopTest, EndsWithStatusOneWhenTheServerGoesAfterATrayRestart) {
    auto& desktop = startDesktop(true);
    auto manager = startOpenbox(desktop);
    ASSERT_TRUE(manager) << "openbox did not start";
    auto tray = startTray(desktop);
    ASSERT_TRUE(tray) << "trayer did not start";
    ASSERT_TRUE(launch());
    // Whether the tray icon sits in a tray (inside trayer's window, not on the root).
    const auto docked = [&] {
        const auto icons = desktop.shown(kTrayIcon);
        return icons.size() == 1 && desktop.topLevel(icons[0]) != icons[0];
    };
    ASSERT_TRUE(waitUntil(docked)) << "the tray icon never docked";

    // The tray ends and a new one starts: the icon docks in the new one.
    ::kill(tray->pid(), SIGKILL);
    ASSERT_TRUE(tray->waitForExit(5s).has_value());
    ASSERT_TRUE(tray = startTray(desktop)) << "trayer did not start again";
    ASSERT_TRUE(waitUntil(docked, 10s)) << "the tray icon did not dock in the new tray";

    desktop.endServer();
    const auto status = vellumor_->waitForExit(5s);
    ASSERT_TRUE(status.has_value()) << "vellumor still runs without its X server";
    EXPECT_FALSE(WIFSIGNALED(*status)) << "vellumor ended by signal " << WTERMSIG(*status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << "wait status " << *status;
    std::ostringstream log;
    log << std::ifstream(desktop.directory() / "vellumor.log").rdbuf();
    EXPECT_NE(log.str().find("X11 connection"), std::string::npos) << log.str();
}

}  // namespace
}  // namespace vellumor::x11test
