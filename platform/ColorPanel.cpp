#include "platform/ColorPanel.h"

#include "platform/Application.h"
#include "platform/Runtime.h"

namespace platform {

ColorPanel& ColorPanel::sharedColorPanel() {
    Runtime& shared = runtime();
    if (!shared.colorPanel) {
        shared.colorPanel = std::make_unique<ColorPanel>();
    }
    return *shared.colorPanel;
}

ColorPanel::ColorPanel() : color_(Color::colorWithCalibratedWhite(1.0, 1.0)) {}

void ColorPanel::setColor(const Color& color) {
    color_ = color;
    platformIntegration().colorPanel(*this).setColor(color);
}

void ColorPanel::setTarget(Object* target) {
    target_ = weakRefTo(target);
}

void ColorPanel::orderFront(Object* /*sender*/) {
    platformIntegration().colorPanel(*this).orderFront();
}

void ColorPanel::userDidPickColor(const Color& color) {
    color_ = color;
    // Like the platform's panel, nothing is sent while no target and action are set.
    if (Object* target = target_.get(); target != nullptr && !action_.empty()) {
        Application::sharedApplication().sendAction(action_, target, this);
    }
}

}  // namespace platform
