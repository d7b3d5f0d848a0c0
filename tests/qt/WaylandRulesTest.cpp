// How the Linux backend picks its window system and reads a Wayland desktop: which session
// leads where and what the user is told when none will do; which output is the primary one and
// which output an overlay lands on; the pixel an overlay shows and how large its buffer is.

#include <gtest/gtest.h>

#include <QRect>

#include <algorithm>
#include <cstdint>
#include <string>
#include <variant>

#include "platform/Color.h"
#include "platform/qt/QtWaylandRules.h"

namespace platform::qt {
namespace {

using Kind = WaylandAnswer::Kind;

std::string lineFor(const WaylandAnswer& wayland, const std::optional<std::string>& xProblem) {
    const auto choice = chooseWindowSystem("wayland-1", wayland, xProblem);
    const auto* line = std::get_if<std::string>(&choice);
    return line == nullptr ? std::string("(no line)") : *line;
}

TEST(WaylandRulesTest, LayerShellCompositorWinsOverXAndXIsTheFallback) {
    const WaylandAnswer usable{Kind::Usable, {}};
    const WaylandAnswer lacking{Kind::Lacking, {"zwlr_layer_shell_v1"}};
    // With both at hand, the layer shell keeps the overlays below the windows for real.
    EXPECT_EQ(std::get<WindowSystem>(chooseWindowSystem("wayland-1", usable, std::nullopt)),
              WindowSystem::Wayland);
    EXPECT_EQ(std::get<WindowSystem>(chooseWindowSystem("wayland-1", usable, "no X display")),
              WindowSystem::Wayland);
    // GNOME: a compositor without the layer shell, and its XWayland.
    EXPECT_EQ(std::get<WindowSystem>(chooseWindowSystem("wayland-1", lacking, std::nullopt)),
              WindowSystem::X11);
    for (const Kind kind : {Kind::NotNamed, Kind::NoCompositor, Kind::NoQtPlatform}) {
        EXPECT_EQ(std::get<WindowSystem>(chooseWindowSystem("", {kind, {}}, std::nullopt)),
                  WindowSystem::X11);
    }
}

TEST(WaylandRulesTest, WithNeitherOneLineSaysWhatEachSessionLacksAndTheWayOut) {
    EXPECT_EQ(lineFor({Kind::NotNamed, {}}, "no X display"),
              "vellumor: no X display: set DISPLAY, or WAYLAND_DISPLAY to a compositor with "
              "the layer shell");
    EXPECT_EQ(lineFor({Kind::NoCompositor, {}}, "no X display at \":7\""),
              "vellumor: no Wayland compositor at \"wayland-1\" and no X display at \":7\": set "
              "DISPLAY, or WAYLAND_DISPLAY to a compositor with the layer shell");
    // A compositor that answers but cannot keep a window below the others: XWayland can.
    EXPECT_EQ(lineFor({Kind::Lacking, {"zwlr_layer_shell_v1", "wp_viewporter"}}, "no X display"),
              "vellumor: the Wayland compositor at \"wayland-1\" lacks zwlr_layer_shell_v1, "
              "wp_viewporter and no X display: run it through XWayland (set DISPLAY)");
    // Qt cannot show the program's windows there: its Wayland platform is a package apart.
    EXPECT_EQ(lineFor({Kind::NoQtPlatform, {}}, "no X display"),
              "vellumor: Qt's Wayland platform is not installed (qt6-wayland) and no X display: "
              "install qt6-wayland, or set DISPLAY");
    for (const std::string& line :
         {lineFor({Kind::NotNamed, {}}, "the X display \":0.3\" has no such screen"),
          lineFor({Kind::Lacking, {"wl_shm"}}, "no X display")}) {
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        EXPECT_EQ(line.rfind("vellumor: ", 0), 0U) << line;
    }
}

TEST(WaylandRulesTest, OutputAtTheOriginIsPrimaryWhereverTheCompositorListsIt) {
    const QRect right(1920, 0, 1280, 1024);
    const QRect origin(0, 0, 1920, 1080);
    const QRect left(-800, 200, 800, 600);
    auto monitors = outputMonitors({right, origin, left});
    ASSERT_EQ(monitors.size(), 3U);
    EXPECT_EQ(monitors[0].geometry, origin);
    EXPECT_TRUE(monitors[0].primary);
    EXPECT_EQ(monitors[1].geometry, right);
    EXPECT_EQ(monitors[2].geometry, left);
    EXPECT_FALSE(monitors[1].primary || monitors[2].primary);

    // Nothing at the origin: the compositor's first output leads.
    monitors = outputMonitors({right, left});
    ASSERT_EQ(monitors.size(), 2U);
    EXPECT_EQ(monitors[0].geometry, right);
    EXPECT_EQ(monitors[1].geometry, left);

    // Two mirrored outputs at the origin: one primary, the first.
    monitors = outputMonitors({origin, origin});
    ASSERT_EQ(monitors.size(), 2U);
    EXPECT_TRUE(monitors[0].primary);
    EXPECT_FALSE(monitors[1].primary);
    EXPECT_TRUE(outputMonitors({}).empty());
}

TEST(WaylandRulesTest, OverlayLandsOnTheOutputItCoversMost) {
    const std::vector<QRect> outputs{
        {0, 0, 1920, 1080}, {1920, 0, 1280, 1024}, {-800, 200, 800, 600}};
    // Each output's own rectangle, as the program makes its overlays.
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        EXPECT_EQ(outputUnder(outputs, outputs[i]), i);
    }
    // Straddling two outputs, more on the second.
    EXPECT_EQ(outputUnder(outputs, QRect(1800, 0, 400, 100)), 1U);
    // Touching an edge is no overlap; off every output is none.
    EXPECT_EQ(outputUnder(outputs, QRect(3200, 0, 100, 100)), std::nullopt);
    EXPECT_EQ(outputUnder(outputs, QRect(0, 5000, 10, 10)), std::nullopt);
    EXPECT_EQ(outputUnder({}, QRect(0, 0, 10, 10)), std::nullopt);
    // Mirrored outputs: the earlier one.
    EXPECT_EQ(outputUnder({{0, 0, 100, 100}, {0, 0, 100, 100}}, QRect(0, 0, 100, 100)), 0U);
}

TEST(WaylandRulesTest, PixelCarriesTheColourInXrgbOrder) {
    EXPECT_EQ(shmPixel(Color::colorWithCalibratedRed(1.0, 0.0, 0.0, 1.0)), 0xFFFF0000U);
    EXPECT_EQ(shmPixel(Color::colorWithCalibratedRed(0.0, 1.0, 0.0, 1.0)), 0xFF00FF00U);
    EXPECT_EQ(shmPixel(Color::colorWithCalibratedRed(0.0, 0.0, 1.0, 1.0)), 0xFF0000FFU);
    // Channels are rounded to the nearest step; the overlay is opaque whatever the alpha.
    EXPECT_EQ(shmPixel(Color::colorWithCalibratedRed(0.5, 0.25, 0.75, 0.2)), 0xFF8040BFU);
}

// Whether a compositor that scales a buffer `bufferLength` pixels long onto `outputLength`
// output pixels in 16.16 fixed point, with the step between output pixels rounded up by as
// much as 1/65536, still samples the buffer at the last output pixel's centre.
bool lastPixelInside(std::uint32_t bufferLength, std::uint64_t outputLength) {
    const std::uint64_t step = bufferLength * std::uint64_t{65536} / outputLength + 1;
    return (2 * outputLength - 1) * step < 2 * std::uint64_t{bufferLength} * 65536;
}

TEST(WaylandRulesTest, OverlayBufferIsLongEnoughForTheCompositorsRoundingAndNoLonger) {
    // One pixel runs off at 1080 and at 800, as pixman's rounding shows on sway (6 rows, 1
    // column); the check below sees it.
    EXPECT_FALSE(lastPixelInside(1, 1080));
    EXPECT_FALSE(lastPixelInside(1, 800));
    for (std::uint32_t length = 1; length <= 8192; ++length) {
        for (const std::int32_t scale : {1, 2, 3}) {
            const std::uint64_t physical =
                std::uint64_t{length} * static_cast<std::uint64_t>(scale);
            if (physical > 8192) {
                continue;
            }
            const std::uint32_t buffer = pixelBufferLength(length, scale);
            ASSERT_TRUE(lastPixelInside(buffer, physical)) << length << " at scale " << scale;
            // Never longer than the output, and a small part of it.
            ASSERT_LE(buffer, physical) << length;
            ASSERT_LE(buffer, physical / 4 + 2) << length;
        }
    }
    // A 1080p overlay costs kilobytes, an 8K one a megabyte or so.
    EXPECT_LE(pixelBufferLength(1920, 1) * pixelBufferLength(1080, 1) * 4, 20'000U);
    EXPECT_LE(pixelBufferLength(7680, 1) * pixelBufferLength(4320, 1) * 4, 5'000'000U);
    // Scale 2 is twice the output pixels; no scale counts as 1.
    EXPECT_EQ(pixelBufferLength(1920, 2), pixelBufferLength(3840, 1));
    EXPECT_EQ(pixelBufferLength(1080, 0), pixelBufferLength(1080, 1));
    // Lengths no output has get a bounded buffer, not a huge or empty one.
    EXPECT_EQ(pixelBufferLength(100'000, 1), 2048U);
    EXPECT_EQ(pixelBufferLength(0xFFFFFFFFU, 0x7FFFFFFF), 2048U);
    EXPECT_EQ(pixelBufferLength(0, 1), 1U);
}

}  // namespace
}  // namespace platform::qt
