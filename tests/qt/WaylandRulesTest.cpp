// How the Linux backend picks its window system and reads a Wayland desktop: which session
// leads where and what the user is told when none will do; which output is the primary one and
// which output an overlay lands on; the pixel an overlay shows.

#include <gtest/gtest.h>

#include <QRect>

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

}  // namespace
}  // namespace platform::qt
