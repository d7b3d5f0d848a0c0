// The tray icon as a light and a dark tray show it: it stands out at least 3:1 from both.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/Contrast.h"
#include "tests/x11/ShellTest.h"

namespace vellumor::x11test {
namespace {

using vellumor::test::contrastRatio;
using vellumor::test::relativeLuminance;

double luminance(const Rgb& colour) {
    return relativeLuminance(colour[0], colour[1], colour[2]);
}

class TrayIconTest : public ShellTest {};

TEST_F(TrayIconTest, StandsOutThreeToOneOnALightAndADarkTray) {
    // Xvfb and a tray of one even colour (transparent over a bare root, tinted fully).
    auto& desktop = startDesktop(true);
    for (const Rgb& panel : {Rgb{0xDC, 0xDA, 0xD5}, Rgb{0x2B, 0x2B, 0x2B}}) {
        const int tint = panel[0] << 16 | panel[1] << 8 | panel[2];
        SCOPED_TRACE(tint);
        Process tray("env " + desktop.environment() +
                         " trayer --edge bottom --align right --widthtype request --height 28"
                         " --SetDockType true --transparent true --alpha 0 --tint " +
                         std::to_string(tint),
                     desktop.directory() / "trayer.log");
        ASSERT_TRUE(launch());
        const auto icon = awaitShown(kTrayIcon);
        ASSERT_FALSE(icon.empty());
        const Geometry area = desktop.geometry(icon[0]);
        // The icon's pixels that stand out 3:1 from the panel, and those that differ from it
        // at all, once the icon is drawn. The panel shows through at the icon's corner (trayer
        // tints to within a step of the colour asked for).
        Rgb shown{};
        int strong = 0, drawn = 0;
        waitUntil([&] {
            const ScreenImage image = grab(area);
            shown = image.at(0, 0);
            strong = drawn = 0;
            for (const Rgb& pixel : image.pixels) {
                drawn += pixel != shown ? 1 : 0;
                strong += contrastRatio(luminance(pixel), luminance(shown)) >= 3.0 ? 1 : 0;
            }
            return strong >= area.width * area.height / 4 && strong * 2 >= drawn;
        });
        for (std::size_t channel = 0; channel < 3; ++channel) {
            ASSERT_NEAR(shown[channel], panel[channel], 2) << "not the panel's colour";
        }
        // A good part of the icon's place and most of the drawing (all but its smoothed edges):
        // the two squares, not an outline of them.
        EXPECT_GE(strong, area.width * area.height / 4) << drawn << " pixels drawn";
        EXPECT_GE(strong * 2, drawn) << strong << " of " << drawn << " pixels stand out";
        vellumor_.reset();
    }
}

}  // namespace
}  // namespace vellumor::x11test
