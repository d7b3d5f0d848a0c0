#include "platform/headless/HeadlessWindow.h"

#include "platform/Screen.h"
#include "platform/headless/HeadlessPlatform.h"

namespace platform::headless {

HeadlessWindow::HeadlessWindow(HeadlessPlatform& platform, Window& owner, Rect frame,
                               std::size_t number)
    : platform_(platform), owner_(owner), frame_(frame), number_(number) {}

HeadlessWindow::~HeadlessWindow() {
    platform_.record("destroy " + tag());
    platform_.windowDestroyed(this);
}

void HeadlessWindow::backgroundColorChanged() {
    platform_.record("setBackgroundColor " + tag());
}

void HeadlessWindow::levelChanged() {
    platform_.record("setLevel " + tag() + " " + std::to_string(owner_.level()));
    if (visible_) {
        platform_.bringToFront(this);
    }
}

void HeadlessWindow::collectionBehaviorChanged() {
    platform_.record("setCollectionBehavior " + tag() + " " +
                     std::to_string(owner_.collectionBehavior()));
}

void HeadlessWindow::ignoresMouseEventsChanged() {
    platform_.record("setIgnoresMouseEvents " + tag() + " " +
                     (owner_.ignoresMouseEvents() ? "YES" : "NO"));
}

void HeadlessWindow::decorationChanged() {
    platform_.record("decoration " + tag());
}

void HeadlessWindow::contentViewChanged() {
    platform_.record("setContentView " + tag());
}

void HeadlessWindow::orderFront(bool makeKey) {
    platform_.record((makeKey ? "makeKeyAndOrderFront " : "orderFront ") + tag());
    visible_ = true;
    closed_ = false;
    platform_.bringToFront(this);
    if (makeKey && owner_.canBecomeKey()) {
        platform_.key_ = this;
        if (owner_.canBecomeMain()) {
            platform_.main_ = this;
        }
    }
}

void HeadlessWindow::orderOut() {
    platform_.record("orderOut " + tag());
    visible_ = false;
    platform_.removeFromStack(this);
}

void HeadlessWindow::close() {
    platform_.record("close " + tag());
    visible_ = false;
    closed_ = true;
    platform_.removeFromStack(this);
}

void HeadlessWindow::center() {
    platform_.record("center " + tag());
    const auto screens = Screen::screens();
    if (screens.empty()) {
        return;
    }
    const Rect area = screens.front().frame();
    place({area.x + (area.width - frame_.width) / 2.0, area.y + (area.height - frame_.height) / 2.0,
           frame_.width, frame_.height});
}

void HeadlessWindow::place(Rect frame) {
    const auto screens = Screen::screens();
    const Screen* screen = screens.empty() ? nullptr : &screens.front();
    frame_ = owner_.constrainFrameRect(frame, screen);
}

}  // namespace platform::headless
