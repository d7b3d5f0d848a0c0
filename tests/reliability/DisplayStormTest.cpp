#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "main/ColorManager.h"
#include "tests/reliability/ReliabilitySupport.h"

namespace vellumor::testing {
namespace {

using platform::Color;
using platform::headless::HeadlessPlatform;

constexpr std::uint32_t kSeed = 1234567;
constexpr std::size_t kMaxDisplays = 6;
constexpr int kStormChanges = 1000;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// Resident memory of this process in bytes, after handing freed heap pages back to the
// system so that only memory still in use counts.
long residentBytes() {
    ::malloc_trim(0);
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

class DisplayStormTest : public ReliabilityTest {
protected:
    Rect randomFrame() {
        std::uniform_int_distribution<int> position(-4, 4);
        std::uniform_int_distribution<int> size(1, 8);
        return {position(random_) * 1024.0, position(random_) * 768.0, size(random_) * 320.0,
                size(random_) * 240.0};
    }

    // One change of the kind a window system reports: a display attached, removed,
    // resized, the whole set replaced, or a notice with nothing changed.
    void changeDisplays(HeadlessPlatform& desktop) {
        const std::size_t count = desktop.screenFrames().size();
        switch (std::uniform_int_distribution<int>(0, 4)(random_)) {
            case 0:
                if (count < kMaxDisplays) {
                    desktop.attachScreen(randomFrame());
                    return;
                }
                [[fallthrough]];
            case 1:
                if (count > 0) {
                    desktop.detachScreen(
                        std::uniform_int_distribution<std::size_t>(0, count - 1)(random_));
                    return;
                }
                [[fallthrough]];
            case 2: {
                std::vector<Rect> frames(
                    std::uniform_int_distribution<std::size_t>(0, kMaxDisplays)(random_));
                for (Rect& frame : frames) {
                    frame = randomFrame();
                }
                desktop.setScreens(std::move(frames));
                return;
            }
            case 3:
                if (count > 0) {
                    desktop.resizeScreen(
                        std::uniform_int_distribution<std::size_t>(0, count - 1)(random_),
                        randomFrame());
                    return;
                }
                [[fallthrough]];
            default:
                desktop.postScreenParametersChanged();
        }
    }

    // `changes` display changes, checking after each that every display has exactly one
    // shown overlay of its frame and colour, and that every overlay of before the change was
    // closed and then freed.
    void storm(HeadlessPlatform& desktop, int changes) {
        const Color colour = ColorManager::shared().currentColor();
        for (int change = 0; change < changes; ++change) {
            std::vector<std::size_t> before;
            for (platform::Window* window : desktop.windows()) {
                before.push_back(desktop.windowNumber(*window));
            }
            const std::size_t journalStart = desktop.journal().size();

            changeDisplays(desktop);

            const auto screens = desktop.screenFrames();
            const auto frames = overlayFrames();
            ASSERT_EQ(frames.size(), screens.size()) << "after change " << change;
            for (std::size_t i = 0; i < screens.size(); ++i) {
                ASSERT_EQ(frames[i], screens[i]) << "after change " << change;
            }
            for (OverlayWindow* overlay : overlays()) {
                ASSERT_TRUE(overlay->isVisible()) << "after change " << change;
                ASSERT_EQ(overlay->backgroundColor(), colour) << "after change " << change;
            }
            // Nothing but the overlays exists or is shown.
            ASSERT_EQ(desktop.windowsCreated() - desktop.windowsDestroyed(), screens.size());
            ASSERT_EQ(desktop.windows().size(), screens.size());
            ASSERT_EQ(desktop.windowsFrontToBack().size(), screens.size());

            const std::vector<std::string> journal(
                desktop.journal().begin() + static_cast<std::ptrdiff_t>(journalStart),
                desktop.journal().end());
            for (std::size_t number : before) {
                const auto at = [&](const std::string& line) {
                    return std::find(journal.begin(), journal.end(), line) - journal.begin();
                };
                const auto closed = at("close #" + std::to_string(number));
                const auto destroyed = at("destroy #" + std::to_string(number));
                ASSERT_LT(destroyed, static_cast<std::ptrdiff_t>(journal.size()))
                    << "overlay #" << number << " outlived change " << change;
                ASSERT_LT(closed, destroyed)
                    << "overlay #" << number << " was freed without being closed";
            }
            maxDisplays_ = std::max(maxDisplays_, screens.size());
            minDisplays_ = std::min(minDisplays_, screens.size());
        }
    }

    std::mt19937 random_{kSeed};
    std::size_t maxDisplays_ = 0;
    std::size_t minDisplays_ = kMaxDisplays;
};

TEST_F(DisplayStormTest, ThousandDisplayChangesKeepOneOverlayPerDisplayAndMemoryFlat) {
    // Warm-up: the first storm grows the allocator's pools, the notification centre's
    // tables and the like to their working size.
    storm(launch({kPrimary}), 200);
    if (HasFatalFailure()) {
        return;
    }
    // Each launch has a fresh in-memory desktop, whose journal of every call made is the
    // one thing that must grow with the storm; relaunching frees it, and leaves in place
    // anything the program failed to free.
    launch({kPrimary});
    const long before = residentBytes();

    auto& desktop = launch({kPrimary, {1920.0, 0.0, 2560.0, 1440.0}});
    storm(desktop, kStormChanges);
    if (HasFatalFailure()) {
        return;
    }
    const std::size_t created = desktop.windowsCreated();
    launch({kPrimary});
    const long after = residentBytes();

    std::printf(
        "storm: %d changes, %zu overlays made, %zu to %zu displays; "
        "RSS %ld KiB before, %ld KiB after\n",
        kStormChanges, created, minDisplays_, maxDisplays_, before / 1024, after / 1024);
    EXPECT_EQ(minDisplays_, 0u);
    EXPECT_EQ(maxDisplays_, kMaxDisplays);
    if (!kAddressSanitizer) {
        // An overlay that was not freed costs well over 100 bytes; thousands were made.
        EXPECT_LE(after - before, 256 * 1024) << "memory grew across the storm";
    }
    // Under AddressSanitizer freed memory is held back to catch use after free, so resident
    // memory grows regardless; LeakSanitizer checks for lost memory at exit instead.
}

}  // namespace
}  // namespace vellumor::testing
