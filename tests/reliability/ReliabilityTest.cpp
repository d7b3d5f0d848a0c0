#include <grp.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

#include "main/ColorManager.h"
#include "platform/common/DefaultsFile.h"
#include "platform/common/KeyedArchive.h"
#include "platform/common/SyncSchedule.h"
#include "tests/common/PlistBuilders.h"
#include "tests/support/ForkedChild.h"
#include "tests/support/FsyncProbe.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

namespace fs = std::filesystem;
using platform::Color;
using std::chrono::microseconds;

using test::Child;

std::string readBytes(const fs::path& file) {
    std::ostringstream bytes;
    bytes << std::ifstream(file, std::ios::binary).rdbuf();
    return bytes.str();
}

// The whole program on the in-memory desktop, and its defaults file as another reader finds it.
class ReliabilityTest : public ProgramTest {
protected:
    // The program's defaults file; a desktop that is never installed only reads it.
    fs::path file() const {
        return platform::headless::HeadlessPlatform(defaultsDirectory(), {}).defaultsFilePath();
    }
};

using CrashSafeDefaultsTest = ReliabilityTest;
using HostileDefaultsFileTest = ReliabilityTest;
using DisplayStormTest = ReliabilityTest;

// --- Crash-safe defaults: each pick is on disk before the program can die.

constexpr int kPicks = 1000;

// The i-th colour of a rapid run; each component is the double nearest a short decimal, which
// the archive gives back exactly.
Color numbered(int i) {
    return Color::colorWithCalibratedRed(i / 1000.0, 0.25, (kPicks - i) / 1000.0, 1.0);
}

// A whole number from the environment variable `name`, or `fallback` when it is unset.
unsigned long fromEnvironment(const char* name, unsigned long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::stoul(text) : fallback;
}

// The temporary files a writer leaves beside the defaults file when it dies mid-write.
std::vector<std::string> temporariesBeside(const fs::path& file) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(file.parent_path())) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("." + file.filename().string() + ".")) {
            names.push_back(name);
        }
    }
    return names;
}

// VELLUMOR_KILL_ROUNDS sets the number of rounds (5 by default) and VELLUMOR_KILL_SEED the
// random seed (a new one by default); the seed is printed so that a failure can be replayed.
TEST_F(CrashSafeDefaultsTest, KilledDuringRapidPicksTheFileHoldsTheLastOrNextPick) {
    const auto rounds = static_cast<int>(fromEnvironment("VELLUMOR_KILL_ROUNDS", 5));
    const auto seed =
        static_cast<std::uint32_t>(fromEnvironment("VELLUMOR_KILL_SEED", std::random_device{}()));
    std::cout << "kill rounds " << rounds << ", seed " << seed
              << " (VELLUMOR_KILL_ROUNDS, VELLUMOR_KILL_SEED)\n";
    std::mt19937 random(seed);
    int killedRounds = 0;
    int leftBehind = 0;
    for (int round = 1; round <= rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round) + ", seed " + std::to_string(seed));
        const int target = std::uniform_int_distribution(2, kPicks - 100)(random);
        const double fraction = std::uniform_real_distribution(0.0, 1.0)(random);
        const auto start = std::chrono::steady_clock::now();
        Child child([&](const Child& self) {
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
        const auto write =
            std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - start) /
            target;
        const auto delay = std::chrono::duration_cast<microseconds>(write * fraction);
        std::this_thread::sleep_for(delay);
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
            platform::common::DefaultsFile(file()).dataForKey("selectedBackgroundColor");
        const auto stored = data ? platform::common::unarchiveColor(*data) : std::nullopt;
        ASSERT_TRUE(stored.has_value()) << "no readable colour in the file";
        const auto held = static_cast<int>(std::lround(stored->components().front() * 1000));
        EXPECT_EQ(*stored, numbered(held)) << "not one of the picks";
        EXPECT_TRUE(held == last || held == last + 1);
        const std::size_t left = temporariesBeside(file()).size();
        leftBehind += left > 0;
        std::cout << "round " << round << ": kill after pick " << target << " + " << delay.count()
                  << " us (a write takes " << write.count() << " us); last acknowledged " << last
                  << ", file holds " << held << ", temporary files left " << left << "\n";
        launch();
        EXPECT_EQ(ColorManager::shared().currentColor(), *stored);
        EXPECT_EQ(overlayColors(), std::vector{*stored});
        // The next pick that is saved clears what the killed writer left.
        desktop().chooseStatusMenuEntry("Pick Color...");
        desktop().pickColorInPanel(numbered(kPicks));
        EXPECT_EQ(temporariesBeside(file()), std::vector<std::string>{});
    }
    std::cout << rounds << " rounds, " << killedRounds << " ended by the kill, " << leftBehind
              << " left a temporary file until the next pick\n";
    EXPECT_GT(killedRounds, 0) << "no round was ended by the kill";
}

