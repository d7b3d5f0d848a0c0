#include "platform/View.h"

#include "platform/PlatformIntegration.h"

namespace platform {

View::View() = default;

View::View(Rect frame) : frame_(frame) {}

View::~View() = default;

void View::addSubview(std::unique_ptr<View> view) {
    view->superview_ = this;
    subviews_.push_back(std::move(view));
    if (Window* owner = window()) {
        owner->platformWindow().contentTreeChanged();
    }
}

Window* View::window() const {
    const View* root = this;
    while (root->superview_ != nullptr) {
        root = root->superview_;
    }
    return root->window_;
}

void View::setTranslatesAutoresizingMaskIntoConstraints(bool translates) {
    translatesMask_ = translates;
}

void StackView::addArrangedSubview(std::unique_ptr<View> view) {
    arranged_.push_back(view.get());
    addSubview(std::move(view));
}

std::unique_ptr<TextField> TextField::labelWithString(const std::string& text) {
    return std::unique_ptr<TextField>(new TextField(text));
}

TextField::TextField(std::string text) : text_(std::move(text)), textColor_(Color::labelColor()) {}

}  // namespace platform
