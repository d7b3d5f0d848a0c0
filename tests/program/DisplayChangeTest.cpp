#include <gtest/gtest.h>

#include <set>

#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

using platform::Rect;
using platform::Window;

class DisplayChangeTest : public ProgramTest {
protected:
    // The window-system numbers of the overlays held now.
    std::set<std::size_t> overlayNumbers() {
        std::set<std::size_t> numbers;
        for (OverlayWindow* overlay : overlays()) {
            numbers.insert(desktop().windowNumber(*overlay));
        }
        return numbers;
    }

    // Every overlay the delegate holds now is shown and none is one of `earlier`.
    void expectFreshShownOverlays(const std::set<std::size_t>& earlier) {
        for (OverlayWindow* overlay : overlays()) {
            EXPECT_TRUE(overlay->isVisible());
            EXPECT_FALSE(earlier.contains(desktop().windowNumber(*overlay)))
                << "an overlay was reused";
        }
        // Nothing but the current overlays is left on screen or alive.
        EXPECT_EQ(desktop().windows().size(), overlays().size());
        EXPECT_EQ(desktop().windowsFrontToBack().size(), overlays().size());
    }
};

TEST_F(DisplayChangeTest, AttachingADisplayRebuildsEveryOverlay) {
    auto& desktop = launch();
    const auto before = overlayNumbers();
    const auto closesBefore =
        std::count_if(desktop.journal().begin(), desktop.journal().end(),
                      [](const auto& line) { return line.starts_with("close"); });

    const Rect second{1920.0, 0.0, 1280.0, 1024.0};
    desktop.attachScreen(second);

    EXPECT_EQ(overlayFrames(), (std::vector<Rect>{kPrimary, second}));
    expectFreshShownOverlays(before);
    const auto closesAfter =
        std::count_if(desktop.journal().begin(), desktop.journal().end(),
                      [](const auto& line) { return line.starts_with("close"); });
    EXPECT_EQ(closesAfter - closesBefore, 1) << "the old overlay is closed before it is dropped";
    EXPECT_EQ(desktop.windowsDestroyed(), 1u);
}

TEST_F(DisplayChangeTest, DetachingADisplayLeavesOverlaysOnlyOnTheRemainingOnes) {
    const Rect left{-1440.0, 0.0, 1440.0, 900.0};
    const Rect right{1920.0, 0.0, 1920.0, 1080.0};
    auto& desktop = launch({kPrimary, left, right});
    const auto before = overlayNumbers();

    desktop.detachScreen(1);

    EXPECT_EQ(overlayFrames(), (std::vector<Rect>{kPrimary, right}));
    expectFreshShownOverlays(before);
    EXPECT_EQ(desktop.windowsDestroyed(), 3u);
}

TEST_F(DisplayChangeTest, ResizeAndUnchangedNotificationsStillRebuild) {
    auto& desktop = launch();
    auto before = overlayNumbers();

    desktop.resizeScreen(0, {0.0, 0.0, 3840.0, 2160.0});
    EXPECT_EQ(overlayFrames(), (std::vector<Rect>{{0.0, 0.0, 3840.0, 2160.0}}));
    expectFreshShownOverlays(before);

    before = overlayNumbers();
    desktop.postScreenParametersChanged();
    EXPECT_EQ(overlayFrames(), (std::vector<Rect>{{0.0, 0.0, 3840.0, 2160.0}}));
    expectFreshShownOverlays(before);
}

TEST_F(DisplayChangeTest, RepeatedNotificationsNeverLeaveTwoOverlaysForOneDisplay) {
    auto& desktop = launch({kPrimary, {1920.0, 0.0, 1920.0, 1080.0}});
    for (int round = 0; round < 50; ++round) {
        desktop.postScreenParametersChanged();
        if (round % 3 == 0) {
            desktop.attachScreen({-800.0, static_cast<double>(round), 800.0, 600.0});
        }
        if (round % 3 == 1) {
            desktop.detachScreen(desktop.screenFrames().size() - 1);
        }
        ASSERT_EQ(overlays().size(), desktop.screenFrames().size());
        ASSERT_EQ(desktop.windows().size(), desktop.screenFrames().size());
    }
    EXPECT_EQ(desktop.windowsCreated() - desktop.windowsDestroyed(), overlays().size());
}

TEST_F(DisplayChangeTest, HiddenOverlaysAreShownAgainByARebuild) {
    auto& desktop = launch();
    for (OverlayWindow* overlay : overlays()) {
        overlay->orderOut(nullptr);
    }
    const Rect second{1920.0, 0.0, 1280.0, 1024.0};
    desktop.attachScreen(second);

    EXPECT_EQ(overlayFrames(), (std::vector<Rect>{kPrimary, second}));
    for (OverlayWindow* overlay : overlays()) {
        EXPECT_TRUE(overlay->isVisible());
    }
}

}  // namespace
}  // namespace vellumor::testing
