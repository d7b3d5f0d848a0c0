// The macOS backend, run for real on GNUstep's AppKit under a virtual X desktop: what a user
// sees on screen, and what AppKit's own objects say, from launch to Quit.

#include <climits>

#include "tests/cocoa/GnustepProgram.h"

namespace vellumor::cocoatest {
namespace {

using x11test::kDefaultGrey;
using x11test::kPrimary;
using x11test::kSecondary;
using x11test::Rgb;

constexpr unsigned long kBorderless = 0;
constexpr unsigned long kAboutStyle = 0x8003;  // titled, closable, full-size content view
// One above the desktop icons' level as macOS numbers it.
constexpr long kOverlayLevel = static_cast<long>(INT_MIN) + 43;

// The defaults domain GNUstep gives the program: its process name.
constexpr const char* kDomain = "vellumor-gnustep";

class CocoaRuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("which Xvfb openbox trayer xrandr >/dev/null") != 0) {
            GTEST_SKIP() << "Xvfb, openbox, trayer or xrandr is not installed";
        }
        desktop_ = std::make_unique<X11Desktop>();
        // GNUstep keeps its user files where its configuration says, not under $HOME.
        const auto user = desktop_->directory() / "GNUstep";
        std::ofstream(config()) << "GNUSTEP_USER_CONFIG_FILE=" << (user / "user.conf").string()
                                << "\nGNUSTEP_USER_DIR_APPS=" << (user / "Applications").string()
                                << "\nGNUSTEP_USER_DIR_TOOLS=" << (user / "Tools").string()
                                << "\nGNUSTEP_USER_DIR_LIBRARY=" << (user / "Library").string()
                                << "\nGNUSTEP_USER_DIR_HEADERS=" << (user / "Headers").string()
                                << "\nGNUSTEP_USER_DIR_LIBRARIES=" << (user / "Libraries").string()
                                << "\nGNUSTEP_USER_DEFAULTS_DIR=" << (user / "Defaults").string()
                                << "\n";
    }
    void TearDown() override {
        if (HasFailure() && desktop_) {
            std::cerr << "--- program output ---\n" << std::ifstream(log()).rdbuf();
        }
        program_.reset();
        desktop_.reset();
    }

    std::filesystem::path config() const { return desktop_->directory() / "GNUstep.conf"; }
    std::filesystem::path log() const { return desktop_->directory() / "program.log"; }

    // Starts the program and waits until its status menu is built and one shown overlay
    // covers each screen AppKit lists.
    ::testing::AssertionResult launch() {
        program_.reset();
        program_ = std::make_unique<GnustepProgram>(*desktop_, config(), log());
        ProgramState state;
        waitUntil([&] { return launched(state = program_->state()) || program_->waitForExit(0ms); },
                  20s);
        if (launched(state)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "not launched: " << state.screens.size() << " screens, "
               << state.withStyle(kBorderless).size() << " overlays, " << state.statusItems
               << " status items" << (program_->waitForExit(0ms) ? "; the program has ended" : "");
    }
    static bool launched(const ProgramState& state) {
        const auto overlays = state.withStyle(kBorderless);
        if (state.statusItems != 1 || state.screens.empty() ||
            overlays.size() != state.screens.size()) {
            return false;
        }
        for (std::size_t i = 0; i < overlays.size(); ++i) {
            if (!overlays[i].visible || overlays[i].frame != state.screens[i]) {
                return false;
            }
        }
        return true;
    }

    // Whether `seen` is `colour` as a screen of 8 bits a channel shows it: GNUstep truncates
    // where others round.
    static bool near(const Rgb& seen, const Rgb& colour) {
        for (std::size_t i = 0; i < seen.size(); ++i) {
            if (std::abs(seen[i] - colour[i]) > 1) {
                return false;
            }
        }
        return true;
    }
    // Whether points spread over both monitors, away from the tray and GNUstep's app icon in
    // the corners, show `colour`.
    bool screenShows(const Rgb& colour) {
        for (const auto& m : {kPrimary, kSecondary}) {
            const int cx = m.x + m.width / 2, cy = m.y + m.height / 2;
            for (const auto& [x, y] : std::initializer_list<std::pair<int, int>>{
                     {cx, cy}, {m.x + 200, m.y + 100}, {cx, m.y + m.height - 200}}) {
                if (!near(desktop_->pixel(x, y), colour)) {
                    return false;
                }
            }
        }
        return true;
    }
    ::testing::AssertionResult awaitScreen(const Rgb& colour) {
        if (waitUntil([&] { return screenShows(colour); }, 10s)) {
            return ::testing::AssertionSuccess();
        }
        const Rgb seen = desktop_->pixel(kPrimary.width / 2, kPrimary.height / 2);
        return ::testing::AssertionFailure()
               << "the screen shows " << seen[0] << "," << seen[1] << "," << seen[2];
    }

    // Stores an archive through GNUstep's own NSKeyedArchiver and NSUserDefaults: of a
    // colour ("R G B"), or of a string (any other text).
    bool storeWithGnustep(const std::string& root) {
        // Without leak detection under the sanitizers, as for the program.
        const std::string command = "env GNUSTEP_CONFIG_FILE=" + config().string() +
                                    " ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 " +
                                    VELLUMOR_GNUSTEP_STORE_COLOR + " " + kDomain + " " + root +
                                    " >>" + log().string() + " 2>&1";
        return std::system(command.c_str()) == 0;
    }
    // The bytes of the program's defaults file, or nothing.
    std::optional<std::string> storedDefaults() {
        std::ifstream file(desktop_->directory() / "GNUstep" / "Defaults" /
                           (std::string(kDomain) + ".plist"));
        if (!file) {
            return std::nullopt;
        }
        std::ostringstream bytes;
        bytes << file.rdbuf();
        return bytes.str();
    }

    std::unique_ptr<X11Desktop> desktop_;
    std::unique_ptr<GnustepProgram> program_;
};