// The pick is in the file at once, but on stable storage only by the sync that Quit or the
// signal makes before the process ends: the pick itself waits for no fsync.
TEST_F(CrashSafeDefaultsTest, QuitOrATerminationSignalRightAfterAPickKeepsIt) {
    constexpr int kQuit = 0;
    int shade = 0;
    for (const int end : {kQuit, SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE("ended by " + std::to_string(end));
        const Color picked = Color::colorWithDeviceRed(++shade / 5.0, 0.5, 0.25, 1.0);
        int told[2];
        ASSERT_EQ(::pipe(told), 0);
        Child child([&](const Child& self) -> int {
            ::close(told[0]);
            launch().chooseStatusMenuEntry("Pick Color...");
            const std::size_t before = test::fsyncCount();
            desktop().pickColorInPanel(picked);
            const auto pickFsyncs = static_cast<int>(test::fsyncCount() - before);
            // From here on, before the parent may send its signal.
            test::tellFsyncsTo(told[1]);
            self.send(pickFsyncs);
            if (end == kQuit) {
                return desktop().chooseStatusMenuEntry("Quit") && desktop().isTerminated() ? 0 : 1;
            }
            for (;;) {
                ::pause();
            }
        });
        ::close(told[1]);
        EXPECT_EQ(child.receive(), 0) << "fsyncs on the way from the pick to the overlays";
        if (end != kQuit) {
            ::kill(child.pid, end);
        }
        const std::vector<test::Fsync> synced = test::fsyncsToldBy(told[0]);
        ::close(told[0]);
        const int status = child.wait();
        EXPECT_TRUE(end == kQuit ? status == 0 : WIFSIGNALED(status) && WTERMSIG(status) == end)
            << "wait status " << status;
        EXPECT_EQ(synced, (std::vector{test::fsyncOf(file().c_str()),
                                       test::fsyncOf(defaultsDirectory().c_str())}));
        launch();
        EXPECT_EQ(ColorManager::shared().currentColor(), picked);
        EXPECT_EQ(overlayColors(), std::vector{picked});
    }
}

// Picks in a burst are synced once, when they pause; picks that never pause, once the first
// of them has waited the longest a sync may be put off.
TEST_F(CrashSafeDefaultsTest, ABurstOfPicksIsSyncedOnceWhenThePicksPauseOrAtTheLatest) {
    using platform::common::SyncSchedule;
    using std::chrono::milliseconds;
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
    EXPECT_EQ(syncs(), 0) << "synced during the burst";
    desktop.advanceTime(quiet - kApart - milliseconds(1));
    EXPECT_EQ(syncs(), 0) << "synced before the pause was long enough";
    desktop.advanceTime(milliseconds(1));
    EXPECT_EQ(test::fsyncsSince(mark), (std::vector{test::fsyncOf(file().c_str()),
                                                    test::fsyncOf(defaultsDirectory().c_str())}))
        << "the last pick's file and its name";
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
}

// A program picks a colour; another launch, on two displays, loses its disk and picks twice.
// It must go on, showing the new pick on every overlay, with the old file as it was, nothing
// left beside it, and one line on stderr naming the file and the system's reason.
TEST_F(CrashSafeDefaultsTest, UnwritableDiskKeepsTheOldFileAndShowsTheNewPick) {
    const Color stored = Color::colorWithDeviceRed(0.75, 0.5, 0.25, 1.0);
    const Color unstorable = Color::colorWithCalibratedWhite(0.625, 0.5);
    for (const bool fullDisk : {false, true}) {
        SCOPED_TRACE(fullDisk ? "full disk" : "read-only directory");
        launch().chooseStatusMenuEntry("Pick Color...");
        desktop().pickColorInPanel(stored);
        const std::string before = readBytes(file());
        // The child's stderr goes to a pipe, which no file-size limit applies to.
        int told[2];
        ASSERT_EQ(::pipe(told), 0);
        Child child([&](const Child&) -> int {
            if (::dup2(told[1], STDERR_FILENO) < 0) {
                return 3;
            }
            launch({kPrimary, {-1280.0, -200.0, 1280.0, 1024.0}});
            desktop().chooseStatusMenuEntry("Pick Color...");
            if (fullDisk) {
                // A file-size limit below any defaults file stands in for a full disk. Going
                // past it raises SIGXFSZ, whose default action would end the program.
                const rlimit tiny{16, 16};
                if (::setrlimit(RLIMIT_FSIZE, &tiny) != 0) {
                    return 3;
                }
            } else {
                fs::permissions(defaultsDirectory(), fs::perms::owner_read | fs::perms::owner_exec);
                // Permissions do not stop root: it becomes nobody, whose own directory this
                // becomes, read-only as well.
                if (::geteuid() == 0 && (::chown(defaultsDirectory().c_str(), 65534, 65534) != 0 ||
                                         ::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 ||
                                         ::setuid(65534) != 0)) {
                    return 3;
                }
            }
            desktop().pickColorInPanel(unstorable);
            desktop().pickColorInPanel(unstorable);
            // Exit status 1: the pick is not shown.
            return ColorManager::shared().currentColor() != unstorable ||
                   overlayColors() != std::vector(2, unstorable);
        });
        ::close(told[1]);
        EXPECT_EQ(child.wait(), 0) << "wait status";
        std::string lines;
        char chunk[4096];
        for (ssize_t count; (count = ::read(told[0], chunk, sizeof chunk)) > 0;) {
            lines.append(chunk, static_cast<std::size_t>(count));
        }
        ::close(told[0]);
        EXPECT_EQ(::chown(defaultsDirectory().c_str(), ::geteuid(), ::getegid()), 0);
        fs::permissions(defaultsDirectory(), fs::perms::owner_all);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1) << lines;
        EXPECT_NE(lines.find(file().string()), std::string::npos) << lines;
        EXPECT_NE(lines.find(std::strerror(fullDisk ? EFBIG : EACCES)), std::string::npos) << lines;
        EXPECT_EQ(readBytes(file()), before);
        EXPECT_EQ(std::distance(fs::directory_iterator(defaultsDirectory()), {}), 1);
        launch();
        EXPECT_EQ(ColorManager::shared().currentColor(), stored);
    }
}

