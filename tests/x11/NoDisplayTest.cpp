// Vellumor started where there is no X display to run on: it says what is missing in one
// line and ends with status 1, before Qt could abort it, leaving the stored colour alone.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/x11/ShortRun.h"
#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

class NoDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir =
            (std::filesystem::temp_directory_path() / "vellumor-nodisplay-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        dir_ = dir;
        defaults_ = dir_ / "config/vellumor/org.vellumor.Vellumor.plist";
        // Any stored colour: its bytes and time must stay as they are.
        std::filesystem::create_directories(defaults_.parent_path());
        std::ofstream(defaults_) << "bplist00 a colour stored earlier";
        written_ = std::filesystem::last_write_time(defaults_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Runs vellumor with `environment` and expects the one-line failure.
    void expectNoDisplayLine(const std::string& environment, const std::string& saying) {
        SCOPED_TRACE(environment);
        const ShortRun run = runVellumorToEnd(dir_, environment, "");
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(run.out, "");
        const auto said = lines(run.err);
        ASSERT_EQ(said.size(), 1U) << run.err;
        EXPECT_EQ(said[0].rfind("vellumor: ", 0), 0U) << said[0];
        EXPECT_NE(said[0].find(saying), std::string::npos) << said[0];
        EXPECT_NE(said[0].find("set DISPLAY; under Wayland run it through XWayland"),
                  std::string::npos)
            << said[0];
        EXPECT_EQ(fileText(defaults_), "bplist00 a colour stored earlier");
        EXPECT_EQ(std::filesystem::last_write_time(defaults_), written_);
    }

    std::filesystem::path dir_;
    // Inside the run's own directory, so that tests running side by side never share it.
    std::filesystem::path defaults_;
    std::filesystem::file_time_type written_;
};

// A display number no server listens on.
std::string unusedDisplay() {
    int number = 4242;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) {
        ++number;
    }
    return ":" + std::to_string(number);
}

TEST_F(NoDisplayTest, UnsetWrongOrWaylandOnlyDisplayEndsWithOneLineAndStatusOne) {
    expectNoDisplayLine("-u DISPLAY -u WAYLAND_DISPLAY", "no X display: ");
    const std::string wrong = unusedDisplay();
    expectNoDisplayLine("-u WAYLAND_DISPLAY DISPLAY=" + wrong, "no X display at \"" + wrong + "\"");
    // A Wayland session without XWayland: only a Wayland display is named.
    expectNoDisplayLine("-u DISPLAY WAYLAND_DISPLAY=wayland-0 XDG_SESSION_TYPE=wayland",
                        "no X display: ");
}

TEST_F(NoDisplayTest, ScreenTheServerDoesNotHaveEndsWithOneLineAndStatusOne) {
    if (std::system("which Xvfb xrandr >/dev/null") != 0) {
        GTEST_SKIP() << "Xvfb or xrandr is not installed";
    }
    X11Desktop desktop(true);
    // The desktop's DISPLAY=:n with a screen 3, where the server has only screen 0.
    const std::string environment = desktop.environment();
    const std::string display = environment.substr(8, environment.find(' ') - 8) + ".3";
    expectNoDisplayLine("DISPLAY=" + display, "has no such screen");
}

}  // namespace
}  // namespace vellumor::x11test
