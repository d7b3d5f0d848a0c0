#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include "main/ColorManager.h"
#include "tests/reliability/ChildProcess.h"
#include "tests/reliability/ReliabilitySupport.h"

namespace vellumor::testing {
namespace {

namespace fs = std::filesystem;
using platform::Color;

constexpr int kRapidPicks = 1000;
constexpr std::uint32_t kSeed = 20240917;

// The i-th colour of a rapid run: red i/1000, blue (1000-i)/1000, each the double nearest
// its decimal, so that the ten digits an archive keeps give it back exactly.
Color numbered(int i) {
    return Color::colorWithCalibratedRed(i / static_cast<double>(kRapidPicks), 0.25,
                                         (kRapidPicks - i) / static_cast<double>(kRapidPicks), 1.0);
}

std::optional<int> numberOf(const Color& color) {
    for (int i = 1; i <= kRapidPicks; ++i) {
        if (numbered(i) == color) {
            return i;
        }
    }
    return std::nullopt;
}

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The signal state a freshly started program has: default actions, nothing blocked. A test
// runner started in the background may have inherited SIGINT ignored.
void defaultSignalState() {
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGXFSZ}) {
        ::signal(signal, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

void expectChildSucceeded(ChildProcess& child) {
    const ChildExit exit = child.wait();
    EXPECT_TRUE(exit.exited && exit.exitCode == 0) << "the program " << exit.describe();
    for (const auto& failure : child.failures()) {
        ADD_FAILURE() << "in the program's process: " << failure;
    }
}

class CrashSafeDefaultsTest : public ReliabilityTest {
protected:
    // The checks a child runs on itself after a pick that could not be stored.
    void expectStillShowing(ChildChannel& channel, const Color& picked) {
        channel.expect(ColorManager::shared().currentColor() == picked,
                       "the picked colour is no longer the current one");
        for (const Color& shown : overlayColours()) {
            channel.expect(shown == picked, "an overlay does not show the picked colour");
        }
        sigset_t pending;
        sigemptyset(&pending);
        ::sigpending(&pending);
        channel.expect(sigismember(&pending, SIGXFSZ) == 0, "SIGXFSZ was left pending");
        sigset_t mask;
        ::sigprocmask(SIG_SETMASK, nullptr, &mask);
        channel.expect(sigismember(&mask, SIGXFSZ) == 0, "SIGXFSZ was left blocked");
    }

    // A program picks `stored`, then `makeUnwritable` takes the disk away and it picks
    // `unstorable`: it must live on showing `unstorable`, with `stored` left in the file.
    void pickOnUnwritableDisk(const std::function<void()>& makeUnwritable) {
        const Color stored = Color::colorWithDeviceRed(0.75, 0.5, 0.25, 1.0);
        const Color unstorable = Color::colorWithCalibratedWhite(0.625, 0.5);
        ChildProcess child([&](ChildChannel& channel) {
            defaultSignalState();
            auto& desktop = launch({kPrimary, {1920.0, 0.0, 1280.0, 1024.0}});
            desktop.chooseStatusMenuEntry("Pick Color...");
            desktop.pickColorInPanel(stored);
            makeUnwritable();
            desktop.pickColorInPanel(unstorable);
            expectStillShowing(channel, unstorable);
            // The panel reopens on the colour shown, not on the one in the file.
            desktop.chooseStatusMenuEntry("Pick Color...");
            channel.expect(desktop.colorPanelShownColor() == unstorable,
                           "the colour panel does not reopen on the shown colour");
        });
        expectChildSucceeded(child);

        EXPECT_EQ(colorInFile(), stored);
        EXPECT_EQ(strayFiles(), std::vector<std::string>{});
        launch();
        EXPECT_EQ(ColorManager::shared().currentColor(), stored);
    }
};

TEST_F(CrashSafeDefaultsTest, KilledDuringRapidPicksTheFileHoldsTheLastOrNextPick) {
    std::mt19937 random(kSeed);
    std::uniform_int_distribution<int> killAfter(1, kRapidPicks - 20);
    // About one write's length, so that the kill lands anywhere inside a write.
    std::uniform_int_distribution<int> delayMicros(0, 800);
    for (int round = 0; round < 8; ++round) {
        const int target = killAfter(random);
        const auto delay = std::chrono::microseconds(delayMicros(random));
        SCOPED_TRACE("round " + std::to_string(round) + ": kill after pick " +
                     std::to_string(target) + " + " + std::to_string(delay.count()) + " us");

        ChildProcess child([&](ChildChannel& channel) {
            auto& desktop = launch();
            desktop.chooseStatusMenuEntry("Pick Color...");
            for (int i = 1; i <= kRapidPicks; ++i) {
                desktop.pickColorInPanel(numbered(i));
                channel.send(std::to_string(i));
            }
        });
        while (const auto line = child.nextLine()) {
            if (std::stoi(*line) >= target) {
                break;
            }
        }
        std::this_thread::sleep_for(delay);
        child.kill(SIGKILL);
        const ChildExit exit = child.wait();
        ASSERT_FALSE(child.lines().empty());
        // The last pick the program had finished storing when it died.
        const int acknowledged = std::stoi(child.lines().back());
        ASSERT_GE(acknowledged, target);
        EXPECT_TRUE(exit.signaled || acknowledged == kRapidPicks) << exit.describe();

        const auto found = colorInFile();
        ASSERT_TRUE(found.has_value()) << "the defaults file holds no readable colour";
        const auto number = numberOf(*found);
        ASSERT_TRUE(number.has_value()) << "the file holds a colour that was never picked";
        EXPECT_GE(*number, acknowledged) << "a finished pick was lost";
        EXPECT_LE(*number, acknowledged + 1);
        // At most the temporary file of the write that was cut short.
        EXPECT_LE(strayFiles().size(), 1u);
        for (const auto& name : strayFiles()) {
            fs::remove(defaultsDirectory() / name);
        }

        launch();
        EXPECT_EQ(ColorManager::shared().currentColor(), numbered(*number));
        EXPECT_EQ(overlayColours(), std::vector<Color>{numbered(*number)});
    }
}

TEST_F(CrashSafeDefaultsTest, EndedBySignalRightAfterAPickTheColourIsBackAtNextLaunch) {
    const std::vector<std::pair<int, Color>> cases = {
        {SIGTERM, Color::colorWithDeviceRed(0.8, 0.1, 0.3, 1.0)},
        {SIGINT, Color::colorWithCalibratedWhite(0.3, 0.9)},
        {SIGHUP, Color::colorWithCustomSpace({0.2, 0.7, 0.4, 0.5}, 7, {})},
    };
    for (const auto& [signalNumber, pickedColour] : cases) {
        // Named copies: clang 14 cannot capture structured bindings in a lambda.
        const int signal = signalNumber;
        const Color picked = pickedColour;
        SCOPED_TRACE(::strsignal(signal));
        ChildProcess child([&](ChildChannel& channel) {
            defaultSignalState();
            auto& desktop = launch();
            desktop.chooseStatusMenuEntry("Pick Color...");
            desktop.pickColorInPanel(picked);
            channel.send("picked");
            for (;;) {
                ::pause();
            }
        });
        ASSERT_EQ(child.nextLine(), "picked");
        child.kill(signal);
        const ChildExit exit = child.wait();
        EXPECT_TRUE(exit.signaled && exit.signal == signal) << exit.describe();

        EXPECT_EQ(strayFiles(), std::vector<std::string>{});
        launch();
        EXPECT_EQ(ColorManager::shared().currentColor(), picked);
        EXPECT_EQ(overlayColours(), std::vector<Color>{picked});
    }
}

TEST_F(CrashSafeDefaultsTest, FullDiskNeitherEndsTheProgramNorTouchesTheFile) {
    pickOnUnwritableDisk([] {
        // A file-size limit smaller than any defaults file stands in for a full disk;
        // exceeding it raises SIGXFSZ, whose default action would end the program.
        struct rlimit limit {};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 16;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
}

TEST_F(CrashSafeDefaultsTest, ReadOnlyDefaultsDirectoryLeavesTheFileAndShowsThePick) {
    const fs::path directory = defaultsDirectory();
    fs::permissions(directory, fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
    pickOnUnwritableDisk([directory] {
        if (::geteuid() == 0) {
            // Permissions do not stop root: become nobody, for whom the root-owned
            // directory is read-only.
            const gid_t nobody = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
                ::setresuid(nobody, nobody, nobody) != 0) {
                ::_exit(3);
            }
        } else {
            fs::permissions(directory, fs::perms::owner_read | fs::perms::owner_exec);
        }
    });
    fs::permissions(directory, fs::perms::owner_all, fs::perm_options::add);
}

TEST_F(CrashSafeDefaultsTest, DefaultsDirectoryThatIsAFileShowsThePickAndKeepsTheFile) {
    fs::remove_all(defaultsDirectory());
    writeBytes(defaultsDirectory(), "a file where the defaults directory should be");
    auto& desktop = launch();
    EXPECT_EQ(ColorManager::shared().currentColor(), defaultGrey());

    const Color picked = Color::colorWithDeviceWhite(0.4, 1.0);
    desktop.chooseStatusMenuEntry("Pick Color...");
    desktop.pickColorInPanel(picked);
    EXPECT_EQ(ColorManager::shared().currentColor(), picked);
    EXPECT_EQ(overlayColours(), std::vector<Color>{picked});
    EXPECT_EQ(readBytes(defaultsDirectory()), "a file where the defaults directory should be");

    launch();
    EXPECT_EQ(ColorManager::shared().currentColor(), defaultGrey());
}

}  // namespace
}  // namespace vellumor::testing
