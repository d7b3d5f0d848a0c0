// The macOS backend run for real on GNUstep's AppKit under Xvfb, for what only that backend
// carries: AppKit's window settings, menu validation through the delegate, GNUstep's user
// defaults and keyed archives, the screen notice.

#include <fcntl.h>
#include <sys/stat.h>

#include <climits>
#include <sstream>

#include "tests/x11/X11Desktop.h"

namespace vellumor::cocoatest {
namespace {

using namespace std::chrono_literals;
using x11test::waitUntil;
using Lines = std::vector<std::string>;

// The items of a state answer that start with `prefix`, without it.
Lines with(const std::string& state, const std::string& prefix) {
    Lines found;
    for (std::size_t at = 0, end = 0; at < state.size(); at = end + 2) {
        end = std::min(state.find("; ", at), state.size());
        if (state.compare(at, prefix.size(), prefix) == 0) {
            found.push_back(state.substr(at + prefix.size(), end - at - prefix.size()));
        }
    }
    return found;
}

// The program's windows alive now, and ever made.
std::pair<int, int> windowCounts(const std::string& state) {
    std::pair<int, int> counts{-1, -1};
    std::istringstream(with(state, "live ").at(0)) >> counts.first >> counts.second;
    return counts;
}

// Whether the overlays are, one a screen, borderless, one level above the desktop icons (as
// the stand-in for CGWindowLevelForKey numbers them), on every Space, never key or main,
// taking clicks, covering the screen in `colour` and keeping any frame they are given.
bool overlaysShow(const std::string& state, const std::string& colour, bool visible = true) {
    Lines expected;
    for (const std::string& screen : with(state, "screen ")) {
        expected.push_back(std::string("visible=") + (visible ? "1" : "0") +
                           " key=0 level=" + std::to_string(INT_MIN + 43) +
                           " behavior=81 canBecomeKey=0 canBecomeMain=0 ignoresMouse=0 color=" +
                           colour + " frame=" + screen + " constrained=100,-5000,300,320");
    }
    return !expected.empty() && with(state, "window style=0 ") == expected;
}

// The program on a bare desktop, its GNUstep user files in the desktop's directory, driven
// through a pipe of commands; its answers, one a line, in a file.
class CocoaRuntimeTest : public x11test::DesktopTest {
protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        startDesktop(true);
        // GNUstep keeps its user files where its configuration says, not under $HOME.
        std::ofstream config(dir_ / "GNUstep.conf");
        for (const char* name : {"CONFIG_FILE", "DIR_APPS", "DIR_TOOLS", "DIR_LIBRARY",
                                 "DIR_HEADERS", "DIR_LIBRARIES", "DEFAULTS_DIR"}) {
            config << "GNUSTEP_USER_" << name << "=" << (dir_ / "GNUstep" / name).string() << "\n";
        }
        ASSERT_EQ(::mkfifo((dir_ / "commands").c_str(), 0600), 0);
        // Open for reading too, so that writing neither blocks nor meets a closed pipe.
        commands_ = ::open((dir_ / "commands").c_str(), O_RDWR | O_CLOEXEC);
    }
    void TearDown() override {
        DesktopTest::TearDown();
        ::close(commands_);
    }
    // No leak detection under the sanitizers: GNUstep and libobjc keep what they allocate
    // until exit. The tests count the program's windows instead.
    std::string gnustep(const std::string& program) const {
        return "env " + environment() + " GNUSTEP_CONFIG_FILE=" + (dir_ / "GNUstep.conf").string() +
               " ASAN_OPTIONS=detect_leaks=0 " + program;
    }

    // The program's answer to `command`: the line of the answers file that it is, the last
    // one, as each command but Quit is answered in turn.
    std::string ask(const std::string& command, std::chrono::milliseconds timeout = 10s) {
        const std::string line = command + "\n";
        [[maybe_unused]] const auto written = ::write(commands_, line.data(), line.size());
        std::string answers;
        const auto answered = [&, asked = ++asked_] {
            return std::ranges::count(answers = x11test::fileText(dir_ / "answers"), '\n') >= asked;
        };
        if (!waitUntil(answered, timeout)) {
            return "no answer";
        }
        answers.pop_back();
        return answers.substr(answers.find_last_of('\n') + 1);
    }

    // Starts the program; whether it shows the overlays in `colour`.
    bool launch(const std::string& colour) {
        std::filesystem::remove(dir_ / "answers");
        asked_ = 0;
        vellumor_ = std::make_unique<testsupport::Process>(
            gnustep("sh -c 'exec " VELLUMOR_BINARY " <" + (dir_ / "commands").string() + " >" +
                    (dir_ / "answers").string() + "'"),
            dir_ / "vellumor.log");
        return waitUntil([&] { return overlaysShow(ask("state"), colour); }, 20s);
    }
    // Ends the program with its Quit entry; whether it then exited with status 0.
    bool quit() {
        ask("choose Quit", 1s);  // it ends inside the action: no answer comes
        const auto status = vellumor_->waitForExit(10s);
        return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
    }