// --- Hostile things in place of the defaults file.

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// What a reader must leave as it is: the type, size and time of change of `path` itself
// (zeros when missing), and the bytes of a regular file when they are few.
std::string snapshot(const fs::path& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    const bool small = S_ISREG(status.st_mode) && status.st_size < (1 << 20);
    return std::to_string(status.st_mode) + " " + std::to_string(status.st_size) + " " +
           std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec) +
           " " + (small ? readBytes(path) : "");
}

TEST_F(HostileDefaultsFileTest, WhatStandsInPlaceOfTheFileReadsAsTheDefaultUntouched) {
    const fs::path domain = file();
    const fs::path elsewhere = defaultsDirectory() / "elsewhere" / "domain.plist";
    fs::create_directories(elsewhere.parent_path());
    const auto red = platform::common::archiveColor(Color::colorWithDeviceRed(1, 0, 0, 1));
    ASSERT_TRUE(red.has_value());
    plist_t archive = plist_new_data(reinterpret_cast<const char*>(red->data()), red->size());
    const std::string redDomain =
        test::toXml(test::Plist(test::dict({{"selectedBackgroundColor", archive}})).get());
    std::mt19937 random(5);
    std::string garbage = "bplist00";
    while (garbage.size() < 4096) {
        garbage += static_cast<char>(random());
    }
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"a directory",
         [&] {
             fs::create_directory(domain);
             writeBytes(domain / "inside", "kept");
         }},
        {"a link to a domain elsewhere",
         [&] {
             writeBytes(elsewhere,
                        "<plist><dict><key>name</key><string>kept</string></dict></plist>");
             fs::create_symlink(elsewhere, domain);
         }},
        // Beyond any defaults file, even though it starts with a colour that would read.
        {"a 64 MiB file",
         [&] {
             writeBytes(domain, redDomain);
             fs::resize_file(domain, std::uintmax_t{64} << 20);
         }},
        {"garbage", [&] { writeBytes(domain, garbage); }},
        {"a list", [&] { writeBytes(domain, "<plist><array/></plist>"); }},
        // 2 MB of XML whose nesting, left open, would overflow the stack when freed.
        {"deeply nested XML",
         [&] {
             std::string deep = "<plist><dict><key>selectedBackgroundColor</key>";
             for (int i = 0; i < 300000; ++i) {
                 deep += "<array>";
             }
             writeBytes(domain, deep);
         }},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(domain.c_str(), 0600), 0); }},
        {"a link to /dev/zero", [&] { fs::create_symlink("/dev/zero", domain); }},
        // Unreadable to its owner; root reads it all the same, as it may.
        {"a file of mode 000",
         [&] {
             writeBytes(domain, redDomain);
             fs::permissions(domain, fs::perms::none);
         }},
    };
    const Color grey = Color::colorWithCalibratedRed(0.1, 0.1, 0.1, 1.0);  // nothing picked
    const Color picked = Color::colorWithCalibratedRed(0.3, 0.6, 0.9, 0.8);
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(domain);
        fs::remove(elsewhere);
        make();
        const bool replaceable = !fs::is_directory(domain);
        const std::string before = snapshot(domain);
        const std::string beforeElsewhere = snapshot(elsewhere);

        const bool readable = fs::is_regular_file(domain) && ::access(domain.c_str(), R_OK) == 0 &&
                              readBytes(domain) == redDomain;
        launch({kPrimary, {-1440.0, -900.0, 1440.0, 900.0}});
        EXPECT_EQ(overlayColors(),
                  std::vector(2, readable ? Color::colorWithDeviceRed(1, 0, 0, 1) : grey));
        EXPECT_EQ(snapshot(domain), before) << "reading changed it";

        desktop().chooseStatusMenuEntry("Pick Color...");
        desktop().pickColorInPanel(picked);
        EXPECT_EQ(overlayColors(), std::vector(2, picked));
        if (!replaceable) {
            EXPECT_EQ(snapshot(domain), before) << "a failed write changed it";
        }
        // A write replaces a link, never what it points to, and keeps the domain's other keys.
        EXPECT_EQ(snapshot(elsewhere), beforeElsewhere);
        if (fs::exists(elsewhere)) {
            EXPECT_EQ(platform::common::DefaultsFile(domain).objectForKey("name"),
                      platform::PropertyValue(std::string("kept")));
        }
        launch();
        EXPECT_EQ(ColorManager::shared().currentColor(), replaceable ? picked : grey);
    }
}

