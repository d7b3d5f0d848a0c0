#include <gtest/gtest.h>

#include "platform/View.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {
namespace {

using namespace platform;

class AboutWindowTest : public ProgramTest {
protected:
    Window* about() const { return delegate().aboutWindowController(); }

    // The stack inside the About window's content view.
    const StackView& column() const {
        const View* content = about()->contentView();
        EXPECT_NE(content, nullptr);
        EXPECT_EQ(content->subviews().size(), 1u);
        return dynamic_cast<const StackView&>(*content->subviews().front());
    }
    const TextField& labelAt(std::size_t index) const {
        return dynamic_cast<const TextField&>(*column().arrangedSubviews().at(index));
    }
    const ImageView& iconView() const {
        return dynamic_cast<const ImageView&>(*column().arrangedSubviews().at(0));
    }
    std::string buildLine(std::optional<PropertyValue> buildDate) {
        auto& desktop = launch({kPrimary}, [&](auto& platform) {
            platform.setInfoDictionaryValue("BuildDate", buildDate);
        });
        desktop.chooseStatusMenuEntry("About Vellumor");
        return labelAt(2).stringValue();
    }
};

TEST_F(AboutWindowTest, FirstOpenActivatesAndShowsACentredKeyWindowInFrontLaterOnesReuseIt) {
    auto& desktop = launch({kPrimary}, [](auto& platform) {
        platform.setInfoDictionaryValue("BuildDate", std::string("first"));
    });
    desktop.activateOtherApplication();
    EXPECT_EQ(about(), nullptr);

    ASSERT_TRUE(desktop.chooseStatusMenuEntry("About Vellumor"));
    Window* first = about();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(desktop.isActive());
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(desktop.keyWindow(), first);
    EXPECT_EQ(desktop.windowsFrontToBack().front(), first);
    // Drawn above the overlay: a click on it reaches the About window.
    const Rect frame = first->frame();
    EXPECT_DOUBLE_EQ(frame.x + frame.width / 2.0, kPrimary.width / 2.0);
    EXPECT_DOUBLE_EQ(frame.y + frame.height / 2.0, kPrimary.height / 2.0);
    EXPECT_EQ(desktop.click({frame.x + 5.0, frame.y + 5.0}).window, first);
    EXPECT_EQ(first->level(), NSNormalWindowLevel);
    // Untitled, closable and movable by its background, but neither resizable nor minimisable.
    EXPECT_EQ(first->styleMask(), 0x8003u);
    EXPECT_EQ(first->title(), "");
    EXPECT_TRUE(first->titlebarAppearsTransparent());
    EXPECT_TRUE(first->isMovableByWindowBackground());
    const auto activation = desktop.journalIndex("activateIgnoringOtherApps");
    const auto creation = desktop.journalIndex("createWindow #2");
    ASSERT_TRUE(activation && creation);
    EXPECT_LT(*activation, *creation);

    // Chosen again, open or closed: the same window, where the user left it, with the
    // content it was built with.
    desktop.setInfoDictionaryValue("BuildDate", std::string("second"));
    const std::size_t windowsWithAbout = desktop.windows().size();
    desktop.chooseStatusMenuEntry("About Vellumor");
    EXPECT_EQ(about(), first);
    EXPECT_EQ(desktop.windows().size(), windowsWithAbout);
    ASSERT_TRUE(desktop.dragWindow(*first, {40.0, 60.0}));
    desktop.clickCloseButton(*first);
    EXPECT_FALSE(first->isVisible());
    desktop.activateOtherApplication();

    desktop.chooseStatusMenuEntry("About Vellumor");
    EXPECT_EQ(about(), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(desktop.keyWindow(), first);
    EXPECT_DOUBLE_EQ(first->frame().x, 40.0);
    EXPECT_DOUBLE_EQ(first->frame().y, 60.0);
    EXPECT_EQ(labelAt(2).stringValue(), "Build first");
}

TEST_F(AboutWindowTest, ShowsIconNameBuildAndCopyrightInOneCentredColumn) {
    auto& desktop = launch({kPrimary}, [](auto& platform) {
        platform.setInfoDictionaryValue("BuildDate", std::string("2026-12-06 14:00"));
    });
    desktop.chooseStatusMenuEntry("About Vellumor");

    const auto* content = dynamic_cast<const VisualEffectView*>(about()->contentView());
    ASSERT_NE(content, nullptr);
    EXPECT_EQ(content->material(), NSVisualEffectMaterial::NSVisualEffectMaterialHUDWindow);
    EXPECT_EQ(content->state(), NSVisualEffectState::NSVisualEffectStateActive);
    EXPECT_EQ(content->autoresizingMask(), 18u);

    const StackView& stack = column();
    EXPECT_EQ(stack.orientation(),
              NSUserInterfaceLayoutOrientation::NSUserInterfaceLayoutOrientationVertical);
    EXPECT_EQ(stack.alignment(), NSLayoutAttribute::CenterX);
    ASSERT_EQ(stack.arrangedSubviews().size(), 4u);
    // Centred in the window, and tied to nothing else.
    ASSERT_EQ(stack.constraints().size(), 2u);
    EXPECT_EQ(stack.constraints()[0]->secondItem(), content);
    EXPECT_EQ(stack.constraints()[0]->firstAttribute(), NSLayoutAttribute::CenterX);
    EXPECT_EQ(stack.constraints()[1]->secondItem(), content);
    EXPECT_EQ(stack.constraints()[1]->firstAttribute(), NSLayoutAttribute::CenterY);

    const struct {
        std::string text;
        double size;
        double weight;
        Color colour;
    } expected[] = {
        {"Vellumor", 24.0, NSFontWeightBold, Color::labelColor()},
        {"Build 2026-12-06 14:00", 13.0, NSFontWeightMedium, Color::secondaryLabelColor()},
        {"", 11.0, NSFontWeightRegular, Color::tertiaryLabelColor()},
    };
    for (std::size_t index = 0; index < 3; ++index) {
        const TextField& label = labelAt(index + 1);
        if (!expected[index].text.empty()) {
            EXPECT_EQ(label.stringValue(), expected[index].text);
        }
        EXPECT_EQ(label.font(),
                  Font::systemFontOfSize(expected[index].size, expected[index].weight));
        EXPECT_EQ(label.textColor(), expected[index].colour);
        EXPECT_FALSE(label.isEditable());
        EXPECT_FALSE(label.isSelectable());
    }
    EXPECT_NE(labelAt(3).stringValue().find("Vellumor"), std::string::npos);
    EXPECT_EQ(labelAt(3).stringValue().find('\n'), std::string::npos);
}

TEST_F(AboutWindowTest, TheBuildLineShowsOnlyAStringBuildDate) {
    EXPECT_EQ(buildLine(std::nullopt), "Build Unknown");
    EXPECT_EQ(buildLine(std::int64_t{20261206}), "Build Unknown");
    EXPECT_EQ(buildLine(3.5), "Build Unknown");
    EXPECT_EQ(buildLine(std::chrono::system_clock::now()), "Build Unknown");
    EXPECT_EQ(buildLine(std::string()), "Build ");
    EXPECT_EQ(buildLine(std::string("Dec  6 2026")), "Build Dec  6 2026");
}

TEST_F(AboutWindowTest, TheIconFallsBackToTheAppSymbolThenToAnEmptyPlace) {
    const auto appIcon = std::make_shared<const Image>("vellumor-icon", "Vellumor");
    auto& withIcon =
        launch({kPrimary}, [&](auto& platform) { platform.setApplicationIcon(appIcon); });
    withIcon.chooseStatusMenuEntry("About Vellumor");
    EXPECT_EQ(iconView().image(), appIcon);

    auto& withSymbol = launch();
    withSymbol.chooseStatusMenuEntry("About Vellumor");
    ASSERT_NE(iconView().image(), nullptr);
    EXPECT_EQ(iconView().image()->name(), "app.fill");
    EXPECT_EQ(iconView().image()->accessibilityDescription(), "App Icon");

    auto& withNothing = launch(
        {kPrimary}, [](auto& platform) { platform.setSystemSymbolAvailable("app.fill", false); });
    withNothing.chooseStatusMenuEntry("About Vellumor");
    EXPECT_EQ(iconView().image(), nullptr);
    ASSERT_EQ(iconView().constraints().size(), 2u);
    EXPECT_DOUBLE_EQ(iconView().constraints()[0]->constant(), 96.0);
    EXPECT_DOUBLE_EQ(iconView().constraints()[1]->constant(), 96.0);
    EXPECT_EQ(iconView().constraints()[1]->firstAttribute(), NSLayoutAttribute::Height);
    EXPECT_EQ(column().arrangedSubviews().size(), 4u);
}

}  // namespace
}  // namespace vellumor::testing
