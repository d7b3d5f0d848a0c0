// Vellumor's tray icon when no tray runs: a few seconds after launch one line on stderr says
// so and how to end the program, and the icon still docks in a tray started later. Each test
// waits out the program's 5 s grace for a tray, which is most of its cost.

#include <gtest/gtest.h>

#include <chrono>
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

}  // namespace
}  // namespace vellumor::x11test