TEST_F(CocoaRuntimeTest, LaunchCoversTheScreenInTheDefaultGreyWithEveryEntryEnabledAndToggles) {
    ASSERT_TRUE(launch());
    EXPECT_TRUE(awaitScreen(kDefaultGrey));

    const ProgramState state = program_->state();
    EXPECT_EQ(state.activationPolicy, 1) << "the program is not an accessory program";
    EXPECT_EQ(state.liveWindows, static_cast<int>(state.screens.size()));
    for (const WindowState& overlay : state.withStyle(kBorderless)) {
        EXPECT_EQ(overlay.level, kOverlayLevel);
        EXPECT_FALSE(overlay.key);
        EXPECT_FALSE(overlay.canBecomeKey);
        EXPECT_FALSE(overlay.canBecomeMain);
        EXPECT_FALSE(overlay.ignoresMouse);
        ASSERT_EQ(overlay.color.size(), 4U);
        EXPECT_NEAR(overlay.color[0], 0.1, 1e-4);
        EXPECT_NEAR(overlay.color[3], 1.0, 1e-4);
    }

    // AppKit validates each entry through the responder chain, which ends at the delegate.
    const std::vector<std::pair<std::string, std::string>> expected{
        {"About Vellumor", "openAbout"},          {"", ""}, {"Pick Color...", "pickColor"},
        {"Toggle Show/Hide", "toggleVisibility"}, {"", ""}, {"Quit", "quitApp"}};
    ASSERT_EQ(state.menu.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const EntryState& entry = state.menu[i];
        EXPECT_EQ(entry.separator, expected[i].first.empty()) << "entry " << i;
        if (!entry.separator) {
            EXPECT_EQ(entry.title, expected[i].first);
            EXPECT_EQ(entry.action, expected[i].second);
            EXPECT_TRUE(entry.enabled) << entry.title;
            EXPECT_EQ(entry.keyEquivalent, "\"\"") << entry.title;
        }
    }

    // The toggle hides every overlay, and shows them all again.
    ASSERT_EQ(program_->command("choose Toggle Show/Hide"), "chosen");
    for (const WindowState& overlay : program_->state().withStyle(kBorderless)) {
        EXPECT_FALSE(overlay.visible);
    }
    EXPECT_TRUE(waitUntil([&] { return !screenShows(kDefaultGrey); }, 10s))
        << "the grey stays on screen";
    ASSERT_EQ(program_->command("choose Toggle Show/Hide"), "chosen");
    EXPECT_TRUE(launched(program_->state()));
    EXPECT_TRUE(awaitScreen(kDefaultGrey));
}

// What GNUstep's own archiver stored: a colour is shown at launch; an archive of something
// else reads as the default grey, and the program leaves it as it was.
TEST_F(CocoaRuntimeTest, WhatGnustepsArchiverStoredIsShownOrLeftAlone) {
    ASSERT_TRUE(storeWithGnustep("notacolour"));
    const auto stored = storedDefaults();
    ASSERT_TRUE(stored.has_value()) << "GNUstep's defaults file is not where it was expected";
    ASSERT_TRUE(launch());
    EXPECT_TRUE(awaitScreen(kDefaultGrey));
    program_->ask("choose Quit", 1s);
    ASSERT_TRUE(program_->waitForExit(10s).has_value());
    EXPECT_EQ(storedDefaults(), stored) << "reading the stored value changed it";

    ASSERT_TRUE(storeWithGnustep("0.2 0.4 0.6"));
    ASSERT_TRUE(launch());
    EXPECT_TRUE(awaitScreen({51, 102, 153}));
}