// --- Display storms.

constexpr int kWarmUp = 100;
constexpr int kChanges = 1000;

// Resident memory in KiB, once freed heap pages are handed back, so that what is still in
// use counts.
long residentKiB() {
    ::malloc_trim(0);
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word && word != "VmRSS:") {
    }
    long kib = -1;
    status >> kib;
    return kib;
}

TEST_F(DisplayStormTest, EveryChangeLeavesOneFreshOverlayPerDisplayAndMemoryStaysFlat) {
    std::mt19937 random(4242);
    std::uniform_int_distribution place(-3, 3);
    std::uniform_int_distribution size(1, 8);
    auto& desktop = launch();
    const Color shown = ColorManager::shared().currentColor();
    long before = 0;
    for (int change = 1; change <= kWarmUp + kChanges; ++change) {
        std::vector<Rect> displays(std::uniform_int_distribution<std::size_t>(1, 4)(random));
        for (Rect& frame : displays) {
            frame = {place(random) * 640.0, place(random) * 480.0, size(random) * 320.0,
                     size(random) * 240.0};
        }
        const std::size_t old = overlays().size();
        const std::size_t destroyed = desktop.windowsDestroyed();
        desktop.clearJournal();

        desktop.setScreens(displays);

        ASSERT_EQ(overlayFrames(), displays) << "change " << change;
        for (OverlayWindow* overlay : overlays()) {
            ASSERT_TRUE(overlay->isVisible() && overlay->backgroundColor() == shown) << change;
        }
        ASSERT_EQ(desktop.windows().size(), displays.size()) << "change " << change;
        // Every old overlay was closed, then freed.
        ASSERT_EQ(desktop.windowsDestroyed() - destroyed, old) << "change " << change;
        const auto& journal = desktop.journal();
        ASSERT_EQ(
            std::count_if(journal.begin(), journal.end(),
                          [](const std::string& line) { return line.starts_with("close #"); }),
            static_cast<std::ptrdiff_t>(old))
            << "change " << change;
        if (change == kWarmUp) {
            before = residentKiB();
        }
    }
    const long after = residentKiB();
    ASSERT_GT(before, 0);
    ASSERT_GT(after, 0);
    std::cout << kChanges << " display changes after " << kWarmUp << " to warm up, "
              << desktop.windowsCreated() << " overlays made; VmRSS " << before << " KiB before, "
              << after << " KiB after\n";
#ifndef __SANITIZE_ADDRESS__
    // Under AddressSanitizer freed memory is held back to catch use after free, so resident
    // memory grows regardless; LeakSanitizer looks for lost memory at exit instead.
    EXPECT_LE(after - before, 1024) << "memory grew across the changes";
#endif
}

}  // namespace
}  // namespace vellumor::testing
