// Vellumor's overlays on sway: they cover every output exactly, in the stored colour, as
// surfaces of the layer between the wallpaper and the windows (so no window of sway's tree),
// under an ordinary window that keeps the focus and the keyboard when they are clicked.

#include "tests/wayland/WaylandTest.h"

namespace vellumor::waylandtest {
namespace {

constexpr Rgb kOrange{255, 128, 0};

class OverlayTest : public WaylandTest {};

TEST_F(OverlayTest, EveryOutputIsCoveredExactlyInTheStoredColourAndNoWindowIsMade) {
    auto& desktop = startDesktop();
    desktop.addOutput(1280, 1024);
    ASSERT_TRUE(eventually([&] { return desktop.outputs().size() == 2; }));
    storeColour(0.2, 0.4, 0.8);
    ASSERT_TRUE(launch({51, 102, 204}));
    // Layer surfaces are none of sway's windows: the overlays take no place in the tiling,
    // no workspace and no focus.
    EXPECT_TRUE(programWindows().empty());
    EXPECT_EQ(desktop.focused().second, 0);
    EXPECT_FALSE(vellumor_->waitForExit(0ms).has_value());
}

TEST_F(OverlayTest, AnOrdinaryWindowStaysAboveAndKeepsTheFocusWhenTheOverlayIsClicked) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());
    terminal_ = desktop.startTerminal(kOrange);
    ASSERT_TRUE(eventually([&] { return desktop.focused().second == terminal_->pid(); }))
        << "the terminal has not taken the focus";
    QJsonObject window;
    for (const QJsonObject& w : desktop.windows()) {
        if (w["pid"].toInt() == terminal_->pid()) {
            window = w;
        }
    }
    const QJsonObject r = window["rect"].toObject();
    const Geometry rect{r["x"].toInt(), r["y"].toInt(), r["width"].toInt(), r["height"].toInt()};
    const Geometry output = desktop.outputs().at(0).rect;
    ASSERT_LT(rect.width, output.width) << "the terminal leaves no overlay to click";
    // The terminal shows above the overlay, which covers the rest.
    ASSERT_TRUE(covered(kDefaultGrey, {rect}));
    EXPECT_EQ(desktop.pixel(rect.x + rect.width / 2, rect.y + rect.height / 2), kOrange);

    // A click on the overlay: the terminal keeps the focus (the click on a bare workspace
    // would take it) and stays above, and what is typed next goes to it.
    const int clickX = output.x + output.width - 20, clickY = output.y + output.height - 20;
    ASSERT_FALSE(rect.contains(clickX, clickY));
    ASSERT_TRUE(desktop.click(clickX, clickY));
    EXPECT_EQ(desktop.focused().second, terminal_->pid());
    EXPECT_TRUE(covered(kDefaultGrey, {rect}));
    EXPECT_EQ(desktop.pixel(rect.x + rect.width / 2, rect.y + rect.height / 2), kOrange);
    const auto inked = [&] { return differing(rect, kOrange); };
    const long before = inked();
    ASSERT_TRUE(desktop.type("vellumor"));
    EXPECT_TRUE(eventually([&] { return inked() > before + 50; }))
        << "what was typed did not reach the terminal";

    // Hidden, the overlays take no click: the same click reaches the workspace.
    ASSERT_TRUE(choose("Toggle Show/Hide"));
    ASSERT_TRUE(eventually([&] { return nowhere(kDefaultGrey); }));
    ASSERT_TRUE(desktop.click(clickX, clickY));
    EXPECT_TRUE(eventually([&] { return desktop.focused().second == 0; }));
}

}  // namespace
}  // namespace vellumor::waylandtest
