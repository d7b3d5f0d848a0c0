// The About window on a scaled desktop (QT_SCALE_FACTOR, or Xft.dpi as desktops set it): it
// keeps its size in points, so its pixels grow with the scale, and its content is whole.

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tests/x11/ShellTest.h"

namespace vellumor::x11test {
namespace {

// The About window's surface where no compositor blends windows.
constexpr Rgb kSurface{40, 40, 42};

class HiDpiTest : public ShellTest {
protected:
    struct AboutLook {
        Geometry window;
        // What is drawn on the surface (icon and labels), in window coordinates.
        Geometry content;
    };

    // Opens the About window from the menu and reads it once it is drawn.
    AboutLook openAbout() {
        AboutLook look;
        if (!choose(kAbout)) {
            ADD_FAILURE() << "no menu";
            return look;
        }
        const auto about = awaitShown(kNormal);
        if (about.empty()) {
            ADD_FAILURE() << "no About window";
            return look;
        }
        look.window = desktop_->geometry(about[0]);
        // Drawn when two reads a little apart agree.
        Geometry last{-1, -1, -1, -1};
        waitUntil([&] {
            std::this_thread::sleep_for(100ms);
            const Geometry now = grab(look.window).differingFrom(kSurface, 40);
            const bool settled = now == last && now.width > 0;
            last = now;
            return settled;
        });
        look.content = last;
        return look;
    }

    // The window is `scale` times 300 x 320 pixels, centred on the primary monitor, and its
    // content lies whole within it, centred across, at `scale` times the size of `unscaled`.
    void expectScaled(const AboutLook& look, int scale, const Geometry& unscaled) {
        EXPECT_EQ(look.window.width, 300 * scale);
        EXPECT_EQ(look.window.height, 320 * scale);
        EXPECT_NEAR(look.window.x + look.window.width / 2, kPrimary.width / 2, 2);
        EXPECT_NEAR(look.window.y + look.window.height / 2, kPrimary.height / 2, 30);
        const Geometry& c = look.content;
        const int margin = 8 * scale;
        EXPECT_GE(c.x, margin) << c;
        EXPECT_GE(c.y, margin) << c;
        EXPECT_LE(c.x + c.width, look.window.width - margin) << c;
        EXPECT_LE(c.y + c.height, look.window.height - margin) << c;
        EXPECT_NEAR(c.x + c.width / 2.0, look.window.width / 2.0, 2.0 * scale) << c;
        EXPECT_NEAR(c.width, scale * unscaled.width, 0.08 * scale * unscaled.width) << c;
        EXPECT_NEAR(c.height, scale * unscaled.height, 0.08 * scale * unscaled.height) << c;
    }

    void quit() {
        ASSERT_TRUE(choose(kQuit));
        ASSERT_TRUE(vellumor_->waitForExit(5s).has_value());
    }
};

TEST_F(HiDpiTest, AboutWindowKeepsItsSizeInPointsWithItsContentWholeAtTwiceTheScale) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());
    const AboutLook plain = openAbout();
    expectScaled(plain, 1, plain.content);
    ASSERT_GT(plain.content.height, 96 + 3 * 16);
    quit();

    {
        SCOPED_TRACE("QT_SCALE_FACTOR=2");
        ASSERT_TRUE(launchWith("QT_SCALE_FACTOR=2"));
        expectScaled(openAbout(), 2, plain.content);
        quit();
    }
    {
        SCOPED_TRACE("Xft.dpi: 192");
        ASSERT_TRUE(desktop.run("sh -c 'echo Xft.dpi: 192 | xrdb -merge'"));
        ASSERT_TRUE(launchWith(""));
        expectScaled(openAbout(), 2, plain.content);
    }
}

}  // namespace
}  // namespace vellumor::x11test
