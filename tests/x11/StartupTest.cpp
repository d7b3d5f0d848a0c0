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
    void SetUp() override {
        std::string dir =
            (std::filesystem::temp_directory_path() / "vellumor-start-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        dir_ = dir;
    }
    void TearDown() override {
        EXPECT_FALSE(std::filesystem::exists(dir_ / "config")) << "the stored colour was touched";
        std::filesystem::remove_all(dir_);
    }

    // Runs vellumor with `environment` (env(1) operands) and `arguments` to its end: the exit
    // status (124 if it ran for 20 s), what it wrote on each stream.
    std::array<std::string, 3> run(const std::string& environment, const std::string& arguments) {
        const std::string line =
            "timeout 20 env -u DBUS_SESSION_BUS_ADDRESS HOME=" + dir_.string() +
            " XDG_CONFIG_HOME=" + (dir_ / "config").string() +
            " LSAN_OPTIONS=suppressions=" + VELLUMOR_LSAN_SUPPRESSIONS + " env " + environment +
            " " + VELLUMOR_BINARY + " " + arguments + " >" + (dir_ / "out").string() + " 2>" +
            (dir_ / "err").string() + " </dev/null";
        const int status = std::system(line.c_str());
        return {std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1),
                fileText(dir_ / "out"), fileText(dir_ / "err")};
    }
    // Without a display, so that an answer proves the display was never needed.
    void expectUsageError(const std::string& arguments, const std::string& wrong) {
        EXPECT_EQ(run("-u DISPLAY", arguments),
                  (std::array<std::string, 3>{
                      "2", "", "vellumor: unexpected argument '" + wrong + "'; " + kUsage + "\n"}));
    }
    // The one-line failure that names the problem (`saying`) and the way out.
    void expectNoDisplay(const std::string& environment, const std::string& saying) {
        SCOPED_TRACE(environment);
        const auto [status, out, err] = run(environment, "");
        EXPECT_EQ(status, "1") << err;
        EXPECT_EQ(out, "");
        EXPECT_TRUE(err.starts_with("vellumor: ") && err.find('\n') == err.size() - 1) << err;
        EXPECT_NE(err.find(saying), std::string::npos) << err;
        EXPECT_NE(err.find(kSetDisplay), std::string::npos) << err;
    }

    // The run's home and config directory, so that tests running side by side share none.
    std::filesystem::path dir_;
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
    expectNoDisplay("-u DISPLAY WAYLAND_DISPLAY=wayland-0 XDG_RUNTIME_DIR=" + dir_.string(),
                    "no Wayland compositor at \"wayland-0\" and no X display: ");
}

}  // namespace
}  // namespace vellumor::x11test