    // Stores, through GNUstep's own NSKeyedArchiver and NSUserDefaults in another process, a
    // colour ("R G B") or a string (any other text).
    bool storeWithGnustep(const std::string& root) {
        return std::system((gnustep(VELLUMOR_GNUSTEP_STORE_COLOR " vellumor-gnustep " + root) +
                            " >>" + (dir_ / "vellumor.log").string() + " 2>&1")
                               .c_str()) == 0;
    }
    std::string storedDefaults() {
        return x11test::fileText(dir_ / "GNUstep/DEFAULTS_DIR/vellumor-gnustep.plist");
    }

    int commands_ = -1;
    long asked_ = 0;  // since the launch
};

// A colour another GNUstep process archived is shown at launch; the menu is validated through
// the delegate; toggle and pick act at once; the pick is what the next process shows; About
// is made once, in front, and constrained by AppKit, where the overlays keep any frame.
TEST_F(CocoaRuntimeTest, ShowsWhatGnustepStoredAndCarriesEveryEntryOnAppKit) {
    ASSERT_TRUE(storeWithGnustep("0.2 0.4 0.6"));
    ASSERT_TRUE(launch("0.200,0.400,0.600"));
    std::string now = ask("state");
    EXPECT_EQ(with(now, "policy "), Lines{"1"}) << "not an accessory program";
    EXPECT_EQ(with(now, "entry "),
              (Lines{"About Vellumor openAbout 1", "-", "Pick Color... pickColor 1",
                     "Toggle Show/Hide toggleVisibility 1", "-", "Quit quitApp 1"}));

    ASSERT_EQ(ask("choose Toggle Show/Hide"), "chosen");
    EXPECT_TRUE(overlaysShow(ask("state"), "0.200,0.400,0.600", false));
    ASSERT_EQ(ask("choose Toggle Show/Hide"), "chosen");
    ASSERT_EQ(ask("choose Pick Color..."), "chosen");
    ASSERT_EQ(ask("pick 0.8 0.2 0.1"), "picked");
    EXPECT_TRUE(overlaysShow(ask("state"), "0.800,0.200,0.100"));
    // GNUstep truncates to 8 bits where others round.
    const auto shown = [&] {
        const x11test::Rgb seen = pixel(960, 540);
        return seen[0] == 204 && seen[1] == 51 && std::abs(seen[2] - 26) <= 1;
    };
    EXPECT_TRUE(waitUntil(shown, 10s)) << "the screen does not show the pick";
    ASSERT_TRUE(quit());

    ASSERT_TRUE(launch("0.800,0.200,0.100"));
    const auto [live, made] = windowCounts(ask("state"));
    ASSERT_EQ(ask("choose About Vellumor"), "chosen");
    ASSERT_EQ(ask("choose About Vellumor"), "chosen");
    now = ask("state");
    EXPECT_EQ(windowCounts(now), std::pair(live + 1, made + 1));
    const auto about = with(now, "window style=32771 visible=1 key=1 ");  // titled, closable
    ASSERT_EQ(about.size(), 1u);
    EXPECT_FALSE(about[0].ends_with("constrained=100,-5000,300,320")) << about[0];
}

// An archive of something else reads as the grey and is left as it was; each screen notice
// makes new overlays for the screen as it is and frees the old ones.
TEST_F(CocoaRuntimeTest, ReadsAnythingElseAsTheGreyAndRebuildsOnScreenChanges) {
    ASSERT_TRUE(storeWithGnustep("notacolour"));
    const std::string stored = storedDefaults();
    ASSERT_FALSE(stored.empty()) << "GNUstep's defaults file is not where it was expected";
    ASSERT_TRUE(launch("0.100,0.100,0.100"));

    const int madeAtLaunch = windowCounts(ask("state")).second;
    for (const char* size : {"4000x1000", "4224x1080", "4000x1000", "4224x1080"}) {
        run(std::string("xrandr --fb ") + size);  // fails, though the screen changes
    }
    std::string now;
    ASSERT_TRUE(waitUntil(
        [&] {
            now = ask("state");
            return with(now, "screen ") == Lines{"0,0,4224,1080"} &&
                   overlaysShow(now, "0.100,0.100,0.100");
        },
        30s));
    EXPECT_GT(windowCounts(now).second, madeAtLaunch);
    EXPECT_EQ(windowCounts(now).first, 1);
    ASSERT_TRUE(quit());
    EXPECT_EQ(storedDefaults(), stored) << "reading the stored value changed it";
}

}  // namespace
}  // namespace vellumor::cocoatest
