#include "main/AboutWindow.h"

#include <memory>
#include <string>

#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/Image.h"
#include "platform/LayoutConstraint.h"

namespace vellumor {

using namespace platform;

namespace {
constexpr Rect kContentRect{0.0, 0.0, 300.0, 320.0};
constexpr const char* kCopyright = "Copyright \u00A9 2026 The Vellumor authors";

// The build date written into the bundle information at build time, when it is a string.
std::string buildDate() {
    const auto value = Bundle::mainBundle().objectForInfoDictionaryKey("BuildDate");
    if (value && std::holds_alternative<std::string>(*value)) {
        return std::get<std::string>(*value);
    }
    return "Unknown";
}

std::unique_ptr<TextField> label(const std::string& text, double size, double weight,
                                 const Color& color) {
    auto field = TextField::labelWithString(text);
    field->setFont(Font::systemFontOfSize(size, weight));
    field->setTextColor(color);
    return field;
}
}  // namespace

AboutWindow::AboutWindow()
    : Window(kContentRect,
             NSWindowStyleMaskTitled | NSWindowStyleMaskClosable |
                 NSWindowStyleMaskFullSizeContentView,
             NSBackingStoreType::NSBackingStoreBuffered, false) {
    setTitlebarAppearsTransparent(true);
    setTitle("");
    setMovableByWindowBackground(true);
    // Closing only hides the window: the delegate shows the same one again.
    setReleasedWhenClosed(false);
    center();

    auto background = std::make_unique<VisualEffectView>(kContentRect);
    background->setMaterial(NSVisualEffectMaterial::NSVisualEffectMaterialHUDWindow);
    background->setState(NSVisualEffectState::NSVisualEffectStateActive);
    background->setAutoresizingMask(NSViewWidthSizable | NSViewHeightSizable);
    VisualEffectView& container = *background;
    setContentView(std::move(background));
    setupUI(container);
}

void AboutWindow::setupUI(View& container) {
    auto stack = std::make_unique<StackView>();
    stack->setOrientation(
        NSUserInterfaceLayoutOrientation::NSUserInterfaceLayoutOrientationVertical);
    stack->setAlignment(NSLayoutAttribute::CenterX);
    stack->setSpacing(16.0);
    stack->setTranslatesAutoresizingMaskIntoConstraints(false);
    StackView& column = *stack;
    container.addSubview(std::move(stack));
    LayoutConstraint::activateConstraints({
        column.centerXAnchor().constraintEqualToAnchor(container.centerXAnchor()),
        column.centerYAnchor().constraintEqualToAnchor(container.centerYAnchor()),
    });

    auto icon = Application::sharedApplication().applicationIconImage();
    if (!icon) {
        icon = Image::imageWithSystemSymbolName("app.fill", "App Icon");
    }
    // The icon keeps its 96-point place even with no image, so the layout never shifts.
    auto iconView = std::make_unique<ImageView>();
    iconView->setImage(icon);
    iconView->setImageScaling(NSImageScaling::NSImageScaleProportionallyUpOrDown);
    iconView->setTranslatesAutoresizingMaskIntoConstraints(false);
    LayoutConstraint::activateConstraints({
        iconView->widthAnchor().constraintEqualToConstant(96.0),
        iconView->heightAnchor().constraintEqualToConstant(96.0),
    });
    column.addArrangedSubview(std::move(iconView));

    column.addArrangedSubview(label("Vellumor", 24.0, NSFontWeightBold, Color::labelColor()));
    column.addArrangedSubview(
        label("Build " + buildDate(), 13.0, NSFontWeightMedium, Color::secondaryLabelColor()));
    column.addArrangedSubview(
        label(kCopyright, 11.0, NSFontWeightRegular, Color::tertiaryLabelColor()));
}

}  // namespace vellumor
