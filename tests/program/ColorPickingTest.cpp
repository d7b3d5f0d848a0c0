#include <gtest/gtest.h>

#include <cmath>

#include "main/ColorManager.h"
#include "platform/ColorPanel.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

using platform::Color;

// Counts colorDidChange posts.
class PostCounter : public platform::Object {
public:
    PostCounter() {
        addMethod("count", [this](Object*) { ++posts; });
        platform::NotificationCenter::defaultCenter().addObserver(
            *this, "count", notification::colorDidChange, nullptr);
    }
    int posts = 0;
};

class ColorPickingTest : public ProgramTest {
protected:
    const Color grey = Color::colorWithCalibratedRed(0.1, 0.1, 0.1, 1.0);
    const Color red = Color::colorWithDeviceRed(1.0, 0.0, 0.0, 1.0);
    const Color green = Color::colorWithDeviceRed(0.0, 1.0, 0.0, 0.5);

    std::vector<Color> overlayColours() const {
        std::vector<Color> colours;
        for (OverlayWindow* overlay : overlays()) {
            colours.push_back(overlay->backgroundColor());
        }
        return colours;
    }
};

TEST_F(ColorPickingTest, PickColorOpensThePanelOnTheStoredColourAndActivates) {
    auto& desktop = launch();
    desktop.activateOtherApplication();

    ASSERT_TRUE(desktop.chooseStatusMenuEntry("Pick Color..."));
    EXPECT_TRUE(desktop.colorPanelVisible());
    EXPECT_EQ(desktop.colorPanelShownColor(), grey);
    EXPECT_TRUE(desktop.isActive());
    const auto orderFront = desktop.journalIndex("colorPanel orderFront");
    const auto activate = desktop.journalIndex("activateIgnoringOtherApps");
    ASSERT_TRUE(orderFront && activate);
    EXPECT_LT(*orderFront, *activate);
}

TEST_F(ColorPickingTest, PresettingThePanelPicksNothing) {
    auto& desktop = launch();
    PostCounter counter;
    desktop.chooseStatusMenuEntry("Pick Color...");
    desktop.chooseStatusMenuEntry("Pick Color...");
    EXPECT_EQ(counter.posts, 0);
    EXPECT_FALSE(platform::UserDefaults::standardUserDefaults()
                     .objectForKey("selectedBackgroundColor")
                     .has_value());
}

TEST_F(ColorPickingTest, EachPickRepaintsEveryOverlayAndTheLastIsFoundAtTheNextLaunch) {
    auto& desktop = launch({kPrimary, {1920.0, 0.0, 1920.0, 1080.0}});
    PostCounter counter;
    desktop.chooseStatusMenuEntry("Pick Color...");

    desktop.pickColorInPanel(red);
    EXPECT_EQ(overlayColours(), (std::vector<Color>{red, red}));
    desktop.dragColorInPanel({green, red, green});
    EXPECT_EQ(overlayColours(), (std::vector<Color>{green, green}));
    EXPECT_EQ(counter.posts, 4);

    launch({kPrimary});
    EXPECT_EQ(ColorManager::shared().currentColor(), green);
    EXPECT_EQ(overlayColours(), std::vector<Color>{green});
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
    PostCounter counter;
    desktop.chooseStatusMenuEntry("Pick Color...");
    desktop.pickColorInPanel(green);
    EXPECT_EQ(counter.posts, 1);

    desktop.chooseStatusMenuEntry("Toggle Show/Hide");
    EXPECT_TRUE(overlays().front()->isVisible());
    EXPECT_EQ(overlays().front()->backgroundColor(), green);
}

}  // namespace
}  // namespace vellumor::testing
