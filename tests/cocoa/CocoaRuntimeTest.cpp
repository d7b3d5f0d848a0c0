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

// The lines of `state` that start with `prefix`, without it.
Lines with(const Lines& state, const std::string& prefix) {
    Lines found;
    for (const std::string& line : state) {
        if (line.starts_with(prefix)) {
            found.push_back(line.substr(prefix.size()));
        }
    }
    return found;
}

// The program's windows alive now, and ever made.
std::pair<int, int> windowCounts(const Lines& state) {
    std::pair<int, int> counts{-1, -1};
    std::istringstream(with(state, "live ").at(0)) >> counts.first >> counts.second;
    return counts;
}

// Whether the overlays are, one a screen, borderless, one level above the desktop icons (as
// the stand-in for CGWindowLevelForKey numbers them), on every Space, never key or main,
// taking clicks, covering the screen in `colour` and keeping any frame they are given.
bool overlaysShow(const Lines& state, const std::string& colour, bool visible = true) {
    Lines expected;
    for (const std::string& screen : with(state, "screen ")) {
        expected.push_back(std::string("visible=") + (visible ? "1" : "0") +
                           " key=0 level=" + std::to_string(INT_MIN + 43) +
                           " behavior=81 canBecomeKey=0 canBecomeMain=0 ignoresMouse=0 color=" +
                           colour + " frame=" + screen + " constrained=100,-5000,300,320");
    }
    return !expected.empty() && with(state, "window style=0 ") == expected;
}

class CocoaRuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("which Xvfb xrandr >/dev/null") != 0) {
            GTEST_SKIP() << "Xvfb or xrandr is not installed";
        }
        desktop_ = std::make_unique<x11test::X11Desktop>(true);
        // GNUstep keeps its user files where its configuration says, not under $HOME.
        std::ofstream config(dir() / "GNUstep.conf");
        for (const char* name : {"CONFIG_FILE", "DIR_APPS", "DIR_TOOLS", "DIR_LIBRARY",
                                 "DIR_HEADERS", "DIR_LIBRARIES", "DEFAULTS_DIR"}) {
            config << "GNUSTEP_USER_" << name << "=" << (dir() / "GNUstep" / name).string() << "\n";
        }
        ASSERT_EQ(::mkfifo((dir() / "commands").c_str(), 0600), 0);
        // Open for reading too, so that writing neither blocks nor meets a closed pipe.
        commands_ = ::open((dir() / "commands").c_str(), O_RDWR | O_CLOEXEC);
    }
    void TearDown() override {
        if (HasFailure() && desktop_) {
            std::cerr << "--- program output ---\n" << std::ifstream(dir() / "program.log").rdbuf();
        }
        program_.reset();
        ::close(commands_);
    }
    std::filesystem::path dir() const { return desktop_->directory(); }
    // No leak detection under the sanitizers: GNUstep and libobjc keep what they allocate
    // until exit. The tests count the program's windows instead.
    std::string run(const std::string& program) const {
        return "env " + desktop_->environment() +
               " GNUSTEP_CONFIG_FILE=" + (dir() / "GNUstep.conf").string() +
               " ASAN_OPTIONS=detect_leaks=0 " + program;
    }

    // The program's lines answering `command`, up to its line "end".
    Lines ask(const std::string& command, std::chrono::milliseconds timeout = 10s) {
        std::string line = command + "\n";
        [[maybe_unused]] const auto written = ::write(commands_, line.data(), line.size());
        Lines answer;
        const int asked = ++asked_;
        const auto answered = [&] {
            std::istringstream answers(x11test::fileText(dir() / "answers"));
            answer.clear();
            for (int ends = 0; std::getline(answers, line) && !answers.eof();) {
                if (line != "end") {
                    answer.push_back(line);
                } else if (++ends < asked) {
                    answer.clear();
                } else {
                    return true;
                }
            }
            return false;
        };
        return waitUntil(answered, timeout) ? answer : Lines{"no answer"};
    }
    Lines state() { return ask("state"); }

    // Starts the program; whether it shows the overlays in `colour`.
    bool launch(const std::string& colour) {
        std::filesystem::remove(dir() / "answers");
        asked_ = 0;
        program_.emplace(
            run("sh -c 'exec " VELLUMOR_GNUSTEP_BINARY " <" + (dir() / "commands").string() + " >" +
                (dir() / "answers").string() + "'"),
            dir() / "program.log");
        return waitUntil([&] { return overlaysShow(state(), colour); }, 20s);
    }
    // Ends the program with its Quit entry; whether it then exited with status 0.
    bool quit() {
        ask("choose Quit", 1s);  // it ends inside the action: no answer comes
        const auto status = program_->waitForExit(10s);
        return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
    }

    // Stores, through GNUstep's own NSKeyedArchiver and NSUserDefaults in another process, a
    // colour ("R G B") or a string (any other text).
    bool storeWithGnustep(const std::string& root) {
        const std::string line = run(VELLUMOR_GNUSTEP_STORE_COLOR " vellumor-gnustep " + root) +
                                 " >>" + (dir() / "program.log").string() + " 2>&1";
        return std::system(line.c_str()) == 0;
    }
    std::string storedDefaults() {
        return x11test::fileText(dir() / "GNUstep/DEFAULTS_DIR/vellumor-gnustep.plist");
    }

    std::unique_ptr<x11test::X11Desktop> desktop_;
    std::optional<testsupport::Process> program_;
    int commands_ = -1;
    int asked_ = 0;  // since the launch
};

