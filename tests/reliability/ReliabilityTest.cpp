// The whole program on the in-memory desktop: a pick survives kill -9 at any point of its
// write, and its sync is put off but comes.

#include <signal.h>
#include <sys/wait.h>

#include <cmath>
#include <random>
#include <thread>

#include "platform/common/DefaultsFile.h"
#include "platform/common/KeyedArchive.h"
#include "platform/common/SyncSchedule.h"
#include "tests/common/StoreFiles.h"
#include "tests/support/ForkedChild.h"
#include "tests/support/FsyncProbe.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

using platform::Color;
using std::chrono::milliseconds;

using CrashSafeDefaultsTest = ProgramTest;

constexpr int kPicks = 1000;

// The i-th colour of a rapid run; each component is the double nearest a short decimal, which
// the archive gives back exactly.
Color numbered(int i) {
    return Color::colorWithCalibratedRed(i / 1000.0, 0.25, (kPicks - i) / 1000.0, 1.0);
}

// Killed at a random moment inside a write, the file holds the last acknowledged pick or the
// next. Each run draws new moments; a failure names its seed.
TEST_F(CrashSafeDefaultsTest, KilledDuringRapidPicksTheFileHoldsTheLastOrNextPick) {
    const std::uint32_t seed = std::random_device{}();
    std::mt19937 random(seed);
    int killedRounds = 0;
    for (int round = 1; round <= 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round) + ", seed " + std::to_string(seed));
        const int target = std::uniform_int_distribution(2, kPicks - 100)(random);
        const double fraction = std::uniform_real_distribution(0.0, 1.0)(random);
        const auto start = std::chrono::steady_clock::now();
        test::Child child([&](const test::Child& self) {
            launch().chooseStatusMenuEntry("Pick Color...");
            for (int i = 1; i <= kPicks; ++i) {
                desktop().pickColorInPanel(numbered(i));
                self.send(i);
            }
            return 0;
        });
        // A program that ends early stops the wait, and fails the check of how it ended.
        while (child.receive().value_or(kPicks) < target) {
        }
        // The kill lands inside the next write: the program's own pace tells a write's length.
        const auto write = (std::chrono::steady_clock::now() - start) / target;
        std::this_thread::sleep_for(
            std::chrono::duration_cast<std::chrono::microseconds>(write * fraction));
        ::kill(child.pid, SIGKILL);
        int last = target;
        while (const auto next = child.receive()) {
            last = *next;
        }
        const int status = child.wait();
        const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        killedRounds += killed;
        EXPECT_TRUE(killed || last == kPicks) << "wait status " << status;

        const auto data =
            platform::common::DefaultsFile(defaultsFile()).dataForKey("selectedBackgroundColor");
        const auto stored = data ? platform::common::unarchiveColor(*data) : std::nullopt;
        ASSERT_TRUE(stored.has_value()) << "no readable colour in the file";
        const auto held = static_cast<int>(std::lround(stored->components().front() * 1000));
        EXPECT_EQ(*stored, numbered(held)) << "not one of the picks";
        EXPECT_TRUE(held == last || held == last + 1) << "holds " << held << ", last " << last;
        // The next pick that is saved clears what the killed writer left.
        launch().chooseStatusMenuEntry("Pick Color...");
        desktop().pickColorInPanel(numbered(kPicks));
        EXPECT_EQ(test::entries(defaultsFile().parent_path()),
                  std::set{defaultsFile().filename().string()});
    }
    EXPECT_GT(killedRounds, 0) << "no round was ended by the kill";
}

// Picks in a burst are synced once, when they pause; picks that never pause, once the first
// of them has waited the longest a sync may be put off.
TEST_F(CrashSafeDefaultsTest, ABurstOfPicksIsSyncedOnceWhenThePicksPauseOrAtTheLatest) {
    using platform::common::SyncSchedule;
    constexpr milliseconds kApart(50);
    const auto quiet = std::chrono::duration_cast<milliseconds>(SyncSchedule::kQuiet);
    const auto longest = std::chrono::duration_cast<milliseconds>(SyncSchedule::kLongest);
    static_assert(kApart < SyncSchedule::kQuiet);

    auto& desktop = launch();
    desktop.chooseStatusMenuEntry("Pick Color...");
    const std::size_t mark = test::fsyncCount();
    // How many times a file's contents were synced (each is followed by its directory's).
    const auto syncs = [mark] {
        const auto since = test::fsyncsSince(mark);
        return std::count_if(since.begin(), since.end(),
                             [](const test::Fsync& fsync) { return !fsync.directory; });
    };
    for (int i = 1; i <= 40; ++i) {
        desktop.pickColorInPanel(numbered(i));
        desktop.advanceTime(kApart);
    }
    EXPECT_EQ(test::fsyncsSince(mark), std::vector<test::Fsync>{}) << "fsyncs on the pick path";
    desktop.advanceTime(quiet - kApart - milliseconds(1));
    EXPECT_EQ(syncs(), 0) << "synced before the pause was long enough";
    desktop.advanceTime(milliseconds(1));
    EXPECT_EQ(test::fsyncsSince(mark), test::syncOf(defaultsFile()));
    desktop.advanceTime(longest);
    EXPECT_EQ(syncs(), 1) << "synced again with nothing new";

    // A drag that never pauses: one sync after the longest wait, counted from its first pick.
    const auto firstSynced = [&] {
        for (int i = 1;; ++i) {
            desktop.pickColorInPanel(numbered(i));
            desktop.advanceTime(kApart);
            if (syncs() == 2 || i * kApart > 2 * longest) {
                return i * kApart;
            }
        }
    }();
    EXPECT_EQ(firstSynced, longest);
    // Quit syncs what is left (termination signals and exit: DefaultsFileTest).
    desktop.pickColorInPanel(numbered(1));
    ASSERT_TRUE(desktop.chooseStatusMenuEntry("Quit") && desktop.isTerminated());
    EXPECT_EQ(syncs(), 3) << "the last pick not synced at Quit";
}

}  // namespace
}  // namespace vellumor::testing
