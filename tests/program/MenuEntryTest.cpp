#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "platform/ColorPanel.h"
#include "platform/View.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

using namespace platform;

const Color kGrey = Color::colorWithCalibratedRed(0.1, 0.1, 0.1, 1.0);
const Color kRed = Color::colorWithDeviceRed(1.0, 0.0, 0.0, 1.0);
const Color kGreen = Color::colorWithDeviceRed(0.0, 1.0, 0.0, 0.5);

class MenuEntryTest : public ProgramTest {
protected:
    const std::vector<Rect> kTwo = {kPrimary, {1920.0, 0.0, 1280.0, 1024.0}};
    long storeWrites() {
        const auto& journal = desktop().journal();
        return std::count(journal.begin(), journal.end(),
                          "defaults setObject selectedBackgroundColor");
    }
    std::vector<bool> visibility() { return ofOverlays(&OverlayWindow::isVisible); }
    Window* about() { return delegate().aboutWindowController(); }
    // The About column's arranged view `index`: the icon, then the three lines.
    template <typename ViewType>
    const ViewType& arranged(std::size_t index) {
        const auto& column = dynamic_cast<const StackView&>(*about()->contentView()->subviews()[0]);
        return dynamic_cast<const ViewType&>(*column.arrangedSubviews().at(index));
    }
    std::string aboutLine(std::size_t index) { return arranged<TextField>(index).stringValue(); }
    std::shared_ptr<const Image> aboutIcon() { return arranged<ImageView>(0).image(); }
};

// The panel opens on the stored colour; each pick is stored before it is announced, repaints
// every overlay and is found by the next launch; one that cannot be archived is dropped;
// reopening resets what the user browsed to.
TEST_F(MenuEntryTest, PickColorStoresEachPickBeforeAnnouncingAndRepaintsEveryOverlay) {
    auto& desktop = launch(kTwo);
    desktop.activateOtherApplication();
    ColorChanges changes;
    ASSERT_TRUE(desktop.chooseStatusMenuEntry("Pick Color..."));
    EXPECT_TRUE(desktop.colorPanelVisible() && desktop.isActive());
    EXPECT_EQ(desktop.colorPanelShownColor(), kGrey);
    EXPECT_EQ(storeWrites(), 0);

    desktop.pickColorInPanel(kRed);
    EXPECT_EQ(overlayColors(), std::vector(2, kRed));
    desktop.dragColorInPanel({kGreen, kRed, kGreen});
    desktop.pickColorInPanel(
        Color::colorWithCalibratedRed(std::numeric_limits<double>::quiet_NaN(), 0.0, 0.0, 1.0));
    EXPECT_EQ(overlayColors(), std::vector(2, kGreen));
    // Each observer already found the new colour in the store when it was told.
    EXPECT_EQ(changes.seen, (std::vector{kRed, kGreen, kRed, kGreen}));
    EXPECT_EQ(storeWrites(), 4);

    ColorPanel::sharedColorPanel().setColor(kRed);  // browsed to, never reported
    desktop.chooseStatusMenuEntry("Pick Color...");
    EXPECT_EQ(desktop.colorPanelShownColor(), kGreen);
    launch();
    EXPECT_EQ(overlayColors(), std::vector{kGreen});
}

// Each overlay flips on its own state; picks while hidden show when the overlays return. A
// display notice, even with nothing changed, replaces every overlay with a shown new one. Quit
// only ends the program; the next launch shows every overlay in the stored colour.
TEST_F(MenuEntryTest, ToggleFlipsEachOverlayADisplayNoticeShowsNewOnesAndQuitOnlyTerminates) {
    auto& desktop = launch(kTwo);
    const auto before = overlays();
    ASSERT_TRUE(desktop.chooseStatusMenuEntry("Toggle Show/Hide"));
    EXPECT_EQ(visibility(), (std::vector{false, false}));
    EXPECT_TRUE(desktop.click({10.0, 10.0}).reachedDesktop);
    desktop.chooseStatusMenuEntry("Pick Color...");
    desktop.pickColorInPanel(kGreen);

    desktop.chooseStatusMenuEntry("Toggle Show/Hide");
    EXPECT_EQ(visibility(), (std::vector{true, true}));
    EXPECT_EQ(overlays(), before);
    EXPECT_EQ(overlayColors(), std::vector(2, kGreen));
    overlays()[1]->orderOut(nullptr);
    desktop.chooseStatusMenuEntry("Toggle Show/Hide");
    EXPECT_EQ(visibility(), (std::vector{false, true}));
    desktop.postScreenParametersChanged();
    EXPECT_EQ(ofOverlays(&OverlayWindow::frame), kTwo);
    EXPECT_EQ(visibility(), (std::vector{true, true}));
    EXPECT_EQ(overlayColors(), std::vector(2, kGreen));
    EXPECT_EQ(desktop.windows().size(), 2u);
    EXPECT_EQ(desktop.windowsDestroyed(), 2u) << "an overlay was reused";

    desktop.clearJournal();
    ASSERT_TRUE(desktop.chooseStatusMenuEntry("Quit"));
    EXPECT_TRUE(desktop.isTerminated());
    EXPECT_EQ(desktop.journal(), std::vector<std::string>{"terminate"});
    launch();
    EXPECT_EQ(visibility(), std::vector{true});
    EXPECT_EQ(overlayColors(), std::vector{kGreen});
}

