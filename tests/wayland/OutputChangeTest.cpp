// Outputs that come, change and go while vellumor runs: every output there is ends up covered
// exactly, one that went leaves nothing behind, and the program goes on.

#include "tests/wayland/WaylandTest.h"

namespace vellumor::waylandtest {
namespace {

class OutputChangeTest : public WaylandTest {};

// The sizes are ones where sway's pixman renderer rounds its scaling step up, so that a buffer
// too short for the output leaves the far edge bare: the last column at 800 wide, the last 6
// rows at 1080 high.
TEST_F(OutputChangeTest, AnAddedOutputIsCoveredAndAResizedOrMovedOneIsCoveredAnew) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(launch());
    const std::string added = desktop.addOutput(800, 600);
    ASSERT_TRUE(eventually([&] { return desktop.outputs().size() == 2; }));
    EXPECT_TRUE(covered(kDefaultGrey));

    // A new mode and position for the first output: the overlay takes its new size and place.
    const std::string first = desktop.outputs()[0].name;
    ASSERT_TRUE(desktop.sway("output " + first + " resolution 1920x1080 position 1280 0"));
    ASSERT_TRUE(desktop.sway("output " + added + " position 0 0"));
    ASSERT_TRUE(eventually([&] {
        const auto outputs = desktop.outputs();
        return outputs.size() == 2 && outputs[0].rect == Geometry{1280, 0, 1920, 1080};
    }));
    EXPECT_TRUE(covered(kDefaultGrey));
    EXPECT_FALSE(vellumor_->waitForExit(0ms).has_value());
}

TEST_F(OutputChangeTest, AnUnpluggedOutputLeavesTheOthersCoveredAndAPluggedOneIsCovered) {
    auto& desktop = startDesktop(true);
    ASSERT_TRUE(launch());
    const std::string first = desktop.outputs().at(0).name;
    const std::string second = desktop.addOutput();
    ASSERT_TRUE(eventually([&] { return desktop.outputs().size() == 2; }));
    EXPECT_TRUE(covered(kDefaultGrey));

    ASSERT_TRUE(desktop.removeOutput(first));
    ASSERT_TRUE(eventually([&] { return desktop.outputs().size() == 1; }));
    EXPECT_TRUE(covered(kDefaultGrey));
    EXPECT_FALSE(vellumor_->waitForExit(0ms).has_value()) << "the program ended with the output";

    // The overlays that follow are the program's live ones: they still hide and show.
    desktop.addOutput();
    ASSERT_TRUE(eventually([&] { return desktop.outputs().size() == 2; }));
    EXPECT_TRUE(covered(kDefaultGrey));
    ASSERT_TRUE(choose("Toggle Show/Hide"));
    EXPECT_TRUE(eventually([&] { return nowhere(kDefaultGrey); }));
    ASSERT_TRUE(choose("Toggle Show/Hide"));
    EXPECT_TRUE(covered(kDefaultGrey));
    EXPECT_TRUE(programWindows().empty());
}

}  // namespace
}  // namespace vellumor::waylandtest