TEST_F(CocoaRuntimeTest, APickRepaintsAtOnceAndIsFoundByTheNextProcess) {
    ASSERT_TRUE(launch());
    ASSERT_EQ(program_->command("choose Pick Color..."), "chosen");
    ProgramState state = program_->state();
    ASSERT_TRUE(state.panelVisible.value_or(false)) << "the colour panel is not shown";
    ASSERT_EQ(state.panelColor.size(), 4U);
    EXPECT_NEAR(state.panelColor[0], 0.1, 1e-4) << "the panel is not preset to the stored colour";

    ASSERT_EQ(program_->command("pick 0.8 0.2 0.1"), "picked");
    EXPECT_TRUE(awaitScreen({204, 51, 26}));

    // The program ends inside the action: no answer comes.
    program_->ask("choose Quit", 1s);
    const auto status = program_->waitForExit(10s);
    ASSERT_TRUE(status.has_value()) << "Quit did not end the program";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;

    ASSERT_TRUE(launch());
    EXPECT_TRUE(awaitScreen({204, 51, 26}));
}

TEST_F(CocoaRuntimeTest, ScreenChangesRebuildTheOverlaysWithTheWindowCountFlat) {
    ASSERT_TRUE(launch());
    const int madeAtLaunch = program_->state().windowsMade;
    constexpr int kChanges = 200;
    // The screen shrinks and grows back. xrandr reports a failure for the shrinking, which
    // Xvfb's one output does not fit, though the screen does change: the wait below checks it.
    for (int i = 0; i < kChanges; ++i) {
        desktop_->run(i % 2 == 0 ? "xrandr --fb 4000x1000" : "xrandr --fb 4224x1080");
    }
    ProgramState state;
    ASSERT_TRUE(waitUntil(
        [&] {
            state = program_->state();
            return launched(state) &&
                   state.screens.front() == std::vector<double>{0, 0, 4224, 1080};
        },
        30s))
        << "the overlays do not cover the screen as it ended";
    // Each notice made new overlays and freed the old ones.
    EXPECT_GT(state.windowsMade, madeAtLaunch);
    std::cout << state.windowsMade - madeAtLaunch << " overlays made for " << kChanges
              << " screen changes\n";
    EXPECT_EQ(state.liveWindows, static_cast<int>(state.screens.size()));
    EXPECT_TRUE(awaitScreen(kDefaultGrey));
}

TEST_F(CocoaRuntimeTest, AboutOpensOnceAndIsReusedAndOnlyTheOverlayKeepsAnyFrame) {
    ASSERT_TRUE(launch());
    ASSERT_EQ(program_->command("choose About Vellumor"), "chosen");
    ProgramState state = program_->state();
    ASSERT_EQ(state.withStyle(kAboutStyle).size(), 1U);
    const WindowState about = state.withStyle(kAboutStyle).front();
    EXPECT_TRUE(about.visible);
    EXPECT_TRUE(about.key);
    // The translucent background, the column, and its icon and three labels.
    EXPECT_EQ(about.views, 6);
    const int live = state.liveWindows;

    ASSERT_EQ(program_->command("choose About Vellumor"), "chosen");
    state = program_->state();
    EXPECT_EQ(state.withStyle(kAboutStyle).size(), 1U);
    EXPECT_EQ(state.liveWindows, live) << "a second About window was made";

    // A frame far below the screen: the overlay keeps it; the About window takes AppKit's
    // own constraint, which brings it back onto the screen.
    const auto answers = program_->ask("constrain 100 -5000 300 320");
    ASSERT_TRUE(answers.has_value());
    int checked = 0;
    for (const std::string& line : *answers) {
        auto f = fields(line);
        const auto frame = numbers(f["frame"]);
        ASSERT_EQ(frame.size(), 4U) << line;
        if (std::stoul(f["style"]) == kBorderless) {
            EXPECT_EQ(frame, (std::vector<double>{100, -5000, 300, 320}));
        } else {
            EXPECT_GE(frame[1], 0.0) << "the About window was not constrained by AppKit";
        }
        ++checked;
    }
    EXPECT_EQ(checked, live);
}

}  // namespace
}  // namespace vellumor::cocoatest
