// Vellumor's start-ups that end at once: --help and --version print with status 0, any other
// argument is a one-line usage error with status 2, and without a display to run on it says
// what is missing in one line with status 1; none touches the stored colour.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

constexpr char kUsage[] = "usage: vellumor [--help | --version]";
constexpr char kSetDisplay[] =
    "set DISPLAY, or WAYLAND_DISPLAY to a compositor with the layer shell";

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(::mkdtemp(dir_.data()), nullptr); }
    void TearDown() override {
        EXPECT_FALSE(std::filesystem::exists(dir_ + "/config")) << "the stored colour was touched";
        std::filesystem::remove_all(dir_);
    }

    // Runs vellumor with `environment` (env(1) operands) and `arguments` to its end, in a home
    // of its own: "STATUS|OUT|ERR", its exit status (124 if it ran for 20 s) and what it wrote
    // on each stream.
    std::string run(const std::string& environment, const std::string& arguments) {
        const std::string line =
            "cd " + dir_ + " && timeout 20 env -u DBUS_SESSION_BUS_ADDRESS HOME=$PWD " +
            "XDG_CONFIG_HOME=$PWD/config LSAN_OPTIONS=suppressions=" VELLUMOR_LSAN_SUPPRESSIONS
            " env " +
            environment + " " VELLUMOR_BINARY " " + arguments + " >out 2>err </dev/null";
        const int status = std::system(line.c_str());
        return std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + "|" +
               fileText(dir_ + "/out") + "|" + fileText(dir_ + "/err");
    }

    std::string dir_ = std::filesystem::temp_directory_path() / "vellumor-start-XXXXXX";
};

// Without a display, so that an answer proves the display was never needed.
TEST_F(StartupTest, HelpAndVersionPrintAndAnyOtherArgumentIsAUsageError) {
    const std::string help = run("-u DISPLAY", "--help");
    EXPECT_TRUE(help.starts_with(std::string("0|") + kUsage + "\n") && help.ends_with("|")) << help;
    EXPECT_EQ(run("-u DISPLAY", "--version"),
              std::string("0|vellumor ") + VELLUMOR_VERSION + "\n|");
    // Unknown arguments are not checked after a known one is answered.
    for (const auto& [arguments, wrong] :
         std::vector<std::array<std::string, 2>>{{"--bogus", "--bogus"},
                                                 {"''", ""},
                                                 {"--help --version", "--version"},
                                                 {"--bogus --help", "--bogus"}}) {
        EXPECT_EQ(run("-u DISPLAY", arguments),
                  "2||vellumor: unexpected argument '" + wrong + "'; " + kUsage + "\n");
    }
}

// One line that names the problem and the way out, with status 1.
TEST_F(StartupTest, WithNoDisplayToRunOnSaysWhatIsMissingInOneLineWithStatusOne) {
    for (const auto& [environment, saying] : std::vector<std::array<std::string, 2>>{
             {"-u DISPLAY -u WAYLAND_DISPLAY", "no X display: "},
             {"-u WAYLAND_DISPLAY DISPLAY=:4242", "no X display at \":4242\""},
             // A Wayland session whose compositor is gone, without XWayland.
             {"-u DISPLAY WAYLAND_DISPLAY=wayland-0 XDG_RUNTIME_DIR=" + dir_,
              "no Wayland compositor at \"wayland-0\" and no X display: "}}) {
        const std::string result = run(environment, "");
        EXPECT_TRUE(result.starts_with("1||vellumor: ") && std::ranges::count(result, '\n') == 1 &&
                    result.ends_with('\n') && result.find(saying) != std::string::npos &&
                    result.find(kSetDisplay) != std::string::npos)
            << result;
    }
}

}  // namespace
}  // namespace vellumor::x11test
