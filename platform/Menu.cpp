#include "platform/Menu.h"

#include "platform/Application.h"

namespace platform {

std::unique_ptr<MenuItem> MenuItem::separatorItem() {
    std::unique_ptr<MenuItem> item(new MenuItem());
    item->separator_ = true;
    return item;
}

MenuItem::MenuItem(std::string title, Selector action, std::string keyEquivalent)
    : title_(std::move(title)),
      action_(std::move(action)),
      keyEquivalent_(std::move(keyEquivalent)) {}

void MenuItem::setTarget(Object* target) {
    target_ = weakRefTo(target);
}

bool MenuItem::isEnabled() const {
    if (separator_ || action_.empty()) {
        return false;
    }
    return Application::sharedApplication().targetForAction(action_, target_.get()) != nullptr;
}

MenuItem& Menu::addItemWithTitle(const std::string& title, const Selector& action,
                                 const std::string& keyEquivalent) {
    addItem(std::make_unique<MenuItem>(title, action, keyEquivalent));
    return *items_.back();
}

void Menu::addItem(std::unique_ptr<MenuItem> item) {
    items_.push_back(std::move(item));
}

bool Menu::performActionForItemAtIndex(std::size_t index) {
    if (index >= items_.size()) {
        return false;
    }
    MenuItem& item = *items_[index];
    if (!item.isEnabled()) {
        return false;
    }
    return Application::sharedApplication().sendAction(item.action(), item.target(), &item);
}

}  // namespace platform
