#pragma once

#include "platform/Screen.h"
#include "platform/Window.h"

namespace vellumor {

// A borderless window that covers one display edge to edge with the overlay colour, one
// level above the desktop icons: it hides the desktop picture and icons while every ordinary
// window, the Dock and the menu bar stay above it. It is on every Space, never takes focus,
// and takes the clicks that land on it.
class OverlayWindow final : public platform::Window {
public:
    // A hidden overlay covering exactly `screen`'s frame, in the current colour, already
    // following colour changes. The caller shows it.
    explicit OverlayWindow(const platform::Screen& screen);

    bool canBecomeKey() const override { return false; }
    bool canBecomeMain() const override { return false; }
    // The overlay keeps exactly the rectangle it is given, menu-bar strip included.
    platform::Rect constrainFrameRect(platform::Rect frameRect,
                                      const platform::Screen* screen) const override;

private:
    void colorDidChange();
};

}  // namespace vellumor
