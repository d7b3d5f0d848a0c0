#include "main/OverlayWindow.h"

#include "main/ColorManager.h"
#include "platform/NotificationCenter.h"
#include "platform/WindowLevel.h"

namespace vellumor {

using namespace platform;

OverlayWindow::OverlayWindow(const Screen& screen)
    : Window(screen.frame(), NSWindowStyleMaskBorderless,
             NSBackingStoreType::NSBackingStoreBuffered, false) {
    setBackgroundColor(ColorManager::shared().currentColor());
    // Computed in 64 bits, so that one above the window server's level cannot overflow.
    const WindowLevel desktopIconLevel =
        CGWindowLevelForKey(WindowLevelKey::kCGDesktopIconWindowLevelKey);
    setLevel(desktopIconLevel + 1);
    setCollectionBehavior(NSWindowCollectionBehaviorCanJoinAllSpaces |
                          NSWindowCollectionBehaviorStationary |
                          NSWindowCollectionBehaviorIgnoresCycle);
    setIgnoresMouseEvents(false);

    addMethod("colorDidChange", [this](Object*) { colorDidChange(); });
    NotificationCenter::defaultCenter().addObserver(*this, "colorDidChange",
                                                    notification::colorDidChange, nullptr);
}

Rect OverlayWindow::constrainFrameRect(Rect frameRect, const Screen* /*screen*/) const {
    return frameRect;
}

void OverlayWindow::colorDidChange() {
    setBackgroundColor(ColorManager::shared().currentColor());
}

}  // namespace vellumor
