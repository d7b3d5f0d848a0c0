#include "platform/StatusBar.h"

#include "platform/Runtime.h"

namespace platform {

void StatusBarButton::setImage(std::shared_ptr<const Image> image) {
    item_.setImage(image);
}

StatusItem::StatusItem(std::unique_ptr<PlatformStatusItem> item) : platformItem_(std::move(item)) {
    if (platformItem_->hasButton()) {
        button_ = std::make_unique<StatusBarButton>(*platformItem_);
    }
}

// The platform item goes before the menu it shows (members are destroyed in reverse order).
StatusItem::~StatusItem() = default;

void StatusItem::setMenu(std::unique_ptr<Menu> menu) {
    platformItem_->setMenu(menu.get());
    menu_ = std::move(menu);
}

StatusBar& StatusBar::systemStatusBar() {
    return runtime().statusBar;
}

std::unique_ptr<StatusItem> StatusBar::statusItemWithLength(double length) {
    auto item = platformIntegration().createStatusItem(length);
    if (!item) {
        return nullptr;
    }
    return std::make_unique<StatusItem>(std::move(item));
}

}  // namespace platform