// Activated first, then made once: centred, key and in front; later choices bring back the
// same window where the user left it.
TEST_F(MenuEntryTest, AboutOpensOneWindowInFrontAndReusesIt) {
    auto& desktop = launch();
    const auto openAbout = [&] {
        desktop.activateOtherApplication();
        ASSERT_TRUE(desktop.chooseStatusMenuEntry("About Vellumor"));
        ASSERT_NE(about(), nullptr);
        EXPECT_TRUE(desktop.isActive());
        EXPECT_EQ(desktop.keyWindow(), about());
        EXPECT_EQ(desktop.windowsFrontToBack().front(), about());
    };
    openAbout();
    Window* first = about();
    const Rect frame = first->frame();
    EXPECT_DOUBLE_EQ(frame.x + frame.width / 2.0, kPrimary.width / 2.0);
    EXPECT_DOUBLE_EQ(frame.y + frame.height / 2.0, kPrimary.height / 2.0);
    EXPECT_EQ(desktop.click({frame.x + 5.0, frame.y + 5.0}).window, first);
    EXPECT_LT(desktop.journalIndex("activateIgnoringOtherApps").value(),
              desktop.journalIndex("createWindow #2").value());
    EXPECT_EQ(aboutLine(1), "Vellumor");
    EXPECT_NE(aboutLine(3).find("Vellumor"), std::string::npos);

    const std::size_t windows = desktop.windows().size();
    ASSERT_TRUE(desktop.dragWindow(*first, {40.0, 60.0}));
    desktop.clickCloseButton(*first);
    EXPECT_FALSE(first->isVisible());
    openAbout();
    EXPECT_EQ(about(), first);
    EXPECT_EQ(desktop.windows().size(), windows);
    EXPECT_EQ(std::pair(first->frame().x, first->frame().y), std::pair(40.0, 60.0));
}

// Only a string build date is shown; the icon falls back to the app symbol, then to nothing.
TEST_F(MenuEntryTest, AboutShowsAStringBuildDateAndFallsBackForTheIcon) {
    const auto openAbout = [&](const Setup& setup) {
        launch({kPrimary}, setup).chooseStatusMenuEntry("About Vellumor");
    };
    for (const auto& [date, line] :
         std::vector<std::pair<std::optional<PropertyValue>, std::string>>{
             {std::nullopt, "Build Unknown"},
             {PropertyValue{std::int64_t{20261206}}, "Build Unknown"},
             {PropertyValue{std::string("Dec  6 2026")}, "Build Dec  6 2026"}}) {
        openAbout([&](auto& platform) { platform.setInfoDictionaryValue("BuildDate", date); });
        EXPECT_EQ(aboutLine(2), line);
    }

    const auto appIcon = std::make_shared<const Image>("vellumor-icon", "Vellumor");
    openAbout([&](auto& platform) { platform.setApplicationIcon(appIcon); });
    EXPECT_EQ(aboutIcon(), appIcon);
    openAbout({});
    ASSERT_NE(aboutIcon(), nullptr);
    EXPECT_EQ(aboutIcon()->name(), "app.fill");
    openAbout([](auto& platform) { platform.setSystemSymbolAvailable("app.fill", false); });
    EXPECT_EQ(aboutIcon(), nullptr);
}

}  // namespace
}  // namespace vellumor::testing