// A colour another GNUstep process archived is shown at launch; the menu is validated through
// the delegate; toggle and pick act at once; the pick is what the next process shows; About
// is made once, in front, and constrained by AppKit, where the overlays keep any frame.
TEST_F(CocoaRuntimeTest, ShowsWhatGnustepStoredAndCarriesEveryEntryOnAppKit) {
    ASSERT_TRUE(storeWithGnustep("0.2 0.4 0.6"));
    ASSERT_TRUE(launch("0.200,0.400,0.600"));
    Lines now = state();
    EXPECT_EQ(with(now, "policy "), Lines{"1"}) << "not an accessory program";
    EXPECT_EQ(with(now, "entry "),
              (Lines{"About Vellumor openAbout 1", "-", "Pick Color... pickColor 1",
                     "Toggle Show/Hide toggleVisibility 1", "-", "Quit quitApp 1"}));

    ASSERT_EQ(ask("choose Toggle Show/Hide"), Lines{"chosen"});
    EXPECT_TRUE(overlaysShow(state(), "0.200,0.400,0.600", false));
    ASSERT_EQ(ask("choose Toggle Show/Hide"), Lines{"chosen"});
    ASSERT_EQ(ask("choose Pick Color..."), Lines{"chosen"});
    ASSERT_EQ(ask("pick 0.8 0.2 0.1"), Lines{"picked"});
    EXPECT_TRUE(overlaysShow(state(), "0.800,0.200,0.100"));
    // GNUstep truncates to 8 bits where others round.
    const auto shown = [&] {
        const x11test::Rgb seen = desktop_->pixel(960, 540);
        return seen[0] == 204 && seen[1] == 51 && std::abs(seen[2] - 26) <= 1;
    };
    EXPECT_TRUE(waitUntil(shown, 10s)) << "the screen does not show the pick";
    ASSERT_TRUE(quit());

    ASSERT_TRUE(launch("0.800,0.200,0.100"));
    const auto [live, made] = windowCounts(state());
    ASSERT_EQ(ask("choose About Vellumor"), Lines{"chosen"});
    ASSERT_EQ(ask("choose About Vellumor"), Lines{"chosen"});
    now = state();
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

    const int madeAtLaunch = windowCounts(state()).second;
    for (const char* size : {"4000x1000", "4224x1080", "4000x1000", "4224x1080"}) {
        desktop_->run(std::string("xrandr --fb ") + size);  // fails, though the screen changes
    }
    Lines now;
    ASSERT_TRUE(waitUntil(
        [&] {
            now = state();
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
