#pragma once

#include <memory>

#include "platform/Image.h"
#include "platform/Menu.h"

namespace platform {

class PlatformStatusItem;

// The item is as wide as its content (NSVariableStatusItemLength).
inline constexpr double NSVariableStatusItemLength = -1.0;

// The clickable face of a status item (NSStatusBarButton).
class StatusBarButton final {
public:
    explicit StatusBarButton(PlatformStatusItem& item) : item_(item) {}
    // Shows `image` on the button; null shows none.
    void setImage(std::shared_ptr<const Image> image);

private:
    PlatformStatusItem& item_;
};

// The program's item in the system status bar or tray (NSStatusItem). It stays there for as
// long as the program holds it.
class StatusItem final {
public:
    explicit StatusItem(std::unique_ptr<PlatformStatusItem> item);
    ~StatusItem();
    StatusItem(const StatusItem&) = delete;
    StatusItem& operator=(const StatusItem&) = delete;

    // The item's button, or null when the platform gives the item none.
    StatusBarButton* button() const { return button_.get(); }
    // From now on a click on the item opens `menu`; the item owns it.
    void setMenu(std::unique_ptr<Menu> menu);
    Menu* menu() const { return menu_.get(); }

private:
    std::unique_ptr<Menu> menu_;
    std::unique_ptr<PlatformStatusItem> platformItem_;
    std::unique_ptr<StatusBarButton> button_;
};

// The desktop's status bar or tray (NSStatusBar).
class StatusBar final {
public:
    // The system's status bar.
    static StatusBar& systemStatusBar();
    // A new item of width `length` (NSVariableStatusItemLength: as wide as its content),
    // or null when the platform has no place for one.
    std::unique_ptr<StatusItem> statusItemWithLength(double length);
};

}  // namespace platform
