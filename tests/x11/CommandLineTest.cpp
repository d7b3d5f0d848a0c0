// Vellumor's command line on Linux: --help and --version print and end with status 0, any
// other argument ends with a one-line usage error and status 2; neither reaches the display.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/x11/ShortRun.h"
#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

constexpr char kUsage[] = "usage: vellumor [--help | --version]";

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir =
            (std::filesystem::temp_directory_path() / "vellumor-cmdline-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        dir_ = dir;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Without a display, so that an answer proves the display was never needed.
    ShortRun run(const std::string& arguments, const std::string& environment = "-u DISPLAY") {
        return runVellumorToEnd(dir_, environment, arguments);
    }
    void expectUsageError(const ShortRun& run, const std::string& wrong) {
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "vellumor: unexpected argument '" + wrong + "'; " + kUsage + "\n");
    }

    std::filesystem::path dir_;
};

TEST_F(CommandLineTest, HelpAndVersionPrintAndEndWithStatusZero) {
    const ShortRun help = run("--help");
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_EQ(help.err, "");
    const auto helpLines = lines(help.out);
    ASSERT_GE(helpLines.size(), 3U) << help.out;
    EXPECT_EQ(helpLines[0], kUsage);
    EXPECT_NE(help.out.find("  --version  "), std::string::npos) << help.out;

    const ShortRun version = run("--version");
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, std::string("vellumor ") + VELLUMOR_VERSION + "\n");
    EXPECT_EQ(version.err, "");
}

TEST_F(CommandLineTest, AnyOtherArgumentIsAOneLineUsageErrorWithStatusTwo) {
    expectUsageError(run("--bogus"), "--bogus");
    expectUsageError(run("-h"), "-h");
    expectUsageError(run("''"), "");
    expectUsageError(run("colour red"), "colour");
    expectUsageError(run("--help --version"), "--version");
    expectUsageError(run("--version now"), "now");
    // Unknown arguments are not checked after a known one is answered.
    expectUsageError(run("--bogus --help"), "--bogus");
    // Nothing is written where the program keeps its colour.
    EXPECT_FALSE(std::filesystem::exists(dir_ / "config"));
}

TEST_F(CommandLineTest, OnADesktopTheyEndAtOnceAndNothingCoversIt) {
    if (std::system("which Xvfb xrandr >/dev/null") != 0) {
        GTEST_SKIP() << "Xvfb or xrandr is not installed";
    }
    X11Desktop desktop(true);
    const Rgb bare = desktop.pixel(kPrimary.width / 2, kPrimary.height / 2);
    const std::string environment = desktop.environment();
    const std::string display = environment.substr(0, environment.find(' '));

    const ShortRun help = run("--help", display);
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_EQ(lines(help.out).at(0), kUsage);
    expectUsageError(run("--cover", display), "--cover");
    EXPECT_TRUE(desktop.vellumorWindows().empty());
    EXPECT_EQ(desktop.pixel(kPrimary.width / 2, kPrimary.height / 2), bare);
}

}  // namespace
}  // namespace vellumor::x11test
