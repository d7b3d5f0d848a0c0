#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Object.h"

namespace platform {

// One entry of a menu (NSMenuItem): a titled command or a separator.
class MenuItem final : public Object {
public:
    // A separator line.
    static std::unique_ptr<MenuItem> separatorItem();
    // A titled entry that sends `action` when chosen; `keyEquivalent` is its keyboard
    // shortcut, the empty string for none.
    MenuItem(std::string title, Selector action, std::string keyEquivalent);

    const std::string& title() const { return title_; }
    const Selector& action() const { return action_; }
    const std::string& keyEquivalent() const { return keyEquivalent_; }
    bool isSeparatorItem() const { return separator_; }
    // Aims the action at `target` (not owned); with none, the action goes up the
    // responder chain.
    void setTarget(Object* target);
    Object* target() const { return target_.get(); }
    // Whether the entry can be chosen now: menus enable their entries automatically, so
    // exactly when something answers its action.
    bool isEnabled() const;

private:
    MenuItem() = default;
    std::string title_;
    Selector action_;
    std::string keyEquivalent_;
    bool separator_ = false;
    WeakObjectRef target_;
};

// A menu (NSMenu): an ordered list of entries.
class Menu final : public Object {
public:
    Menu() = default;
    // Appends a titled entry and gives it back (owned by the menu).
    MenuItem& addItemWithTitle(const std::string& title, const Selector& action,
                               const std::string& keyEquivalent);
    // Appends `item`; the menu owns it.
    void addItem(std::unique_ptr<MenuItem> item);
    // The entries, top to bottom.
    const std::vector<std::unique_ptr<MenuItem>>& itemArray() const { return items_; }
    // Chooses the entry at `index` as the user would: an enabled entry sends its action to
    // its target or up the responder chain, with the entry as sender. Whether it was sent.
    bool performActionForItemAtIndex(std::size_t index);

private:
    std::vector<std::unique_ptr<MenuItem>> items_;
};

}  // namespace platform
