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
    // of its own: the exit status (124 if it ran for 20 s), what it wrote on each stream.
    std::array<std::string, 3> run(const std::string& environment, const std::string& arguments) {
        const std::string line =
            "cd " + dir_ + " && timeout 20 env -u DBUS_SESSION_BUS_ADDRESS HOME=$PWD " +
            "XDG_CONFIG_HOME=$PWD/config LSAN_OPTIONS=suppressions=" VELLUMOR_LSAN_SUPPRESSIONS
            " env " +
            environment + " " VELLUMOR_BINARY " " + arguments + " >out 2>err </dev/null";
        const int status = std::system(line.c_str());
        return {std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1),
                fileText(dir_ + "/out"), fileText(dir_ + "/err")};
    }
    // Without a display, so that an answer proves the display was never needed.
    void expectUsageError(const std::string& arguments, const std::string& wrong) {
        EXPECT_EQ(run("-u DISPLAY", arguments),
                  (std::array<std::string, 3>{
                      "2", "", "vellumor: unexpected argument '" + wrong + "'; " + kUsage + "\n"}));
    }
    // The one-line failure that names the problem (`saying`) and the way out.
    void expectNoDisplay(const std::string& environment, const std::string& saying) {
        const auto [status, out, err] = run(environment, "");
        EXPECT_EQ(status + out, "1") << err;
        EXPECT_TRUE(err.starts_with("vellumor: ") && err.find('\n') == err.size() - 1 &&
                    err.find(saying) != std::string::npos &&
                    err.find(kSetDisplay) != std::string::npos)
            << err;
    }

    std::string dir_ = std::filesystem::temp_directory_path() / "vellumor-start-XXXXXX";
};

TEST_F(StartupTest, HelpAndVersionPrintAndAnyOtherArgumentIsAUsageError) {
    const auto [status, out, err] = run("-u DISPLAY", "--help");
    EXPECT_EQ(status + err, "0");
    EXPECT_TRUE(out.starts_with(std::string(kUsage) + "\n")) << out;
    EXPECT_EQ(
        run("-u DISPLAY", "--version"),
        (std::array<std::string, 3>{"0", std::string("vellumor ") + VELLUMOR_VERSION + "\n", ""}));
    expectUsageError("--bogus", "--bogus");
    expectUsageError("''", "");
    expectUsageError("--help --version", "--version");
    // Unknown arguments are not checked after a known one is answered.
    expectUsageError("--bogus --help", "--bogus");
}

TEST_F(StartupTest, WithNoDisplayToRunOnSaysWhatIsMissingInOneLineWithStatusOne) {
    expectNoDisplay("-u DISPLAY -u WAYLAND_DISPLAY", "no X display: ");
    expectNoDisplay("-u WAYLAND_DISPLAY DISPLAY=:4242", "no X display at \":4242\"");
    // A Wayland session whose compositor is gone, without XWayland.
    expectNoDisplay("-u DISPLAY WAYLAND_DISPLAY=wayland-0 XDG_RUNTIME_DIR=" + dir_,
                    "no Wayland compositor at \"wayland-0\" and no X display: ");
}

}  // namespace
}  // namespace vellumor::x11test
