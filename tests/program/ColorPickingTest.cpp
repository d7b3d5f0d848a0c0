#include <gtest/gtest.h>

#include "main/ColorManager.h"
#include "platform/ColorPanel.h"
#include "platform/UserDefaults.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

using platform::Color;

class ColorPickingTest : public ProgramTest {
protected:
    const Color grey = Color::colorWithCalibratedRed(0.1, 0.1, 0.1, 1.0);
    const Color red = Color::colorWithDeviceRed(1.0, 0.0, 0.0, 1.0);
    const Color green = Color::colorWithDeviceRed(0.0, 1.0, 0.0, 0.5);
};

// Opening the panel presets it and picks nothing, however often it is opened.
TEST_F(ColorPickingTest, PickColorOpensThePanelOnTheStoredColourAndActivates) {
    auto& desktop = launch();
    desktop.activateOtherApplication();
    ColorChanges changes;

    ASSERT_TRUE(desktop.chooseStatusMenuEntry("Pick Color..."));
    EXPECT_TRUE(desktop.colorPanelVisible());
    EXPECT_EQ(desktop.colorPanelShownColor(), grey);
    EXPECT_TRUE(desktop.isActive());
    const auto orderFront = desktop.journalIndex("colorPanel orderFront");
    const auto activate = desktop.journalIndex("activateIgnoringOtherApps");
    ASSERT_TRUE(orderFront && activate);
    EXPECT_LT(*orderFront, *activate);
    desktop.chooseStatusMenuEntry("Pick Color...");
    EXPECT_TRUE(changes.seen.empty());
    EXPECT_FALSE(platform::UserDefaults::standardUserDefaults()
                     .objectForKey("selectedBackgroundColor")
                     .has_value());
}

TEST_F(ColorPickingTest, EachPickRepaintsEveryOverlayAndTheLastIsFoundAtTheNextLaunch) {
    auto& desktop = launch({kPrimary, {1920.0, 0.0, 1920.0, 1080.0}});
    ColorChanges changes;
    desktop.chooseStatusMenuEntry("Pick Color...");

    desktop.pickColorInPanel(red);
    EXPECT_EQ(overlayColors(), (std::vector<Color>{red, red}));
    desktop.dragColorInPanel({green, red, green});
    EXPECT_EQ(overlayColors(), (std::vector<Color>{green, green}));
    EXPECT_EQ(changes.seen, (std::vector<Color>{red, green, red, green}));

    launch({kPrimary});
    EXPECT_EQ(ColorManager::shared().currentColor(), green);
    EXPECT_EQ(overlayColors(), std::vector<Color>{green});
}

TEST_F(ColorPickingTest, ReopeningThePanelResetsItToTheStoredColour) {
    auto& desktop = launch();
    desktop.chooseStatusMenuEntry("Pick Color...");
    desktop.pickColorInPanel(red);
    // The user browses to another colour that is never reported, say by closing mid-way.
    platform::ColorPanel::sharedColorPanel().setColor(green);
    desktop.activateOtherApplication();

    desktop.chooseStatusMenuEntry("Pick Color...");
    EXPECT_EQ(desktop.colorPanelShownColor(), red);
    EXPECT_TRUE(desktop.colorPanelVisible());
    EXPECT_TRUE(desktop.isActive());
}

TEST_F(ColorPickingTest, PicksWhileHiddenAreStoredAndShownWhenTheOverlaysReturn) {
    auto& desktop = launch();
    desktop.chooseStatusMenuEntry("Toggle Show/Hide");
    ColorChanges changes;
    desktop.chooseStatusMenuEntry("Pick Color...");
    desktop.pickColorInPanel(green);
    EXPECT_EQ(changes.seen, std::vector<Color>{green});

    desktop.chooseStatusMenuEntry("Toggle Show/Hide");
    EXPECT_TRUE(overlays().front()->isVisible());
    EXPECT_EQ(overlays().front()->backgroundColor(), green);
}

}  // namespace
}  // namespace vellumor::testing
