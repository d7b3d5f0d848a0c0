// Vellumor through a burst of monitor changes made with xrandr, one run after the other: once
// it has caught up, each monitor has one overlay of its own rectangle, and the program has as
// many windows and about as much memory as before.

#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

// Resident memory of a process in KiB, as the kernel reports it; 0 once it is gone.
long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return 0;
}

TEST_F(DesktopTest, BurstOfMonitorChangesLeavesOneOverlayPerMonitorAndNothingBehind) {
    constexpr int kChanges = 200;
    // An overlay or window left behind holds an image of its monitor (megabytes at these
    // sizes); a hundred rebuilds would leave far more than this.
    constexpr long kGrowthLimitKiB = 2 * 1024;
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());
    // A third monitor comes and goes, a little narrower each time it comes.
    const auto change = [&](int i) {
        const Geometry third{3200, 0, 1024 - i % 16 * 32, 768};
        return desktop.run(i % 2 != 0 ? "xrandr --delmonitor C"
                                      : "xrandr --setmonitor C " +
                                            X11Desktop::xrandrGeometry(third) + " none");
    };
    const auto settled = [&](std::size_t windows) {
        return waitUntil(
            [&] { return overlaysMatchMonitors() && desktop.vellumorWindows().size() == windows; },
            30s);
    };
    // Warm-up: what the program loads on its first rebuild is part of the baseline.
    const std::size_t windowsBefore = desktop.vellumorWindows().size();
    ASSERT_TRUE(change(0) && change(1));
    ASSERT_TRUE(settled(windowsBefore)) << ::testing::PrintToString(overlayGeometries());
    const long rssBefore = residentKiB(vellumor_->pid());
    ASSERT_GT(rssBefore, 0);

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (int i = 0; i < kChanges; ++i) {
        ASSERT_TRUE(change(i)) << "xrandr failed at change " << i;
    }
    const std::chrono::duration<double> sending = Clock::now() - start;
    const bool caughtUp = settled(windowsBefore);
    const std::chrono::duration<double> settling = Clock::now() - start - sending;
    const std::size_t windowsAfter = desktop.vellumorWindows().size();
    // Memory freed late (objects deleted on a later turn of the event loop) has a moment to go.
    long rssAfter = 0;
    waitUntil(
        [&] { return (rssAfter = residentKiB(vellumor_->pid())) - rssBefore <= kGrowthLimitKiB; });
    std::cout << "storm: " << kChanges << " monitor changes sent in " << sending.count()
              << " s, settled " << settling.count() << " s later; vellumor windows "
              << windowsBefore << " before, " << windowsAfter << " after; RSS " << rssBefore
              << " KiB before, " << rssAfter << " KiB after" << std::endl;

    ASSERT_FALSE(vellumor_->waitForExit(0ms).has_value()) << "vellumor ended";
    EXPECT_TRUE(caughtUp) << ::testing::PrintToString(overlayGeometries());
    // One shown overlay per monitor (the server's monitors are the two of the start again),
    // each covering its monitor exactly, and no other overlay window.
    EXPECT_EQ(overlayGeometries(), sorted({kPrimary, kSecondary}));
    EXPECT_EQ(desktop.vellumorWindows(kOverlay).size(), 2U);
    EXPECT_EQ(windowsAfter, windowsBefore);
#ifndef __SANITIZE_ADDRESS__
    // AddressSanitizer holds freed memory back to catch use after free; LeakSanitizer looks
    // for lost memory at the program's exit instead.
    EXPECT_LE(rssAfter - rssBefore, kGrowthLimitKiB);
#endif
    EXPECT_TRUE(monitorsShow(kDefaultGrey));
}

}  // namespace
}  // namespace vellumor::x11test
