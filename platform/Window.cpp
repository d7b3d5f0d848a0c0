#include "platform/Window.h"

#include <algorithm>

#include "platform/PlatformIntegration.h"
#include "platform/Screen.h"
#include "platform/View.h"

namespace platform {

namespace {
// The platform's window background colour, a light grey.
Color defaultWindowBackground() {
    return Color::colorWithCalibratedWhite(0.925, 1.0);
}
}  // namespace

Window::Window(Rect contentRect, std::uint64_t styleMask, NSBackingStoreType /*backing*/,
               bool /*defer*/)
    : styleMask_(styleMask), backgroundColor_(defaultWindowBackground()) {
    platformWindow_ = platformIntegration().createWindow(*this, contentRect);
}

Window::~Window() = default;

bool Window::canBecomeKey() const {
    return (styleMask_ & NSWindowStyleMaskTitled) != 0;
}

bool Window::canBecomeMain() const {
    return canBecomeKey();
}

Rect Window::constrainFrameRect(Rect frameRect, const Screen* screen) const {
    return platformWindow_->constrainFrameRect(frameRect, screen, styleMask_);
}

Rect PlatformWindow::constrainFrameRect(Rect frameRect, const Screen* screen,
                                        std::uint64_t styleMask) const {
    if (screen == nullptr || (styleMask & NSWindowStyleMaskTitled) == 0) {
        return frameRect;
    }
    // Keep the title bar reachable: the window's top edge may not rise above the screen's.
    const Rect area = screen->frame();
    const double top = frameRect.y + frameRect.height;
    const double areaTop = area.y + area.height;
    if (top > areaTop) {
        frameRect.y -= top - areaTop;
    }
    return frameRect;
}

Rect Window::frame() const {
    return platformWindow_->frame();
}

void Window::setBackgroundColor(const Color& color) {
    backgroundColor_ = color;
    platformWindow_->backgroundColorChanged();
}

void Window::setLevel(WindowLevel level) {
    level_ = level;
    platformWindow_->levelChanged();
}

void Window::setCollectionBehavior(std::uint64_t behavior) {
    collectionBehavior_ = behavior;
    platformWindow_->collectionBehaviorChanged();
}

void Window::setIgnoresMouseEvents(bool ignores) {
    ignoresMouseEvents_ = ignores;
    platformWindow_->ignoresMouseEventsChanged();
}

void Window::orderFront(Object* /*sender*/) {
    platformWindow_->orderFront(false);
}

void Window::orderOut(Object* /*sender*/) {
    platformWindow_->orderOut();
}

void Window::makeKeyAndOrderFront(Object* /*sender*/) {
    platformWindow_->orderFront(true);
}

bool Window::isVisible() const {
    return platformWindow_->isVisible();
}

void Window::close() {
    platformWindow_->close();
}

void Window::setTitlebarAppearsTransparent(bool transparent) {
    titlebarAppearsTransparent_ = transparent;
    platformWindow_->decorationChanged();
}

void Window::setTitle(const std::string& title) {
    title_ = title;
    platformWindow_->decorationChanged();
}

void Window::setMovableByWindowBackground(bool movable) {
    movableByWindowBackground_ = movable;
    platformWindow_->decorationChanged();
}

void Window::center() {
    platformWindow_->center();
}

void Window::setContentView(std::unique_ptr<View> view) {
    if (view) {
        const Rect content = platformWindow_->frame();
        view->setFrame({0.0, 0.0, content.width, content.height});
        view->window_ = this;
    }
    if (contentView_) {
        contentView_->window_ = nullptr;
    }
    contentView_ = std::move(view);
    platformWindow_->contentViewChanged();
}

}  // namespace platform
